#include "tests/support/fastcgi_client.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/raw_output.h"

namespace test_support {

namespace {

// Record types of the protocol (version 1).
enum : unsigned char {
  kBeginRequest = 1,
  kEndRequest = 3,
  kParams = 4,
  kStdin = 5,
  kStdout = 6,
  kStderr = 7,
};
constexpr int kRequestId = 1;
constexpr std::size_t kLargestContent = 65535;

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// Appends one record, or as many as the content needs; empty content makes one empty
// record, which ends a stream.
void AppendRecords(std::string& out, unsigned char type, std::string_view content) {
  do {
    const std::size_t length = std::min(content.size(), kLargestContent);
    const unsigned char header[8] = {1,
                                     type,
                                     0,
                                     kRequestId,
                                     static_cast<unsigned char>(length >> 8),
                                     static_cast<unsigned char>(length & 0xFF),
                                     0,
                                     0};
    out.append(reinterpret_cast<const char*>(header), sizeof header);
    out.append(content.substr(0, length));
    content.remove_prefix(length);
  } while (!content.empty());
}

void AppendLength(std::string& out, std::size_t length) {
  if (length < 128) {
    out.push_back(static_cast<char>(length));
    return;
  }
  out.push_back(static_cast<char>(0x80 | ((length >> 24) & 0x7F)));
  out.push_back(static_cast<char>((length >> 16) & 0xFF));
  out.push_back(static_cast<char>((length >> 8) & 0xFF));
  out.push_back(static_cast<char>(length & 0xFF));
}

bool ReadExactly(int fd, char* buffer, std::size_t count) {
  while (count > 0) {
    const ssize_t got = read(fd, buffer, count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

FastCGIProcess::FastCGIProcess(const std::string& program, const std::string& workingDirectory,
                               const std::map<std::string, std::string>& environment) {
  char pattern[] = "/tmp/fastcgi_test_XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a socket folder");
  socketDirectory_ = pattern;
  socketPath_ = socketDirectory_ + "/socket";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un address = SocketAddress(socketPath_);
  if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) ||
      listen(listener, 64)) {
    throw std::runtime_error("cannot listen on " + socketPath_);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, listener, 0);
  posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string argument0 = program;
  char* argv[] = {argument0.data(), nullptr};
  const int spawnError = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(listener);
  if (spawnError != 0) {
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawnError));
  }
}

FastCGIProcess::~FastCGIProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  unlink(socketPath_.c_str());
  rmdir(socketDirectory_.c_str());
}

FastCGIAnswer FastCGIProcess::Request(const std::map<std::string, std::string>& variables,
                                      const std::string& body) {
  return SendFastCGIRequest(socketPath_, variables, body);
}

FastCGIAnswer SendFastCGIRequest(const std::string& socketPath,
                                 const std::map<std::string, std::string>& variables,
                                 const std::string& body) {
  const int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = SocketAddress(socketPath);
  if (connection < 0 ||
      connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (connection >= 0) close(connection);
    throw std::runtime_error("cannot connect to " + socketPath);
  }
  std::string out;
  // Role 1 (responder), flags 0: the server closes the connection after the request.
  AppendRecords(out, kBeginRequest, std::string_view("\0\1\0\0\0\0\0\0", 8));
  std::string params;
  for (const auto& [name, value] : variables) {
    AppendLength(params, name.size());
    AppendLength(params, value.size());
    params += name + value;
  }
  if (!params.empty()) AppendRecords(out, kParams, params);
  AppendRecords(out, kParams, "");
  if (!body.empty()) AppendRecords(out, kStdin, body);
  AppendRecords(out, kStdin, "");
  platform::WriteAll(connection, out);

  FastCGIAnswer answer;
  char header[8];
  while (!answer.ended && ReadExactly(connection, header, sizeof header)) {
    const auto type = static_cast<unsigned char>(header[1]);
    const std::size_t length =
        (static_cast<unsigned char>(header[4]) << 8) | static_cast<unsigned char>(header[5]);
    std::string content(length + static_cast<unsigned char>(header[6]), '\0');
    if (!ReadExactly(connection, content.data(), content.size())) break;
    content.resize(length);
    if (type == kStdout) answer.output += content;
    if (type == kStderr) answer.errors += content;
    if (type == kEndRequest) answer.ended = true;
  }
  close(connection);
  return answer;
}

long FastCGIProcess::ResidentKilobytes() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace test_support
