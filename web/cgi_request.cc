#include "web/cgi_request.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/raw_output.h"

namespace web {

using platform::WriteAll;

namespace {

// Environment names by variable index; rvContent has none (it is the body).
constexpr const char* kVariableNames[kRequestVariableCount] = {
    "REQUEST_METHOD",
    "SERVER_PROTOCOL",
    "URL",
    "QUERY_STRING",
    "PATH_INFO",
    "PATH_TRANSLATED",
    "HTTP_CACHE_CONTROL",
    "HTTP_DATE",
    "HTTP_ACCEPT",
    "HTTP_FROM",
    "HTTP_HOST",
    "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",
    "HTTP_USER_AGENT",
    "HTTP_CONTENT_ENCODING",
    "HTTP_CONTENT_TYPE",
    "HTTP_CONTENT_LENGTH",
    "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",
    "HTTP_EXPIRES",
    "HTTP_TITLE",
    "REMOTE_ADDR",
    "REMOTE_HOST",
    "SCRIPT_NAME",
    "SERVER_PORT",
    nullptr,
    "HTTP_CONNECTION",
    "HTTP_COOKIE",
    "HTTP_AUTHORIZATION",
};

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

TCGIRequest::TCGIRequest(int inputFd, int outputFd) : InputFd_(inputFd), OutputFd_(outputFd) {
  ReadRequestHead();
}

std::string TCGIRequest::VariableText(int index) const {
  if (index == rvContent) return Content();
  if (index < 0 || index >= kRequestVariableCount) return {};
  const std::string_view name = kVariableNames[index];
  std::string value = EnvironmentText(name.data());
  // A server may pass CONTENT_LENGTH, CONTENT_TYPE or HOST without the HTTP_ prefix.
  constexpr std::string_view kPrefix = "HTTP_";
  if (value.empty() && name.starts_with(kPrefix)) {
    value = EnvironmentText(name.substr(kPrefix.size()).data());
  }
  return value;
}

std::string TCGIRequest::ReadBody(std::int32_t count) {
  if (count <= 0) return {};
  // The buffer is sized by what one read can return, not by the announced length,
  // which the client chooses: a file returns what is left of it, a pipe or socket at
  // most what the kernel holds, far below kLargestRead.
  constexpr std::size_t kLargestRead = 1 << 20;
  std::size_t capacity = std::min<std::size_t>(static_cast<std::size_t>(count), kLargestRead);
  struct stat info;
  if (fstat(InputFd_, &info) == 0 && S_ISREG(info.st_mode)) {
    const off_t offset = lseek(InputFd_, 0, SEEK_CUR);
    const off_t left = offset < 0 ? info.st_size : std::max<off_t>(info.st_size - offset, 0);
    capacity =
        std::min<std::size_t>(static_cast<std::size_t>(count), static_cast<std::size_t>(left));
  }
  std::string body(capacity, '\0');
  ssize_t got;
  do {
    got = read(InputFd_, body.data(), capacity);
  } while (got < 0 && errno == EINTR);
  body.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return body;
}

bool TCGIRequest::WriteText(std::string_view text) { return WriteAll(OutputFd_, text); }

}  // namespace web
