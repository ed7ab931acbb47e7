// A monotonic millisecond tick, for measuring how long a search took and how long to
// wait for the error log's lock. The wall clock that dates log entries is read by the
// error log itself (CurrentLocalTime in config/error_log.h).
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary fixed point; never goes backwards.
std::uint64_t TickCount();

}  // namespace platform
