// The CGI program: serves the one request of this process with the catalogue module.
#include "app/cgi_program.h"
#include "app/web_application.h"
#include "module/main_mod.h"

int main() { return RunCGIProgram(ModuleClassOf<TMainMod>()); }
