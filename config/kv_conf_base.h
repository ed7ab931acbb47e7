// The abstract configuration reader: it holds the path of the configuration file and
// asks the configuration library for values, one key at a time. A concrete reader
// knows its program's keys, their types and their initial values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kvconf/kvconf.h"

namespace config {

// The library's lookup operation. The program uses _GetConfValue; tests hand in a
// function of the same shape to watch the calls.
using GetConfValueFunction = const char* (*)(const char* path, const char* key);

class KVConfBase {
 public:
  // Keeps confFileName (the program's form, "\" as folder separator) for every lookup.
  explicit KVConfBase(std::string_view confFileName,
                      GetConfValueFunction getConfValue = &_GetConfValue);
  virtual ~KVConfBase() = default;
  KVConfBase(const KVConfBase&) = delete;
  KVConfBase& operator=(const KVConfBase&) = delete;

  // Asks the library for key once and stores the answer in the member that holds key.
  virtual void ReadValue(std::string_view key) = 0;
  // Copies the text member that holds key into out; any other key leaves out untouched.
  virtual void GetString(std::string_view key, std::string& out) const = 0;
  // Copies the integer member that holds key into out; any other key leaves out untouched.
  virtual void GetInteger(std::string_view key, std::int32_t& out) const = 0;
  // Copies the character member that holds key into out; any other key leaves out untouched.
  virtual void GetChar(std::string_view key, char& out) const = 0;

  // The configuration file path as it was given.
  const std::string& ConfFileName() const { return ConfFileName_; }

 protected:
  // The library's answer for key, copied at once; empty text when it has none. The path
  // goes to the library in the operating system's form: the library is a plain POSIX
  // library that opens what it is given, and the file layer is the one place that
  // knows how the program's paths map to the system's.
  std::string AskLibrary(std::string_view key) const;

 private:
  std::string ConfFileName_;
  std::string NativeFileName_;  // ConfFileName_ in the operating system's form
  GetConfValueFunction GetConfValue_;
};

}  // namespace config
