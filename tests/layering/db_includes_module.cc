// Probe of the include layering: see CMakeLists.txt in this folder.
#include "module/main_mod.h"
