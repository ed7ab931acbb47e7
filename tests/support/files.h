// Whole-file reads and writes of raw bytes, for test inputs and the files a program
// under test leaves behind.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

// Writes bytes as the whole content of the file, creating its missing parent folders.
// Throws std::runtime_error when the file cannot be written.
void WriteBytes(const std::string& path, std::string_view bytes);

// The whole content of the file; empty when it does not exist.
std::string ReadWholeFile(const std::string& path);

}  // namespace test_support
