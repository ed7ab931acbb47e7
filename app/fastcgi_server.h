// The program started by a FastCGI server (lighttpd's mod_fastcgi, Apache's mod_fcgid,
// spawn-fcgi): it stays alive and answers request after request in this one process. Each
// request runs the CGI entry routine on the request's variables and body, so every answer
// is the CGI answer byte for byte: a new application object and module for each (settings
// and templates are read again), the environment made anew, and what the database engine
// keeps between requests (its open databases) checked after each (db/engine.h).
#pragma once

#include "app/web_application.h"

namespace app {

// True when fd is a listening socket, as a FastCGI server hands its program on standard
// input; false for a pipe, a file, a terminal or a connected socket (a CGI run).
bool IsFastCGIListener(int fd);

// Accepts requests on listenFd until the server closes it or the process is told to end.
// For each one, sets the request's variables as the environment (over those the process
// was started with), runs RunCGIProgram with the body as its input, sends what it wrote
// as the response, and then runs the request-end hooks (platform/request_end.h). A
// request whose body or response cannot be held is answered with the 500 response.
// Returns 0.
int RunFastCGIServer(const TWebModuleClass& moduleClass, int listenFd = 0);

// The entry routine of a program that may be started either way: RunFastCGIServer when
// standard input is a listening socket, RunCGIProgram otherwise. Returns the exit code.
int RunWebProgram(TWebModuleClass moduleClass);

}  // namespace app
