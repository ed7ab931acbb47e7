#include "tests/support/child_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/raw_output.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace platform;

namespace test_support {

namespace {

// Both ends of a pipe, each closed at most once; an end never opened is -1.
class Pipe {
 public:
  Pipe() = default;
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    CloseReadEnd();
    CloseWriteEnd();
  }

  void Open() {
    if (pipe2(ends_, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  }
  int ReadEnd() const { return ends_[0]; }
  int WriteEnd() const { return ends_[1]; }
  void CloseReadEnd() { CloseEnd(ends_[0]); }
  void CloseWriteEnd() { CloseEnd(ends_[1]); }

 private:
  static void CloseEnd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int ends_[2] = {-1, -1};
};

}  // namespace

ChildResult RunChild(const ChildRun& run) {
  // Files rather than pipes unless the run asks for one: the child can write any amount
  // without the parent reading while it runs, and the input is there whole before the
  // child starts.
  TempDir streams("child_streams_");
  const std::string inPath = streams / "in", outPath = streams / "out", errPath = streams / "err";
  WriteBytes(inPath, run.input);
  Pipe input, output;
  if (run.inputThroughPipe) input.Open();
  if (run.outputClosed) {
    output.Open();
    output.CloseReadEnd();
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (run.inputThroughPipe) {
    posix_spawn_file_actions_adddup2(&actions, input.ReadEnd(), 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  }
  if (run.outputClosed) {
    posix_spawn_file_actions_adddup2(&actions, output.WriteEnd(), 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  if (!run.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, run.workingDirectory.c_str());
  }

  std::vector<std::string> arguments = {run.program};
  arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> entries;
  for (const auto& [name, value] : run.variables) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // An ignored SIGPIPE would be inherited; the child must meet the default action.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  pid_t child = 0;
  const int spawnError =
      posix_spawn(&child, run.program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawnError != 0) {
    throw std::runtime_error("cannot start " + run.program + ": " + std::strerror(spawnError));
  }
  input.CloseReadEnd();
  output.CloseWriteEnd();
  std::thread feeder;
  if (run.inputThroughPipe) {
    feeder = std::thread([&input, &run] {
      // A child that stops reading makes the write fail with EPIPE instead of a signal.
      sigset_t pipeSignal;
      sigemptyset(&pipeSignal);
      sigaddset(&pipeSignal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
      (void)WriteAll(input.WriteEnd(), run.input);
      input.CloseWriteEnd();
    });
  }
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (feeder.joinable()) feeder.join();
  if (waited < 0) throw std::runtime_error("cannot wait for " + run.program);
  ChildResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.output = ReadWholeFile(outPath);
  result.errors = ReadWholeFile(errPath);
  return result;
}

}  // namespace test_support
