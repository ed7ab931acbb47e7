// The catalogue program: serves the one request of a CGI process, or request after request
// when a FastCGI server started it.
#include "app/fastcgi_server.h"
#include "app/web_application.h"
#include "module/main_mod.h"

using app::ModuleClassOf;
using app::RunWebProgram;
using module::TMainMod;

int main() { return RunWebProgram(ModuleClassOf<TMainMod>()); }
