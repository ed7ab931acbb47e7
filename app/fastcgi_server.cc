#include "app/fastcgi_server.h"

#include <errno.h>
#include <fcgiapp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cgi_application.h"
#include "app/cgi_program.h"
#include "platform/exception.h"
#include "platform/raw_output.h"

namespace app {

namespace {

// The failure of a system call on the named file, with the reason errno gives.
[[noreturn]] void FailOn(const char* name) {
  throw platform::Exception("EOSError", std::string(name) + ": " + std::strerror(errno));
}

// A file held in memory: the body handed to the CGI entry routine as its input and the
// response it writes, so that the routine reads and writes plain file descriptors
// exactly as in a CGI process. Raises Exception EOSError when none can be made.
int MemoryFile(const char* name) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) FailOn(name);
  return fd;
}

// Copies the request's body to a memory file and rewinds it. Raises Exception EOSError
// when the memory file cannot hold it.
int BodyFile(FCGX_Request& request) {
  constexpr const char* kName = "liraweb-body";
  const int fd = MemoryFile(kName);
  char buffer[16384];
  int got;
  while ((got = FCGX_GetStr(buffer, sizeof buffer, request.in)) > 0) {
    if (!platform::WriteAll(fd, std::string_view(buffer, static_cast<std::size_t>(got)))) {
      close(fd);
      FailOn(kName);
    }
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// Sends everything written to fd as the response and ends the request.
void SendResponseFile(FCGX_Request& request, int fd) {
  lseek(fd, 0, SEEK_SET);
  char buffer[16384];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) FCGX_PutStr(buffer, static_cast<int>(got), request.out);
  }
  close(fd);
  FCGX_Finish_r(&request);
}

// Answers the request with the 500 response for error.
void AnswerServerError(FCGX_Request& request, const platform::Exception& error) {
  try {
    const int fd = MemoryFile("liraweb-response");
    TCGIApplication(-1, fd).WriteServerError(error);
    SendResponseFile(request, fd);
  } catch (const platform::Exception&) {
    // Without even a memory file the connection is closed unanswered: the web server
    // then reports the failure to the client itself.
    FCGX_Finish_r(&request);
  }
}

// The child's work: the request's variables over the process environment (copied,
// because the library frees its own when the request ends), then the CGI entry routine.
// A body or response that cannot be held is answered with the 500 response.
void ServeInChild(FCGX_Request& request, const TWebModuleClass& moduleClass) {
  for (char** entry = request.envp; *entry; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (!equals) continue;
    const std::string name(*entry, static_cast<std::size_t>(equals - *entry));
    setenv(name.c_str(), equals + 1, 1);
  }
  int bodyFd = -1;
  try {
    bodyFd = BodyFile(request);
    const int responseFd = MemoryFile("liraweb-response");
    RunCGIProgram(moduleClass, bodyFd, responseFd);
    close(bodyFd);
    SendResponseFile(request, responseFd);
  } catch (const platform::Exception& error) {
    if (bodyFd >= 0) close(bodyFd);
    AnswerServerError(request, error);
  }
}

// Lets go of the parent's copy of the connection without ending the request, which
// the child answers and ends.
void ReleaseConnection(FCGX_Request& request) {
  const int connection = request.ipcFd;
  FCGX_Free(&request, 0);
  close(connection);
  request.ipcFd = -1;
}

}  // namespace

bool IsFastCGIListener(int fd) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

int RunFastCGIServer(const TWebModuleClass& moduleClass, int listenFd) {
  // A client that goes away must not end the server; the children set their own.
  signal(SIGPIPE, SIG_IGN);
  if (FCGX_Init() != 0) return 0;
  FCGX_Request request;
  if (FCGX_InitRequest(&request, listenFd, 0) != 0) return 0;
  while (FCGX_Accept_r(&request) >= 0) {
    const pid_t child = fork();
    if (child == 0) {
      ServeInChild(request, moduleClass);
      std::exit(0);
    }
    if (child < 0) {
      AnswerServerError(
          request, platform::Exception("EOSError", std::string("fork: ") + std::strerror(errno)));
      continue;
    }
    ReleaseConnection(request);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return 0;
}

int RunWebProgram(TWebModuleClass moduleClass) {
  if (IsFastCGIListener(0)) return RunFastCGIServer(moduleClass);
  return RunCGIProgram(std::move(moduleClass));
}

}  // namespace app
