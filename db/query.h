// The SQL query component through which the program reaches its database. Its
// statement is given as lines with named parameters (":NAME"), run against the
// database alias in DatabaseName, and its result is read forward, row by row and
// field by field as text. Failures found here are EDatabaseError with the component's
// name in front ("qMaster: ..."); the engine's failures are EDBEngineError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"
#include "platform/string_list.h"

namespace db {

// The data type of a parameter: none until a value is given.
enum class TFieldType { ftUnknown, ftString };

// One parameter derived from a marker of the SQL text.
struct TParam {
  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  std::string Value;
};

// One group of a result's rows: the value of each field counted by, as FieldText gives
// it, and how many rows hold them.
struct TGroupCount {
  std::vector<std::string> Values;
  std::int64_t Rows = 0;
};

class TQuery {
 public:
  // A closed query without SQL; `name` is its component name, put in front of its
  // own error messages.
  explicit TQuery(std::string name);
  ~TQuery();
  TQuery(const TQuery&) = delete;
  TQuery& operator=(const TQuery&) = delete;

  const std::string& Name() const { return Name_; }

  const std::string& DatabaseName() const { return DatabaseName_; }
  // Names the alias (or folder) used from the next opening on; the same name changes
  // nothing. Raises EDatabaseError when the query is open and the name differs.
  void SetDatabaseName(std::string_view alias);

  // How LIKE compares on the database named (see db::LikeMatchOf). Never throws.
  db::MatchMode LikeMatch() const;

  // The SQL lines; the statement is each line followed by CR LF.
  const platform::TStringList& SQL() const { return SQL_; }
  // Replaces the lines unless their text is the same; a new text closes the query,
  // releases its prepared statement and derives the parameters again.
  void SetSqlLines(const platform::TStringList& lines);
  // Replaces the lines by those of the file (lines end at CR, LF or CR LF; the text at a
  // NUL byte), always closing the query and deriving the parameters again. Raises
  // EFOpenError when the file cannot be opened.
  void LoadSqlFromFile(std::string_view path);
  // Conditions of the statement restated for the database (see db::RowFilter), so that
  // it may read only the rows that meet them; a filter whose condition the statement
  // does not hold is ignored. Different filters close the query and release its
  // prepared statement.
  void SetRowFilters(std::vector<db::RowFilter> filters);
  // Sets of fields whose counts (CountGroupSets) another query of the same search and
  // filters will ask for, so that the database may count them while it decides the
  // filters (see db::Database::PrepareFiltered).
  void SetCountAlong(std::vector<std::vector<db::GroupColumn>> fieldSets);

  // The parameters in the order of their markers.
  const std::vector<TParam>& Params() const { return Params_; }
  // The first parameter of that name, letter case ignored. Raises EDatabaseError when
  // there is none.
  TParam& ParamNamed(std::string_view name);
  // Gives the parameter ParamNamed(name) the text value. Raises as ParamNamed.
  void SetParamText(std::string_view name, std::string_view value);

  // Runs the statement (starting the engine and opening the database at the first use
  // of the process) and stands on the first row; nothing happens when open. Raises
  // EDatabaseError (no SQL, a parameter without value), ENoResultSet, EDBEngineError.
  void OpenQuery();
  // The number of rows of the open result, counted by the database; -1 when it can
  // count neither way. Raises EDatabaseError when the query is closed.
  std::int32_t RowCount();
  // The rows of the open result counted by the values of the fields (a text by its first
  // GroupColumn::Prefix bytes), groups whose values read alike added together; nullopt
  // when the database cannot count them without reading the rows. Raises
  // EDatabaseError when the query is closed or a field is missing, EDBEngineError when
  // the database fails.
  std::optional<std::vector<TGroupCount>> CountGroups(const std::vector<db::GroupColumn>& fields);
  // CountGroups for each set of fields, an answer a set, counted together where the
  // database can; nullopt when it cannot count any one set without reading the rows.
  std::optional<std::vector<std::vector<TGroupCount>>> CountGroupSets(
      const std::vector<std::vector<db::GroupColumn>>& fieldSets);
  // True when there is no current row: an empty result, or NextRow from the last row.
  bool AtEnd() const;
  // Moves to the next row; from the last row it sets AtEnd and stays on that row.
  // Raises EDBEngineError when the database fails while reading.
  void NextRow();
  // Moves as `rows` calls of NextRow would, reading only the rows the database cannot
  // pass over by their place (the rows before a page). Raises as NextRow.
  void SkipRows(std::int64_t rows);
  // The value of the field in the current row as text: text as its bytes up to a NUL,
  // an integer in decimal, a floating-point number with at most 15 significant digits,
  // null or no row as empty text. Raises EDatabaseError when the result has no such
  // field (letter case ignored).
  std::string FieldText(std::string_view name) const;
  // True when the open result has the field (letter case ignored).
  bool HasField(std::string_view name) const;

  bool Active() const { return Cursor_ != nullptr; }
  // Closes the result; the SQL lines and parameter values stay.
  void CloseQuery();

 private:
  // Raises EDatabaseError "<Name>: <pattern with argument>".
  [[noreturn]] void Fail(std::string_view pattern, std::string_view argument = {}) const;
  // Asks the engine for the row count of the open result, by its second way when the
  // first fails; -1 when both fail.
  std::int32_t CountRows();
  // Closes, releases the prepared statement, takes the lines (text: the lines joined) and
  // derives the parameters.
  void ReplaceSql(platform::TStringList lines, std::string text);

  std::string Name_;
  std::string DatabaseName_;
  platform::TStringList SQL_;
  std::string SqlText_;     // the lines joined, each followed by CR LF
  std::string EngineText_;  // SqlText_ with every marker turned into "?"
  std::vector<TParam> Params_;
  std::vector<db::RowFilter> RowFilters_;
  std::vector<std::vector<db::GroupColumn>> CountAlong_;
  std::unique_ptr<db::Statement> Statement_;  // prepared at an opening, kept until the text changes
  std::unique_ptr<db::Cursor> Cursor_;        // the open result; declared last, released first
  bool AtEnd_ = true;
  // The row count of the open result, once asked: an open result does not change, and
  // a page asks for its count several times, each a full scan of the result.
  std::optional<std::int32_t> CountedRows_;
};

}  // namespace db
