// Test helper run as several processes at once, like the program from a folder that
// holds it beside libkvconf.so: loads liraweb.conf of the given folder, waits there
// until a file named "go" appears, then appends the given number of entries to its
// Error.txt, each through its own log object as the program does. The label is the
// DB_ALIAS setting followed by the writer id.
// Usage: error_log_writer <folder> <writer id> <entry count>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "config/error_log.h"
#include "config/lira_web_conf_loader.h"
#include "platform/exception.h"

using namespace platform;
using namespace config;

int main(int argc, char** argv) {
  if (argc != 4 || ::chdir(argv[1]) != 0) return 2;
  const std::string writer = argv[2];
  const int count = std::stoi(argv[3]);
  try {
    std::string label;
    LoadLiraWebConf("liraweb.conf")->GetString("DB_ALIAS", label);
    label += writer;
    while (::access("go", F_OK) != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    for (int entry = 0; entry < count; ++entry) {
      WriteErrorLogEntry(label,
                         "entry " + std::to_string(entry) + " of writer " + writer + ", whole");
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName().c_str(), e.Message().c_str());
    return 1;
  }
  return 0;
}
