#include "db/alias_config.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>

#include "db/engine_codes.h"
#include "platform/file_system.h"
#include "platform/japanese_texts.h"
#include "platform/kept_files.h"
#include "platform/text_compare.h"
#include "platform/text_format.h"
#include "platform/trim.h"

using platform::EFOpenError;
using platform::FormatText;
using platform::SameTextIgnoringCase;
using platform::TrimmedBy;

namespace db {

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

// Blanks around a line, a section name, a key or a value; the CR is that of a file with
// CR LF line ends.
std::string_view Trimmed(std::string_view text) {
  return TrimmedBy(text, [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

// Decimal digits of a number of seconds up to a day.
bool IsSeconds(std::string_view value) {
  constexpr std::string_view kOneDay = "86400";
  if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  value.remove_prefix(std::min(value.find_first_not_of('0'), value.size()));
  return value.size() < kOneDay.size() || (value.size() == kOneDay.size() && value <= kOneDay);
}

std::optional<MatchMode> MatchModeNamed(std::string_view upperName) {
  if (upperName == "FOLDED") return MatchMode::kFolded;
  if (upperName == "EXACT") return MatchMode::kExact;
  if (upperName == "LOOSE") return MatchMode::kLoose;
  return std::nullopt;
}

[[noreturn]] void Fail(std::string message) {
  throw DriverError{kErrConfigInvalid, {TDBError{kErrConfigInvalid, 0, std::move(message)}}};
}

[[noreturn]] void FailAtLine(std::string_view filePath, int lineNumber) {
  Fail(FormatText(platform::texts::kDbeConfigBadLine, {filePath, std::to_string(lineNumber)}));
}

std::string ResolvedPath(std::string_view path, std::string_view filePath) {
  std::string native = platform::NativePath(path);
  if (native.empty() || native.front() == '/') return native;
  std::string folder = platform::NativePath(filePath);
  std::size_t slash = folder.rfind('/');
  return slash == std::string::npos ? native : folder.substr(0, slash + 1) + native;
}

// Checks the finished section and completes its paths.
void Finish(AliasDefinition& alias, std::string_view filePath) {
  auto missing = [&](std::string_view key) {
    Fail(FormatText(platform::texts::kDbeConfigMissingKey, {filePath, alias.Name, key}));
  };
  if (alias.Driver == DriverKind::kSqlite) {
    if (alias.Path.empty()) missing("PATH");
    alias.Path = ResolvedPath(alias.Path, filePath);
  } else if (alias.ConnInfo.empty()) {
    missing("CONNINFO");
  }
}

}  // namespace

std::vector<AliasDefinition> ParseAliases(std::string_view text, std::string_view filePath) {
  std::vector<AliasDefinition> aliases;
  std::optional<bool> driverGiven;  // set while a section is open: whether DRIVER was seen
  bool matchGiven = false;
  int lineNumber = 0;
  auto closeSection = [&] {
    if (!driverGiven) return;
    if (!*driverGiven)
      Fail(FormatText(platform::texts::kDbeConfigMissingKey,
                      {filePath, aliases.back().Name, "DRIVER"}));
    if (aliases.back().Driver == DriverKind::kPostgres && !matchGiven)
      aliases.back().Match = MatchMode::kExact;
    Finish(aliases.back(), filePath);
  };
  while (!text.empty()) {
    ++lineNumber;
    std::size_t end = text.find('\n');
    std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) FailAtLine(filePath, lineNumber);
      closeSection();
      aliases.push_back({});
      matchGiven = false;
      aliases.back().Name = std::string(Trimmed(line.substr(1, line.size() - 2)));
      driverGiven = false;
      continue;
    }
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || !driverGiven) FailAtLine(filePath, lineNumber);
    const std::string key = Upper(Trimmed(line.substr(0, equals)));
    const std::string_view value = Trimmed(line.substr(equals + 1));
    AliasDefinition& alias = aliases.back();
    if (key == "DRIVER" && (Upper(value) == "SQLITE" || Upper(value) == "POSTGRES")) {
      alias.Driver = Upper(value) == "SQLITE" ? DriverKind::kSqlite : DriverKind::kPostgres;
      driverGiven = true;
    } else if (key == "PATH") {
      alias.Path = std::string(value);
    } else if (key == "CONNINFO") {
      alias.ConnInfo = std::string(value);
    } else if (key == "MATCH" && MatchModeNamed(Upper(value))) {
      alias.Match = *MatchModeNamed(Upper(value));
      matchGiven = true;
    } else if (key == "TIME_LIMIT" && IsSeconds(value)) {
      alias.TimeLimitSeconds = std::stoi(std::string(value));
    } else {
      FailAtLine(filePath, lineNumber);
    }
  }
  closeSection();
  return aliases;
}

std::vector<AliasDefinition> ReadAliasConfiguration() {
  const char* fromEnvironment = std::getenv("DBENGINE_CONFIG");
  const bool named = fromEnvironment && *fromEnvironment;
  const std::string path = named ? fromEnvironment : "dbengine.conf";
  if (!named && !platform::FileExists(path)) return {};
  // A process serving many requests starts its engine again for each of them.
  static platform::TKeptFiles<std::vector<AliasDefinition>> kept(4);
  return *kept.Value(path, [](std::string_view aliasPath) {
    std::string text;
    try {
      std::ifstream stream = platform::OpenForReading(aliasPath);
      text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    } catch (const EFOpenError&) {
      Fail(FormatText(platform::texts::kDbeConfigUnreadable, {aliasPath}));
    }
    return ParseAliases(text, aliasPath);
  });
}

const AliasDefinition* FindAlias(const std::vector<AliasDefinition>& aliases,
                                 std::string_view name) {
  for (const AliasDefinition& alias : aliases) {
    if (SameTextIgnoringCase(alias.Name, name)) return &alias;
  }
  return nullptr;
}

}  // namespace db
