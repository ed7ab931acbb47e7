// The loading sequence of the configuration, run once per process by the web module.
#pragma once

#include <memory>
#include <string_view>

#include "config/kv_lira_web_conf.h"

namespace config {

// Finds fileName in the current directory, else in its subdirectory Conf; when neither
// exists, writes the "Configuration" entry into the error log (naming the Conf path)
// and goes on with that path. Then creates the reader and reads the eight keys in the
// order DB_ALIAS, EXEC_NAME, QUERY_PATH, HTML_PATH, LIST_MAX, KINTAI, ABS_PATH,
// AC_LIMIT. Raises what writing the log entry raises.
std::unique_ptr<KVLiraWebConf> LoadLiraWebConf(std::string_view fileName,
                                               GetConfValueFunction getConfValue = &_GetConfValue);

}  // namespace config
