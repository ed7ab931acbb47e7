#include "platform/plugin.h"

#include <dlfcn.h>

#include "platform/program_file.h"

namespace platform {

void* PluginEntry(std::string_view file, const char* symbol, std::string& reason) {
  const std::string besideProgram = ProgramFolder() + std::string(file);
  void* plugin = dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!plugin) plugin = dlopen(std::string(file).c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = plugin ? dlsym(plugin, symbol) : nullptr;
  if (!entry) {
    const char* error = dlerror();
    reason = error ? error : "";
  }
  return entry;
}

}  // namespace platform
