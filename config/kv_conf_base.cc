#include "config/kv_conf_base.h"

#include "platform/file_system.h"

namespace config {

KVConfBase::KVConfBase(std::string_view confFileName, GetConfValueFunction getConfValue)
    : ConfFileName_(confFileName),
      NativeFileName_(platform::NativePath(confFileName)),
      GetConfValue_(getConfValue) {}

std::string KVConfBase::AskLibrary(std::string_view key) const {
  const char* answer = GetConfValue_(NativeFileName_.c_str(), std::string(key).c_str());
  return answer == nullptr ? std::string() : std::string(answer);
}

}  // namespace config
