// Probe of the include layering: see CMakeLists.txt in this folder.
#include "module/main_mod.h"
#include "module/japanese_texts.h"
#include "app/web_module.h"
#include "web/page_producer.h"
#include "db/query.h"
#include "config/error_log.h"
#include "kvconf/kvconf.h"
#include "platform/japanese_texts.h"
