// Probe of the include layering: see CMakeLists.txt in this folder.
#include "db/driver.h"
