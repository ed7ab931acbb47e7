// Probe of the include layering: see CMakeLists.txt in this folder.
#include "db/postgres/postgres_server_text.h"
