#include "db/query.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>

#include "db/database_error.h"
#include "db/engine.h"
#include "db/engine_codes.h"
#include "db/param_derivation.h"
#include "platform/japanese_texts.h"
#include "platform/text_compare.h"
#include "platform/text_format.h"
#include "platform/text_lines.h"

namespace db {

using platform::FormatText;
using platform::ReadTextLines;
using platform::SameTextIgnoringCase;
using platform::TStringList;

namespace {

std::string JoinedLines(const TStringList& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) text.append(line).append("\r\n");
  return text;
}

// The shortest general form with at most 15 significant digits; an exponent is
// written as E with its sign only when negative (1E20, 1.5E-5).
std::string FloatText(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string text(buffer);
  std::size_t exponent = text.find('E');
  if (exponent == std::string::npos) return text;
  std::string mantissa = text.substr(0, exponent);
  std::string digits = text.substr(exponent + 1);
  const bool negative = digits[0] == '-';
  digits.erase(0, digits.find_first_not_of("+-0"));
  return mantissa + "E" + (negative ? "-" : "") + digits;
}

std::string ValueText(const db::ColumnValue& value) {
  using Kind = db::ColumnValue::Kind;
  switch (value.ValueKind) {
    case Kind::kNull:
      return {};
    case Kind::kInteger:
      return std::to_string(value.Integer);
    case Kind::kFloat:
      return FloatText(value.Float);
    case Kind::kText:
      return value.Text.substr(0, value.Text.find('\0'));
    case Kind::kOther:
      return value.Text;
  }
  return {};
}

}  // namespace

TQuery::TQuery(std::string name) : Name_(std::move(name)) {}

TQuery::~TQuery() = default;

void TQuery::Fail(std::string_view pattern, std::string_view argument) const {
  throw EDatabaseError(FormatText("%s: %s", {Name_, FormatText(pattern, {argument})}));
}

void TQuery::SetDatabaseName(std::string_view alias) {
  if (alias == DatabaseName_) return;
  if (Active()) Fail(platform::texts::kDatasetOpen);
  DatabaseName_ = std::string(alias);
  Statement_.reset();  // prepared on the other database
}

void TQuery::ReplaceSql(TStringList lines, std::string text) {
  CloseQuery();
  Statement_.reset();
  SQL_ = std::move(lines);
  SqlText_ = std::move(text);
  TDerivedSql derived = DeriveParams(SqlText_);
  EngineText_ = std::move(derived.EngineText);
  std::vector<TParam> params;
  for (std::string& name : derived.ParamNames) {
    TParam param;
    param.Name = std::move(name);
    for (const TParam& old : Params_) {
      if (SameTextIgnoringCase(old.Name, param.Name)) {
        param.DataType = old.DataType;
        param.Value = old.Value;
        break;
      }
    }
    params.push_back(std::move(param));
  }
  Params_ = std::move(params);
}

void TQuery::SetSqlLines(const TStringList& lines) {
  std::string text = JoinedLines(lines);
  if (text != SqlText_) ReplaceSql(lines, std::move(text));
}

void TQuery::SetRowFilters(std::vector<db::RowFilter> filters) {
  if (filters == RowFilters_) return;
  CloseQuery();
  Statement_.reset();
  RowFilters_ = std::move(filters);
}

void TQuery::SetCountAlong(std::vector<std::vector<db::GroupColumn>> fieldSets) {
  if (fieldSets == CountAlong_) return;
  CloseQuery();
  Statement_.reset();
  CountAlong_ = std::move(fieldSets);
}

void TQuery::LoadSqlFromFile(std::string_view path) {
  TStringList lines = ReadTextLines(path);
  std::string text = JoinedLines(lines);
  ReplaceSql(std::move(lines), std::move(text));
}

TParam& TQuery::ParamNamed(std::string_view name) {
  for (TParam& param : Params_) {
    if (SameTextIgnoringCase(param.Name, name)) return param;
  }
  Fail(platform::texts::kParamNotFound, name);
}

void TQuery::SetParamText(std::string_view name, std::string_view value) {
  TParam& param = ParamNamed(name);
  param.DataType = TFieldType::ftString;
  param.Value = std::string(value);
}

db::MatchMode TQuery::LikeMatch() const { return db::LikeMatchOf(DatabaseName_); }

