// The request's deadline on a PostgreSQL connection: waiting on the socket only up to it,
// and the failure thrown when it has passed.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <optional>

namespace db::postgres {

using Clock = std::chrono::steady_clock;

// Throws the time-limit failure as `code`, numbered as the server's own cancelling of a
// statement is.
[[noreturn]] void FailOutOfTime(std::uint16_t code);

// Waits until `socket` is ready for one of `events` (poll flags) and gives the flags that
// are; nullopt when the deadline (if any) comes first. Throws `code` when poll() fails.
std::optional<short> AwaitSocket(int socket, short events,
                                 const std::optional<Clock::time_point>& deadline,
                                 std::uint16_t code);

// Asks the server to cancel the command running on the connection, waiting for the
// request to be sent only a short while.
void CancelRunning(PGconn* connection);

}  // namespace db::postgres
