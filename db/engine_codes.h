// The database engine's own error codes. Each has a Japanese text in the engine
// (engine.cc); a failure carries one of them with the entries of its error stack.
#pragma once

#include <cstdint>

namespace db {

inline constexpr std::uint16_t kErrConfigInvalid = 0x2101;
inline constexpr std::uint16_t kErrDriverLoad = 0x2102;
inline constexpr std::uint16_t kErrUnknownAlias = 0x2501;
inline constexpr std::uint16_t kErrCannotOpen = 0x2502;
inline constexpr std::uint16_t kErrCountRefused = 0x2C01;
// Any failure the database itself reports: the stack entries carry its messages.
inline constexpr std::uint16_t kErrSql = 0x2EC4;
// The answer of the start-up entry when the engine already runs; counts as success.
inline constexpr std::uint16_t kErrAlreadyStarted = 0x2F01;
inline constexpr std::uint16_t kErrNotStarted = 0x2F02;

}  // namespace db