void TQuery::OpenQuery() {
  if (Active()) return;
  const std::uint16_t started = db::StartEngine();
  if (started != 0 && started != db::kErrAlreadyStarted) {
    db::RaiseEngineError(started, db::LastErrorStack());
  }
  db::Database& database = db::OpenDatabase(DatabaseName_);
  if (SQL_.empty()) Fail(platform::texts::kNoSqlStatement);
  if (!Statement_) {
    Statement_ = db::PrepareStatement(database, EngineText_, RowFilters_, CountAlong_);
  }
  std::vector<std::string> values;
  for (const TParam& param : Params_) {
    if (param.DataType == TFieldType::ftUnknown) Fail(platform::texts::kParamNoValue, param.Name);
    values.push_back(param.Value);
  }
  std::unique_ptr<db::Cursor> cursor = db::CallDriver([&] { return Statement_->Execute(values); });
  if (!cursor) throw ENoResultSet(std::string(platform::texts::kCursorHandleError));
  Cursor_ = std::move(cursor);
  CountedRows_.reset();
  AtEnd_ = !Cursor_->OnRow();
}

std::int32_t TQuery::RowCount() {
  if (!Active()) Fail(platform::texts::kDatasetClosed);
  if (!CountedRows_) CountedRows_ = CountRows();
  return *CountedRows_;
}

std::int32_t TQuery::CountRows() {
  std::int64_t rows;
  try {
    rows = Cursor_->CountRows();
  } catch (const db::DriverError&) {
    try {
      rows = Cursor_->CountRowsByStepping();
    } catch (const db::DriverError&) {
      return -1;  // the engine can count neither way
    }
  }
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(rows, std::numeric_limits<std::int32_t>::max()));
}

std::optional<std::vector<TGroupCount>> TQuery::CountGroups(
    const std::vector<db::GroupColumn>& fields) {
  std::optional<std::vector<std::vector<TGroupCount>>> counts = CountGroupSets({fields});
  if (!counts) return std::nullopt;
  return std::move(counts->front());
}

std::optional<std::vector<std::vector<TGroupCount>>> TQuery::CountGroupSets(
    const std::vector<std::vector<db::GroupColumn>>& fieldSets) {
  if (!Active()) Fail(platform::texts::kDatasetClosed);
  std::vector<std::vector<db::GroupColumn>> named = fieldSets;
  for (std::vector<db::GroupColumn>& fields : named) {
    for (db::GroupColumn& field : fields) {
      const std::vector<std::string>& names = Cursor_->ColumnNames();
      const auto at = std::find_if(names.begin(), names.end(), [&](const std::string& column) {
        return SameTextIgnoringCase(column, field.Name);
      });
      if (at == names.end()) Fail(platform::texts::kFieldNotFound, field.Name);
      field.Name = *at;
    }
  }
  const auto groupSets = db::CallDriver([&] { return Cursor_->CountGroupSets(named); });
  if (!groupSets) return std::nullopt;
  std::vector<std::vector<TGroupCount>> result;
  for (const std::vector<db::GroupCount>& groups : *groupSets) {
    std::map<std::vector<std::string>, std::int64_t> counted;
    for (const db::GroupCount& group : groups) {
      std::vector<std::string> values;
      for (const db::ColumnValue& key : group.Keys) values.push_back(ValueText(key));
      counted[values] += group.Rows;
    }
    std::vector<TGroupCount>& set = result.emplace_back();
    for (auto& [values, rows] : counted) set.push_back({values, rows});
  }
  return result;
}

bool TQuery::AtEnd() const { return AtEnd_; }

void TQuery::NextRow() {
  if (!Active() || AtEnd_) return;
  AtEnd_ = !db::CallDriver([&] { return Cursor_->Next(); });
}

void TQuery::SkipRows(std::int64_t rows) {
  if (!Active() || AtEnd_ || rows <= 0) return;
  AtEnd_ = !db::CallDriver([&] { return Cursor_->Skip(rows); });
}

std::string TQuery::FieldText(std::string_view name) const {
  if (Active()) {
    const std::vector<std::string>& names = Cursor_->ColumnNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
      // An empty result has no row: its values all read as null.
      if (SameTextIgnoringCase(names[i], name)) return ValueText(Cursor_->Row()[i]);
    }
  }
  Fail(platform::texts::kFieldNotFound, name);
}

bool TQuery::HasField(std::string_view name) const {
  if (!Active()) return false;
  for (const std::string& column : Cursor_->ColumnNames()) {
    if (SameTextIgnoringCase(column, name)) return true;
  }
  return false;
}

void TQuery::CloseQuery() {
  Cursor_.reset();
  AtEnd_ = true;
}

}  // namespace db
