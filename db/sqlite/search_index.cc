#include "db/sqlite/search_index.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <string_view>

#include "db/sqlite/joined_codes.h"
#include "db/sqlite/kept_statements.h"
#include "db/sqlite/long_word_grams.h"
#include "db/sqlite/search_index_format.h"
#include "platform/text_compare.h"

using platform::SameTextIgnoringCase;

namespace db::searchindex {

namespace {

using StatementHandle = KeptStatement;

// A read that fails means "no index": the index is damaged, or the file cannot be read.
struct IndexUnreadable {};

StatementHandle Prepare(sqlite3* db, const std::string& sql) {
  StatementHandle statement(db, sql);
  if (!statement) throw IndexUnreadable{};
  return statement;
}

bool Step(sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw IndexUnreadable{};
}

std::int64_t SingleInteger(sqlite3* db, const std::string& sql) {
  StatementHandle statement = Prepare(db, sql);
  if (!Step(statement.get())) throw IndexUnreadable{};
  return sqlite3_column_int64(statement.get(), 0);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::vector<std::int64_t> Intersect(const std::vector<std::int64_t>& a,
                                    const std::vector<std::int64_t>& b) {
  std::vector<std::int64_t> both;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
  return both;
}

std::vector<std::int64_t> Unite(const std::vector<std::int64_t>& a,
                                const std::vector<std::int64_t>& b) {
  std::vector<std::int64_t> either;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(either));
  return either;
}

class PostingReader {
 public:
  explicit PostingReader(sqlite3* db)
      : select_(Prepare(db, std::string("SELECT chunk, data FROM ") + kPostingsTable +
                                " WHERE col = ?1 AND gram = ?2 ORDER BY chunk")) {}

  // The rowids holding the gram in the column, ascending; nullopt when they are more
  // than most, which are then not all read.
  std::optional<std::vector<std::int64_t>> Rows(int column, std::int64_t gram, std::size_t most) {
    std::vector<std::int64_t> rows;
    sqlite3_reset(select_.get());
    sqlite3_bind_int(select_.get(), 1, column);
    sqlite3_bind_int64(select_.get(), 2, gram);
    std::int64_t lastChunk = INT64_MIN;
    while (Step(select_.get())) {
      const std::int64_t chunk = sqlite3_column_int64(select_.get(), 0);
      const char* data = static_cast<const char*>(sqlite3_column_blob(select_.get(), 1));
      const int size = sqlite3_column_bytes(select_.get(), 1);
      if (chunk <= lastChunk || !data ||
          !DecodePosting(std::string_view(data, size), {column, gram, chunk}, rows)) {
        throw IndexUnreadable{};
      }
      if (rows.size() > most) return std::nullopt;
      lastChunk = chunk;
    }
    return rows;
  }

  // The rowids holding every gram in the column, leaving out grams held by more than
  // most rows; nullopt when every gram is held by more.
  std::optional<std::vector<std::int64_t>> RowsHoldingAll(int column,
                                                          const std::vector<std::int64_t>& grams,
                                                          std::size_t most, bool& leftOut) {
    std::optional<std::vector<std::int64_t>> rows;
    for (std::int64_t gram : grams) {
      std::optional<std::vector<std::int64_t>> holding = Rows(column, gram, most);
      if (!holding) {
        leftOut = true;
        continue;
      }
      rows = rows ? Intersect(*rows, *holding) : std::move(holding);
      if (rows->empty()) break;
    }
    return rows;
  }

