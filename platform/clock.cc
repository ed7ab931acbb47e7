#include "platform/clock.h"

#include <chrono>

namespace platform {

std::uint64_t TickCount() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace platform
