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
// next. `environ` points at entries held here while the request runs: the process's own,
// split and sorted by name once, and copies of the request's; setenv is not used because
// it never frees a value it replaced, and every request brings new ones (QUERY_STRING),
// which would grow the process request by request.
class RequestEnvironment {
 public:
  RequestEnvironment() {
    std::vector<std::string_view> entries;
    for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
    for (const std::string_view entry : ByName(entries)) processEntries_.emplace_back(entry);
  }
  RequestEnvironment(const RequestEnvironment&) = delete;
  RequestEnvironment& operator=(const RequestEnvironment&) = delete;

  // Makes the process's variables overlaid by requestEntries ("NAME=VALUE", null-ended)
  // the environment, in the order of their names, and lets the time functions read TZ
  // again.
  void Enter(char** requestEntries) {
    std::vector<std::string_view> request;
    for (char** entry = requestEntries; *entry; ++entry) request.emplace_back(*entry);
    request = ByName(request);
    requestEntries_.assign(request.begin(), request.end());
    pointers_.clear();
    auto processEntry = processEntries_.begin();
    for (std::string& entry : requestEntries_) {
      for (; processEntry != processEntries_.end() && Name(*processEntry) < Name(entry);
           ++processEntry) {
        pointers_.push_back(processEntry->data());
      }
      if (processEntry != processEntries_.end() && Name(*processEntry) == Name(entry)) {
        ++processEntry;
      }
      pointers_.push_back(entry.data());
    }
    for (; processEntry != processEntries_.end(); ++processEntry) {
      pointers_.push_back(processEntry->data());
    }
    pointers_.push_back(nullptr);
    environ = pointers_.data();
    tzset();
  }

 private:
  // The name of an entry "NAME=VALUE".
  static std::string_view Name(std::string_view entry) { return entry.substr(0, entry.find('=')); }

  // The entries that hold a "=", sorted by name, the last of each name kept.
  static std::vector<std::string_view> ByName(std::vector<std::string_view> entries) {
    std::erase_if(entries,
                  [](std::string_view entry) { return entry.find('=') == std::string_view::npos; });
    std::stable_sort(entries.begin(), entries.end(),
                     [](std::string_view a, std::string_view b) { return Name(a) < Name(b); });
    std::vector<std::string_view> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i + 1 == entries.size() || Name(entries[i + 1]) != Name(entries[i])) {
        kept.push_back(entries[i]);
      }
    }
    return kept;
  }

  std::vector<std::string> processEntries_;  // sorted by name, one a name
  std::vector<std::string> requestEntries_;  // the request's, sorted by name, one a name
  std::vector<char*> pointers_;              // what environ points at
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
