// Probe of the include layering: see CMakeLists.txt in this folder.
#include "db/query.h"
#include "platform/exception.h"
