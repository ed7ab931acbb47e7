// A FastCGI program run the way a FastCGI server runs it: started once with a listening
// Unix socket as its standard input, then sent requests one after another over new
// connections, each answer read whole. The records are written here from the protocol,
// independent of the library the program uses.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace test_support {

struct FastCGIAnswer {
  std::string output;  // the STDOUT stream: what a CGI run writes to standard output
  std::string errors;  // the STDERR stream
  bool ended = false;  // the program sent its end-of-request record
};

// Sends one responder request with the variables and body to the FastCGI program
// listening on the Unix socket and reads until the program ends the request or closes
// the connection. Throws std::runtime_error when it cannot connect.
FastCGIAnswer SendFastCGIRequest(const std::string& socketPath,
                                 const std::map<std::string, std::string>& variables,
                                 const std::string& body = "");

class FastCGIProcess {
 public:
  // Starts program in workingDirectory with exactly the environment given. Throws
  // std::runtime_error when the socket or the process cannot be made.
  FastCGIProcess(const std::string& program, const std::string& workingDirectory,
                 const std::map<std::string, std::string>& environment);
  // Ends the process (SIGTERM) and removes the socket.
  ~FastCGIProcess();
  FastCGIProcess(const FastCGIProcess&) = delete;
  FastCGIProcess& operator=(const FastCGIProcess&) = delete;

  // Sends one responder request with the variables and body and reads until the program
  // ends the request or closes the connection. Throws std::runtime_error when it cannot
  // connect.
  FastCGIAnswer Request(const std::map<std::string, std::string>& variables,
                        const std::string& body = "");

  // The resident memory of the process in kilobytes (VmRSS), -1 when it has ended.
  long ResidentKilobytes() const;

  pid_t Pid() const { return pid_; }

 private:
  std::string socketPath_;
  std::string socketDirectory_;
  pid_t pid_ = -1;
};

}  // namespace test_support
