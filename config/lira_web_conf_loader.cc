#include "config/lira_web_conf_loader.h"

#include <string>

#include "config/error_log.h"
#include "platform/file_system.h"
#include "platform/japanese_texts.h"

namespace config {

std::unique_ptr<KVLiraWebConf> LoadLiraWebConf(std::string_view fileName,
                                               GetConfValueFunction getConfValue) {
  std::string path(fileName);
  if (!platform::FileExists(path)) {
    path = "Conf\\" + path;
    if (!platform::FileExists(path)) {
      WriteErrorLogEntry("Configuration", std::string(platform::texts::kConfigFileMissingHead) +
                                              path +
                                              std::string(platform::texts::kConfigFileMissingTail));
    }
  }
  auto conf = std::make_unique<KVLiraWebConf>(path, getConfValue);
  for (std::string_view key : {"DB_ALIAS", "EXEC_NAME", "QUERY_PATH", "HTML_PATH", "LIST_MAX",
                               "KINTAI", "ABS_PATH", "AC_LIMIT"}) {
    conf->ReadValue(key);
  }
  return conf;
}

}  // namespace config
