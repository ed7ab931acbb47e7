#include "db/engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "db/alias_config.h"
#include "db/engine_codes.h"
#include "db/plain_query.h"
#include "db/postgres/postgres_plugin.h"
#include "db/sqlite/sqlite_driver.h"
#include "platform/file_system.h"
#include "platform/japanese_texts.h"
#include "platform/plugin.h"
#include "platform/program_file.h"
#include "platform/request_end.h"
#include "platform/text_format.h"

using platform::FormatText;

namespace db {

namespace {

// What tells one file from another at the same path: a catalogue replaced by another
// file (a new inode), or rewritten in place (its size or time), is opened again.
struct FileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  std::int64_t ModifiedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the SQLite file of definition; none for PostgreSQL or a missing file,
// and in a process that serves one request only, which never asks again.
FileIdentity IdentityOf(const AliasDefinition& definition) {
  struct stat status {};
  if (!platform::ServingManyRequests() || definition.Driver != DriverKind::kSqlite ||
      stat(definition.Path.c_str(), &status) != 0) {
    return {};
  }
  return {status.st_dev, status.st_ino, status.st_size,
          status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec};
}

struct OpenedDatabase {
  std::string Name;
  AliasDefinition Definition;  // what it was opened as; a folder as its catalog.db
  FileIdentity File;           // the SQLite file as it was at the opening
  bool InRequest = true;       // used by the request being served
  bool Kept = true;            // false once a statement changed its session
  std::unique_ptr<Database> Handle;
};

struct EngineState {
  bool Started = false;
  std::vector<AliasDefinition> Aliases;
  std::vector<OpenedDatabase> Databases;
  std::vector<TDBError> ErrorStack;
  PostgresOpenFunction* PostgresOpen = nullptr;
  bool FailedInRequest = false;  // an engine error was raised while serving the request
  bool EndHookRegistered = false;
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

// What the name opens: its alias, or the catalog.db of a folder. Throws DriverError
// kErrUnknownAlias for anything else.
AliasDefinition DefinitionOf(std::string_view name) {
  if (const AliasDefinition* alias = FindAlias(State().Aliases, name)) return *alias;
  if (!name.empty() && platform::DirectoryExists(name)) {
    AliasDefinition folder;
    folder.Name = std::string(name);
    folder.Path = platform::NativePath(name);
    if (folder.Path.back() != '/') folder.Path.push_back('/');
    folder.Path += "catalog.db";
    return folder;
  }
  throw DriverError{
      kErrUnknownAlias,
      {TDBError{kErrUnknownAlias, 0, FormatText(platform::texts::kDbeAliasUndefined, {name})}}};
}

std::unique_ptr<Database> OpenDefinition(const AliasDefinition& definition) {
  if (definition.Driver == DriverKind::kPostgres) {
    return std::unique_ptr<Database>(
        PostgresOpen()(definition.ConnInfo.c_str(), definition.Match, definition.TimeLimitSeconds));
  }
  return OpenSqliteDatabase(definition.Path, definition.Match, definition.TimeLimitSeconds);
}

// After each request of a long-lived process: closes the databases the request left
// unfit (all of them after an engine error, which may have come from a lost connection
// or a time limit) and forgets the aliases and the error stack, as a new process starts
// without them.
void EndRequest() {
  EngineState& state = State();
  std::erase_if(state.Databases, [&](const OpenedDatabase& opened) {
    return state.FailedInRequest || !opened.Kept || !opened.Handle->KeptForNextRequest();
  });
  for (OpenedDatabase& opened : state.Databases) opened.InRequest = false;
  state.FailedInRequest = false;
  state.Started = false;
  state.Aliases.clear();
  state.ErrorStack.clear();
}

// In a process that serves request after request, has EndRequest run after each.
void WatchRequestEnd() {
  EngineState& state = State();
  if (state.EndHookRegistered || !platform::ServingManyRequests()) return;
  platform::RegisterRequestEndHook(EndRequest);
  state.EndHookRegistered = true;
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
  WatchRequestEnd();
  return 0;
}

bool EngineStarted() { return State().Started; }

Database& OpenDatabase(std::string_view name) {
  EngineState& state = State();
  if (!state.Started) RaiseEngineError(kErrNotStarted, {});
  WatchRequestEnd();
  auto opened = std::find_if(state.Databases.begin(), state.Databases.end(),
                             [&](const OpenedDatabase& held) { return held.Name == name; });
  if (opened != state.Databases.end() && opened->InRequest) return *opened->Handle;
  const AliasDefinition definition = CallDriver([&] { return DefinitionOf(name); });
  const FileIdentity file = IdentityOf(definition);
  if (opened != state.Databases.end()) {
    // Kept from the request before: its time limit counts from now.
    if (opened->Definition == definition && opened->File == file &&
        opened->Handle->StartRequest()) {
      opened->InRequest = true;
      return *opened->Handle;
    }
    state.Databases.erase(opened);
  }
  std::unique_ptr<Database> database = CallDriver([&] { return OpenDefinition(definition); });
  state.Databases.push_back({std::string(name), definition, file, true, true, std::move(database)});
  return *state.Databases.back().Handle;
}

std::unique_ptr<Statement> PrepareStatement(Database& database, std::string_view sql,
                                            const std::vector<RowFilter>& filters,
                                            const std::vector<std::vector<GroupColumn>>& countAlong) {
  if (platform::ServingManyRequests() && !IsPlainQuery(sql)) {
    for (OpenedDatabase& opened : State().Databases) {
      if (opened.Handle.get() == &database) opened.Kept = false;
    }
  }
  return CallDriver([&] {
    return filters.empty() ? database.Prepare(sql)
                           : database.PrepareFiltered(sql, filters, countAlong);
  });
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
  state.FailedInRequest = true;
  throw EDBEngineError(
      ComposeEngineMessage(code, state.Started, kEngineName, MessageText, state.ErrorStack),
      state.ErrorStack);
}

bool PostgresPluginLoaded() { return State().PostgresOpen != nullptr; }

}  // namespace db
