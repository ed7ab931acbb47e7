#include "app/fastcgi_server.h"

#include <errno.h>
#include <fcgiapp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/cgi_application.h"
#include "app/cgi_program.h"
#include "platform/exception.h"
#include "platform/raw_output.h"
#include "platform/request_end.h"

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

// Empties a memory file kept from the request before. Raises Exception EOSError.
void Empty(int fd, const char* name) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) FailOn(name);
}

// The memory files a request is served with, made at the first request and kept.
struct RequestFiles {
  int body = -1;
  int response = -1;
  bool bodyEmpty = true;  // the body file holds no byte, as after a GET
};

// A response file that grew past this many bytes is emptied after its request, so that
// one large answer does not hold its memory for the rest of the process; a smaller one
// is written over by the next request, which spares emptying it.
constexpr off_t kKeptResponseBytes = 1 << 20;

// Copies the request's body to the body file and rewinds it; the file holds exactly the
// body, as a CGI process's standard input would. Raises Exception EOSError when the
// memory file cannot hold it.
void CopyBody(FCGX_Request& request, RequestFiles& files) {
  constexpr const char* kName = "liraweb-body";
  if (!files.bodyEmpty) Empty(files.body, kName);
  files.bodyEmpty = true;
  char buffer[16384];
  int got;
  while ((got = FCGX_GetStr(buffer, sizeof buffer, request.in)) > 0) {
    files.bodyEmpty = false;
    if (!platform::WriteAll(files.body, std::string_view(buffer, static_cast<std::size_t>(got)))) {
      FailOn(kName);
    }
  }
  lseek(files.body, 0, SEEK_SET);
}

// Sends the first length bytes of fd as the response and ends the request.
void SendResponseFile(FCGX_Request& request, int fd, off_t length) {
  lseek(fd, 0, SEEK_SET);
  char buffer[16384];
  while (length > 0) {
    const ssize_t got = read(fd, buffer, std::min<off_t>(length, sizeof buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    FCGX_PutStr(buffer, static_cast<int>(got), request.out);
    length -= got;
  }
  FCGX_Finish_r(&request);
}

// Answers the request with the 500 response for error.
void AnswerServerError(FCGX_Request& request, const platform::Exception& error) {
  try {
    const int fd = MemoryFile("liraweb-response");
    TCGIApplication(-1, fd).WriteServerError(error);
    SendResponseFile(request, fd, lseek(fd, 0, SEEK_CUR));
    close(fd);
  } catch (const platform::Exception&) {
    // Without even a memory file the connection is closed unanswered: the web server
    // then reports the failure to the client itself.
    FCGX_Finish_r(&request);
  }
}

// The environment a request is served in: the variables the process was started with,
// and over them the request's, so that a variable of one request is never seen by the
// next. The entries are held here and `environ` points at them while the request runs;
// setenv is not used because it never frees a value it replaced, and every request brings
// new ones (QUERY_STRING), which would grow the process request by request.
class RequestEnvironment {
 public:
  RequestEnvironment() {
    for (char** entry = environ; *entry; ++entry) processEntries_.emplace_back(*entry);
  }
  RequestEnvironment(const RequestEnvironment&) = delete;
  RequestEnvironment& operator=(const RequestEnvironment&) = delete;

  // Makes the process's variables overlaid by requestEntries ("NAME=VALUE", null-ended)
  // the environment, and lets the time functions read TZ again.
  void Enter(char** requestEntries) {
    std::map<std::string_view, std::string_view> byName;
    auto add = [&byName](std::string_view entry) {
      const std::size_t equals = entry.find('=');
      if (equals != std::string_view::npos) byName[entry.substr(0, equals)] = entry;
    };
    for (const std::string& entry : processEntries_) add(entry);
    for (char** entry = requestEntries; *entry; ++entry) add(*entry);
    std::vector<std::string> entries;
    entries.reserve(byName.size());
    for (const auto& [name, entry] : byName) entries.emplace_back(entry);
    entries_ = std::move(entries);
    pointers_.clear();
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
    environ = pointers_.data();
    tzset();
  }

 private:
  std::vector<std::string> processEntries_;
  std::vector<std::string> entries_;  // the entries environ points at
  std::vector<char*> pointers_;
};

// Serves one request in this process: the CGI entry routine reads the body from one
// memory file and writes the response to the other from its start; what it wrote is
// then sent. A body or response that cannot be held is answered with the 500 response.
void Serve(FCGX_Request& request, const TWebModuleClass& moduleClass, RequestFiles& files) {
  constexpr const char* kResponse = "liraweb-response";
  try {
    if (files.body < 0) files.body = MemoryFile("liraweb-body");
    if (files.response < 0) files.response = MemoryFile(kResponse);
    CopyBody(request, files);
    if (lseek(files.response, 0, SEEK_SET) != 0) FailOn(kResponse);
    RunCGIProgram(moduleClass, files.body, files.response);
    const off_t written = lseek(files.response, 0, SEEK_CUR);
    if (written < 0) FailOn(kResponse);
    SendResponseFile(request, files.response, written);
    if (written > kKeptResponseBytes) Empty(files.response, kResponse);
  } catch (const platform::Exception& error) {
    AnswerServerError(request, error);
  }
}

}  // namespace

bool IsFastCGIListener(int fd) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

int RunFastCGIServer(const TWebModuleClass& moduleClass, int listenFd) {
  // A client that goes away must not end the server.
  signal(SIGPIPE, SIG_IGN);
  if (FCGX_Init() != 0) return 0;
  FCGX_Request request;
  if (FCGX_InitRequest(&request, listenFd, 0) != 0) return 0;
  platform::MarkServingManyRequests();
  RequestEnvironment environment;
  RequestFiles files;
  while (FCGX_Accept_r(&request) >= 0) {
    environment.Enter(request.envp);
    Serve(request, moduleClass, files);
    // What the request kept (its databases) is checked, and closed when it is unfit,
    // only after its answer has gone.
    platform::RunRequestEndHooks();
  }
  return 0;
}

int RunWebProgram(TWebModuleClass moduleClass) {
  if (IsFastCGIListener(0)) return RunFastCGIServer(moduleClass);
  return RunCGIProgram(std::move(moduleClass));
}

}  // namespace app
