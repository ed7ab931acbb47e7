// Probe of the include layering: see CMakeLists.txt in this folder.
#include "config/kv_lira_web_conf.h"
