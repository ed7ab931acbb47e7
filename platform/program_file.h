// Where the running program file is: its links, its start-up report and the plug-ins
// it loads from its own folder all need it.
#pragma once

#include <string>

namespace platform {

// The full path of the running program file, as the operating system reports it.
std::string ProgramPath();

// The file name of the running program, without its folder.
std::string ProgramFileName();

// The folder of the running program file, ending in "/".
std::string ProgramFolder();

}  // namespace platform
