// Time as the program reads it: a monotonic millisecond tick for measuring how long
// a search took, and the wall clock for dating log entries.
#pragma once

#include <cstdint>

namespace clock_layer {

// Milliseconds since an arbitrary fixed point; never goes backwards.
std::uint64_t TickCount();

}  // namespace clock_layer
