#include "db/postgres/postgres_deadline.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "db/engine_codes.h"
#include "db/postgres/postgres_session.h"
#include "platform/japanese_texts.h"

namespace db::postgres {

namespace {

// How long a cancel request may take to reach the server before the connection is
// dropped anyway: libpq waits for the server's (or a stopped pooler's) answer without a
// limit, so the request is sent from a thread of its own that is not waited for longer.
constexpr std::chrono::milliseconds kCancelWait{300};

}  // namespace

void FailOutOfTime(std::uint16_t code) {
  throw DriverError{
      code, {{code, SqlStateCode("57014"), std::string(platform::texts::kDbeTimeLimitExceeded)}}};
}

std::optional<short> AwaitSocket(int socket, short events,
                                 const std::optional<Clock::time_point>& deadline,
                                 std::uint16_t code) {
  pollfd watched{socket, events, 0};
  while (true) {
    int wait = -1;
    if (deadline) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      wait = static_cast<int>(std::min<long long>(left, 60'000));
    }
    const int ready = poll(&watched, 1, wait);
    if (ready > 0) return watched.revents;
    if (ready < 0 && errno != EINTR) throw DriverError{code, {{code, errno, std::strerror(errno)}}};
  }
}

void CancelRunning(PGconn* connection) {
  PGcancel* cancel = PQgetCancel(connection);
  if (!cancel) return;
  auto sent = std::make_shared<std::promise<void>>();
  std::future<void> done = sent->get_future();
  std::thread([cancel, sent] {
    char error[256];
    PQcancel(cancel, error, sizeof error);  // unsent, the server's statement_timeout ends it
    PQfreeCancel(cancel);
    sent->set_value();
  }).detach();
  done.wait_for(kCancelWait);
}

}  // namespace db::postgres
