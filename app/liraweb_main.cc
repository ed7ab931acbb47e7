// The CGI program: serves the one request of this process with the catalogue module.
#include "app/cgi_program.h"
#include "app/web_application.h"
#include "module/main_mod.h"

using app::ModuleClassOf;
using app::RunCGIProgram;
using module::TMainMod;

int main() { return RunCGIProgram(ModuleClassOf<TMainMod>()); }
