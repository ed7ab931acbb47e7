// The program started by a FastCGI server (lighttpd's mod_fastcgi, Apache's mod_fcgid,
// spawn-fcgi): it stays alive and answers request after request. Each request is served
// by a child forked for it, which runs the CGI entry routine on the request's variables
// and body, so every answer is the CGI answer byte for byte and nothing one request
// leaves behind (a module, an open database, a half-finished statement) reaches the next.
#pragma once

#include "app/web_application.h"

namespace app {

// True when fd is a listening socket, as a FastCGI server hands its program on standard
// input; false for a pipe, a file, a terminal or a connected socket (a CGI run).
bool IsFastCGIListener(int fd);

// Accepts requests on listenFd until the server closes it or the process is told to end.
// For each one, a child sets the request's variables in its environment (over those
// of the process), runs RunCGIProgram with the body as its input and sends what it
// wrote as the response; the parent waits for the child before taking the next request.
// A request whose child cannot be started is answered with the 500 response. Returns 0.
int RunFastCGIServer(const TWebModuleClass& moduleClass, int listenFd = 0);

// The entry routine of a program that may be started either way: RunFastCGIServer when
// standard input is a listening socket, RunCGIProgram otherwise. Returns the exit code.
int RunWebProgram(TWebModuleClass moduleClass);

}  // namespace app
