// Every error the program raises carries the name of its class and a message. The
// 500 response shows both; the error log and the error page show the message.
#pragma once

#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception {
 public:
  Exception(std::string className, std::string message)
      : ClassName_(std::move(className)), Message_(std::move(message)) {}

  const std::string& ClassName() const { return ClassName_; }
  const std::string& Message() const { return Message_; }
  const char* what() const noexcept override { return Message_.c_str(); }

 private:
  std::string ClassName_;
  std::string Message_;
};

// A text that should have been a number was not one.
class EConvertError : public Exception {
 public:
  explicit EConvertError(std::string message)
      : Exception("EConvertError", std::move(message)) {}
};

// A file could not be opened.
class EFOpenError : public Exception {
 public:
  explicit EFOpenError(std::string message) : Exception("EFOpenError", std::move(message)) {}
};

// A file could not be created.
class EFCreateError : public Exception {
 public:
  explicit EFCreateError(std::string message)
      : Exception("EFCreateError", std::move(message)) {}
};

}  // namespace platform
