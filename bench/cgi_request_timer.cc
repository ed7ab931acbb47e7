// One whole CGI request timed from the start of the process to its end, for benchmark
// scripts: a shell's own start-up and clock reading would add more than the program
// itself takes.
//
// Usage: cgi_request_timer SITE PATH_INFO QUERY_STRING [PAGE_FILE]
// Runs SITE/cgi-bin/liraweb, prints the wall time in microseconds, then its processor
// time (user and system; on a busy machine the steadier figure), and writes the
// response to PAGE_FILE when one is given.
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>

#include "bench/cgi_child.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: %s SITE PATH_INFO QUERY_STRING [PAGE_FILE]\n", argv[0]);
    return 2;
  }
  try {
    const auto started = std::chrono::steady_clock::now();
    const CgiChildRun run = RunCgiRequest(argv[1], argv[2], argv[3], argc == 5);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    std::printf("%lld %ld\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()),
                run.cpuMicros);
    if (argc == 5) std::ofstream(argv[4], std::ios::binary) << run.output;
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", argv[0], failure.what());
    return 1;
  }
}
