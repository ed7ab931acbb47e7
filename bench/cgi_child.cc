#include "bench/cgi_child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

CgiChildRun RunCgiRequest(const std::string& site, const std::string& pathInfo,
                          const std::string& query, bool keepOutput,
                          const std::string& programPath) {
  const std::string cgiBin = site + "/cgi-bin";
  std::vector<std::string> variables = {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET",
                                        "HTTP_HOST=127.0.0.1",      "SCRIPT_NAME=/cgi-bin/liraweb",
                                        "PATH_INFO=" + pathInfo,    "QUERY_STRING=" + query};
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (keepOutput && pipe(pipeEnds) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (keepOutput) {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addchdir_np(&actions, cgiBin.c_str());
  const std::string program = programPath.empty() ? cgiBin + "/liraweb" : programPath;
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t child;
  const int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed) throw std::runtime_error("cannot start " + program);
  CgiChildRun run;
  if (keepOutput) {
    close(pipeEnds[1]);
    char buffer[65536];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
      run.output.append(buffer, n);
    close(pipeEnds[0]);
  }
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("request failed");
  run.peakKib = usage.ru_maxrss;
  for (const timeval& time : {usage.ru_utime, usage.ru_stime})
    run.cpuMicros += static_cast<long>(time.tv_sec) * 1000000 + time.tv_usec;
  return run;
}
