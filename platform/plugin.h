// Plug-ins: shared libraries a request loads only when it needs them (the PostgreSQL
// driver, the CQL parser), so that the program's start-up does not pay for them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The address of the entry symbol of the plug-in file, loaded from the program's folder,
// else by the system's search for libraries; stays loaded until the process ends.
// nullptr when neither loads or the symbol is missing, with the loader's reason.
void* PluginEntry(std::string_view file, const char* symbol, std::string& reason);

}  // namespace platform
