// The session's pipeline: several commands sent in one exchange with the server.
#include <utility>

#include "db/postgres/postgres_session.h"

namespace db::postgres {

std::vector<Result> Session::RunTogether(const std::vector<Send>& commands) {
  StartExchange();
  if (!PQenterPipelineMode(Connection)) Fail(Connection, nullptr);
  for (const Send& send : commands) {
    if (!send(Connection)) Fail(Connection, nullptr);
  }
  if (!PQpipelineSync(Connection)) Fail(Connection, nullptr);
  Flush();
  std::vector<Result> results;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    results.push_back(NextResult());
    if (!results.back()) Fail(Connection, nullptr);
    while (NextResult()) {
    }  // up to the command's end
  }
  Result sync = NextResult();
  const bool left = PQexitPipelineMode(Connection) == 1;
  for (const Result& result : results) FailUnlessDone(Connection, result.get());
  // A connection left in pipeline mode would refuse every later command.
  if (!left) Fail(Connection, nullptr);
  return results;
}

}  // namespace db::postgres
