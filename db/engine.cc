#include "db/engine.h"

#include <unistd.h>

#include <memory>
#include <string>
#include <utility>

#include "db/alias_config.h"
#include "db/engine_codes.h"
#include "db/postgres/postgres_plugin.h"
#include "db/sqlite/sqlite_driver.h"
#include "platform/file_system.h"
#include "platform/japanese_texts.h"
#include "platform/plugin.h"
#include "platform/text_format.h"

using platform::FormatText;

namespace db {

namespace {

struct OpenedDatabase {
  std::string Name;
  std::unique_ptr<Database> Handle;
};

struct EngineState {
  bool Started = false;
  std::vector<AliasDefinition> Aliases;
  std::vector<OpenedDatabase> Databases;
  std::vector<TDBError> ErrorStack;
  PostgresOpenFunction* PostgresOpen = nullptr;
};

EngineState& State() {
  static EngineState state;
  return state;
}

// Loads the PostgreSQL plug-in on its first use.
PostgresOpenFunction* PostgresOpen() {
  EngineState& state = State();
  if (state.PostgresOpen) return state.PostgresOpen;
  std::string reason;
  void* entry = platform::PluginEntry(kPostgresPluginFile, kPostgresOpenSymbol, reason);
  if (!entry) throw DriverError{kErrDriverLoad, {TDBError{kErrDriverLoad, 0, reason}}};
  state.PostgresOpen = reinterpret_cast<PostgresOpenFunction*>(entry);
  return state.PostgresOpen;
}

std::unique_ptr<Database> OpenByName(std::string_view name) {
  const AliasDefinition* alias = FindAlias(State().Aliases, name);
  if (alias && alias->Driver == DriverKind::kPostgres) {
    return std::unique_ptr<Database>(
        PostgresOpen()(alias->ConnInfo.c_str(), alias->Match, alias->TimeLimitSeconds));
  }
  if (alias) return OpenSqliteDatabase(alias->Path, alias->Match, alias->TimeLimitSeconds);
  if (!name.empty() && platform::DirectoryExists(name)) {
    std::string folder = platform::NativePath(name);
    if (folder.back() != '/') folder.push_back('/');
    return OpenSqliteDatabase(folder + "catalog.db", MatchMode::kFolded, kDefaultTimeLimitSeconds);
  }
  throw DriverError{
      kErrUnknownAlias,
      {TDBError{kErrUnknownAlias, 0, FormatText(platform::texts::kDbeAliasUndefined, {name})}}};
}

}  // namespace

std::uint16_t StartEngine() {
  EngineState& state = State();
  if (state.Started) return kErrAlreadyStarted;
  try {
    state.Aliases = ReadAliasConfiguration();
  } catch (DriverError& failure) {
    state.ErrorStack = std::move(failure.Entries);
    return failure.Code;
  }
  state.Started = true;
  return 0;
}

bool EngineStarted() { return State().Started; }

Database& OpenDatabase(std::string_view name) {
  EngineState& state = State();
  if (!state.Started) RaiseEngineError(kErrNotStarted, {});
  for (OpenedDatabase& opened : state.Databases) {
    if (opened.Name == name) return *opened.Handle;
  }
  std::unique_ptr<Database> database = CallDriver([&] { return OpenByName(name); });
  state.Databases.push_back({std::string(name), std::move(database)});
  return *state.Databases.back().Handle;
}

MatchMode LikeMatchOf(std::string_view name) {
  if (!State().Started) StartEngine();
  const AliasDefinition* alias = FindAlias(State().Aliases, name);
  return alias ? alias->Match : MatchMode::kFolded;
}

std::string_view MessageText(std::uint16_t code) {
  switch (code) {
    case kErrConfigInvalid:
      return platform::texts::kDbeConfigInvalid;
    case kErrDriverLoad:
      return platform::texts::kDbeDriverLoadFailed;
    case kErrUnknownAlias:
      return platform::texts::kDbeUnknownAlias;
    case kErrCannotOpen:
      return platform::texts::kDbeCannotOpen;
    case kErrCountRefused:
      return platform::texts::kDbeCountRefused;
    case kErrSql:
      return platform::texts::kDbeSqlError;
    case kErrAlreadyStarted:
      return platform::texts::kDbeAlreadyStarted;
    case kErrNotStarted:
      return platform::texts::kDbeNotStarted;
    default:
      return {};
  }
}

const std::vector<TDBError>& LastErrorStack() { return State().ErrorStack; }

void RaiseEngineError(std::uint16_t code, std::vector<TDBError> entries) {
  EngineState& state = State();
  state.ErrorStack = std::move(entries);
  throw EDBEngineError(
      ComposeEngineMessage(code, state.Started, kEngineName, MessageText, state.ErrorStack),
      state.ErrorStack);
}

bool PostgresPluginLoaded() { return State().PostgresOpen != nullptr; }

}  // namespace db