 private:
  StatementHandle select_;
};

}  // namespace

bool NameIn(const std::string& name, const std::vector<std::string>& names) {
  for (const std::string& candidate : names) {
    if (SameTextIgnoringCase(candidate, name)) return true;
  }
  return false;
}

namespace {

// ReadCurrentIndex, read from the database now.
std::optional<IndexInfo> ReadIndexDescription(sqlite3* db, IndexUnused& reason) {
  reason = IndexUnused::kDamaged;
  try {
    if (SingleInteger(db, std::string("SELECT count(*) FROM sqlite_master WHERE name = '") +
                              kMetaTable + "'") == 0) {
      reason = IndexUnused::kNoIndex;
      return std::nullopt;
    }
    std::map<std::string, std::string> meta;
    StatementHandle select = Prepare(db, std::string("SELECT key, value FROM ") + kMetaTable);
    while (Step(select.get())) meta[ColumnText(select.get(), 0)] = ColumnText(select.get(), 1);
    // The format is written last: without it a build is running or was stopped.
    if (!meta.count("format")) {
      reason = IndexUnused::kHalfBuilt;
      return std::nullopt;
    }
    if (meta["format"] != std::to_string(kFormatVersion)) {
      reason = IndexUnused::kOtherFormat;
      return std::nullopt;
    }
    for (const char* key : {"format", "table", "columns", "schema_version", "rows", "pending_limit",
                            "unsafe_sort", "order_columns"}) {
      if (!meta.count(key)) return std::nullopt;
    }
    if (meta["schema_version"] != std::to_string(SingleInteger(db, "PRAGMA schema_version"))) {
      reason = IndexUnused::kSchemaChanged;
      return std::nullopt;
    }
    IndexInfo info;
    info.table = meta["table"];
    info.columns = SplitNames(meta["columns"]);
    info.rows = std::stoll(meta["rows"]);
    info.unsafeSortColumns = SplitNames(meta["unsafe_sort"]);
    info.orderColumns = SplitNames(meta["order_columns"]);
    info.match = MatchModeOfIndex(meta["match"]);
    info.edgeGrams = {meta["start_grams"] == "1", meta[kEndGramsSetting] == "1"};
    info.rowidOrderColumns = SplitNames(meta["rowid_order"]);
    info.yearKeyOrder = SplitNames(meta[kYearKeyOrderSetting]);
    info.longWords = meta[kLongWordsSetting] == kLongWordGramsVersion;
    info.joinedBooks = JoinedBooksOfText(meta[kJoinedBooksSetting]);
    // A list that does not read is no part the index keeps: counts read the ranks.
    info.bookCodes = BookCodesOfText(meta[kBookCodesSetting]).value_or(std::vector<CodedColumn>{});
    if (const auto coded = BookCodesOfText(meta[kJoinedCodesSetting]);
        info.joinedBooks && coded && coded->size() == 1) {
      info.joinedCodes = coded->front();
    }
    // A loose index of an older loose folding holds other grams than a search looks for.
    if (info.match == MatchMode::kLoose && meta["loose_folding"] != LooseFoldingName()) {
      reason = IndexUnused::kOlderFolding;
      return std::nullopt;
    }
    if (info.table.empty() || info.columns.empty()) return std::nullopt;
    // Last, so that too many pending rows says the index is sound otherwise: a refresh
    // folds them rather than building it anew.
    const std::int64_t limit = std::stoll(meta["pending_limit"]);
    const std::int64_t pending =
        SingleInteger(db, std::string("SELECT count(*) FROM (SELECT 1 FROM ") + kPendingTable +
                              " LIMIT " + std::to_string(limit + 1) + ")");
    if (pending > limit) {
      reason = IndexUnused::kTooManyPending;
      return std::nullopt;
    }
    reason = IndexUnused::kNone;
    return info;
  } catch (const IndexUnreadable&) {
    return std::nullopt;
  } catch (const std::exception&) {  // a number that does not parse: a damaged index
    return std::nullopt;
  }
}

}  // namespace

std::optional<IndexInfo> ReadCurrentIndex(sqlite3* db, IndexUnused* why) {
  using Answer = std::pair<std::optional<IndexInfo>, IndexUnused>;
  Answer answer = KeptFact<Answer>(db, "current index", [db] {
    Answer read;
    read.first = ReadIndexDescription(db, read.second);
    return read;
  });
  if (why) *why = answer.second;
  return std::move(answer.first);
}

std::optional<Candidates> CandidateRows(sqlite3* db, const LikeConditions& conditions,
                                        MatchMode mode, std::size_t most, IndexUnused* why) {
  IndexUnused ignored;
  IndexUnused& reason = why ? *why : ignored;
  reason = IndexUnused::kNotNarrowable;
  try {
    PostingReader postings(db);
    std::optional<std::vector<std::int64_t>> rows;
    bool exact = true;
    for (const std::vector<LikeTerm>& condition : conditions) {
      // The rows that can meet this condition: the union over its terms, unless one
      // term can be met by any row, or by more rows than are worth reading one by one
      // (memory stays bounded by most rowids a list).
      std::vector<std::int64_t> either;
      bool anyRow = condition.empty();
      for (const LikeTerm& term : condition) {
        const std::vector<std::int64_t> grams = RequiredGramKeys(term.pattern, mode);
        bool leftOut = false;
        std::optional<std::vector<std::int64_t>> holding;
        if (term.column >= 0 && !grams.empty()) {
          holding = postings.RowsHoldingAll(term.column, grams, most, leftOut);
        }
        if (!holding) {
          anyRow = true;
          break;
        }
        exact = exact && !leftOut && PatternIsOneGram(term.pattern, mode);
        either = Unite(either, *holding);
        if (either.size() > most) {
          anyRow = true;
          break;
        }
      }
      if (anyRow) {
        exact = false;
        continue;
      }
      rows = rows ? Intersect(*rows, either) : std::move(either);
    }
    if (!rows) return std::nullopt;
    reason = IndexUnused::kNone;
    // Rows written since the last refresh may hold anything.
    std::vector<std::int64_t> pending;
    StatementHandle select = Prepare(
        db, std::string("SELECT DISTINCT book_rowid FROM ") + kPendingTable + " ORDER BY 1");
    while (Step(select.get())) pending.push_back(sqlite3_column_int64(select.get(), 0));
    if (!pending.empty()) {
      rows = Unite(*rows, pending);
      exact = false;
    }
    return Candidates{std::move(*rows), exact};
  } catch (const IndexUnreadable&) {
    reason = IndexUnused::kDamaged;
    return std::nullopt;
  }
}

}  // namespace db::searchindex
