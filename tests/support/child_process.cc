#include "tests/support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace test_support {

ChildResult RunChild(const ChildRun& run) {
  // Files rather than pipes: the child can write any amount without the parent reading
  // while it runs, and the input is there whole before the child starts.
  TempDir streams("child_streams_");
  const std::string inPath = streams / "in", outPath = streams / "out", errPath = streams / "err";
  WriteBytes(inPath, run.input);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
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

  pid_t child = 0;
  const int spawnError =
      posix_spawn(&child, run.program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    throw std::runtime_error("cannot start " + run.program + ": " + std::strerror(spawnError));
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("cannot wait for " + run.program);
  }
  ChildResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.output = ReadWholeFile(outPath);
  result.errors = ReadWholeFile(errPath);
  return result;
}

}  // namespace test_support
