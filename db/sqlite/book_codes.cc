#include "db/sqlite/book_codes.h"

#include <algorithm>

#include "db/sqlite/search_index_format.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

namespace {

using Kind = ColumnValue::Kind;

[[noreturn]] void Unreadable(const std::string& what) {
  throw OrderUnreadable("cannot read the codes of the books: " + what);
}

}  // namespace

std::string BookCodesText(const std::vector<CodedColumn>& columns) {
  std::string text;
  for (const CodedColumn& column : columns) {
    if (!text.empty()) text += ",";
    text += column.name;
    if (column.prefix > 0) text += ":" + std::to_string(column.prefix);
  }
  return text;
}

std::optional<std::vector<CodedColumn>> BookCodesOfText(std::string_view text) {
  std::vector<CodedColumn> columns;
  for (const std::string& item : SplitNames(text)) {
    CodedColumn column{item, 0};
    if (const std::size_t colon = item.rfind(':'); colon != std::string::npos) {
      column.name = item.substr(0, colon);
      const std::string digits = item.substr(colon + 1);
      if (digits.empty() || digits.size() > 6 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
      }
      column.prefix = std::stoul(digits);
    }
    if (column.name.empty()) return std::nullopt;
    columns.push_back(std::move(column));
  }
  return columns;
}

ColumnValue CutValue(ColumnValue value, std::size_t prefix) {
  if (prefix > 0 && (value.ValueKind == Kind::kText || value.ValueKind == Kind::kOther) &&
      value.Text.size() > prefix) {
    value.Text.resize(prefix);
  }
  return value;
}

std::string GroupKeyBytes(const ColumnValue& value) {
  auto withNumber = [](char tag, const void* number) {
    std::string key(1, tag);
    key.append(static_cast<const char*>(number), 8);
    return key;
  };
  switch (value.ValueKind) {
    case Kind::kNull:
      return "n";
    case Kind::kInteger:
      return withNumber('i', &value.Integer);
    case Kind::kFloat:
      if (value.Float >= -9.2e18 && value.Float <= 9.2e18 &&
          static_cast<double>(static_cast<std::int64_t>(value.Float)) == value.Float) {
        const auto integer = static_cast<std::int64_t>(value.Float);
        return withNumber('i', &integer);
      }
      return withNumber('f', &value.Float);
    case Kind::kText:
      return "t" + value.Text;
    case Kind::kOther:
      return "b" + value.Text;
  }
  return {};
}

std::vector<unsigned char> StripeOfCodes(const std::uint16_t* codes) {
  const bool wide = std::any_of(codes, codes + kChunkRows, [](std::uint16_t c) { return c > 0xFF; });
  std::vector<unsigned char> bytes(kChunkRows * (wide ? kCodeBytes : 1));
  for (std::int64_t low = 0; low < kChunkRows; ++low) {
    if (!wide) {
      bytes[low] = static_cast<unsigned char>(codes[low]);
      continue;
    }
    bytes[low * 2] = static_cast<unsigned char>(codes[low] & 0xFF);
    bytes[low * 2 + 1] = static_cast<unsigned char>(codes[low] >> 8);
  }
  return bytes;
}

bool CodesOfStripe(const unsigned char* bytes, std::size_t size, std::uint16_t* codes) {
  if (size == kChunkRows) {
    std::copy(bytes, bytes + size, codes);
    return true;
  }
  if (size != kChunkRows * kCodeBytes) return false;
  for (std::size_t low = 0; low < kChunkRows; ++low)
    codes[low] = static_cast<std::uint16_t>(CodeIn(bytes, true, low));
  return true;
}

BookCodeReader::BookCodeReader(sqlite3* db, std::vector<std::size_t> places)
    : db_(db), places_(std::move(places)), wide_(places_.size(), 0) {}

void BookCodeReader::HoldUpTo(std::uint16_t lastLow) {
  // To the end of the last row's word: a walk figures the rows a word at a time.
  const std::size_t needed = (std::size_t{lastLow} / 64 + 1) * 64 * kCodeBytes;
  if (needed <= stripeBytes_) return;
  // Grown once to whole stripes: a table whose rows reach further fills its chunks.
  stripeBytes_ = stripeBytes_ == 0 ? needed : kStripeBytes;
  bytes_.reset(new unsigned char[places_.size() * stripeBytes_]);
}

void BookCodeReader::OpenStripe(std::int64_t chunk, std::size_t k) {
  const std::int64_t key = StripeKey(chunk, places_[k]);
  const int rc = blob_ ? sqlite3_blob_reopen(blob_, key)
                       : sqlite3_blob_open(db_, "main", kBookCodesTable, "data", key, 0, &blob_);
  if (rc != SQLITE_OK) Unreadable(sqlite3_errmsg(db_));
  const auto size = static_cast<std::size_t>(sqlite3_blob_bytes(blob_));
  if (size != kChunkRows && size != kChunkRows * kCodeBytes) Unreadable("a stripe of the wrong size");
  wide_[k] = size != kChunkRows;
}

void BookCodeReader::ReadWhole(std::int64_t chunk, std::uint16_t lastLow) {
  HoldUpTo(lastLow);
  for (std::size_t k = 0; k < places_.size(); ++k) {
    OpenStripe(chunk, k);
    const std::size_t bytes = (std::size_t{lastLow} + 1) * (wide_[k] ? kCodeBytes : 1);
    if (sqlite3_blob_read(blob_, bytes_.get() + k * stripeBytes_, static_cast<int>(bytes), 0) !=
        SQLITE_OK) {
      Unreadable(sqlite3_errmsg(db_));
    }
  }
}

void BookCodeReader::Read(std::int64_t chunk, const std::vector<std::int64_t>& rowids) {
  if (rowids.size() > kWholeCodeChunkRows) return ReadWhole(chunk, LowBits(rowids.back()));
  HoldUpTo(LowBits(rowids.back()));
  for (std::size_t k = 0; k < places_.size(); ++k) {
    OpenStripe(chunk, k);
    const std::size_t width = wide_[k] ? kCodeBytes : 1;
    for (std::int64_t rowid : rowids) {
      const std::size_t offset = std::size_t{LowBits(rowid)} * width;
      if (sqlite3_blob_read(blob_, bytes_.get() + k * stripeBytes_ + offset,
                            static_cast<int>(width), static_cast<int>(offset)) != SQLITE_OK) {
        Unreadable(sqlite3_errmsg(db_));
      }
    }
  }
}

void BookCodeReader::NoBook(std::int64_t rowid) {
  Unreadable("no code for row " + std::to_string(rowid));
}

std::vector<ColumnValue> ReadCodeValues(sqlite3* db, std::size_t place, std::size_t prefix) {
  OrderStatement select =
      PrepareOrderRead(db, std::string("SELECT code, value FROM ") + kBookCodeValuesTable +
                               " WHERE col = ?1 ORDER BY code");
  sqlite3_bind_int64(select.get(), 1, static_cast<std::int64_t>(place));
  std::vector<ColumnValue> values(1);
  while (StepOrderRead(db, select.get())) {
    if (sqlite3_column_int64(select.get(), 0) != static_cast<std::int64_t>(values.size())) {
      Unreadable("the values of the codes are not numbered from 1");
    }
    values.push_back(CutValue(ReadColumnValue(select.get(), 1), prefix));
  }
  return values;
}

ColumnValue ReadColumnValue(sqlite3_stmt* statement, int column) {
  ColumnValue value;
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      value.ValueKind = Kind::kInteger;
      value.Integer = sqlite3_column_int64(statement, column);
      break;
    case SQLITE_FLOAT:
      value.ValueKind = Kind::kFloat;
      value.Float = sqlite3_column_double(statement, column);
      break;
    case SQLITE_NULL:
      break;
    default: {
      value.ValueKind =
          sqlite3_column_type(statement, column) == SQLITE_TEXT ? Kind::kText : Kind::kOther;
      const char* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
      value.Text.assign(bytes ? bytes : "", sqlite3_column_bytes(statement, column));
    }
  }
  return value;
}

void BindColumnValue(sqlite3_stmt* statement, int place, const ColumnValue& value) {
  const int size = static_cast<int>(value.Text.size());
  switch (value.ValueKind) {
    case Kind::kNull:
      sqlite3_bind_null(statement, place);
      break;
    case Kind::kInteger:
      sqlite3_bind_int64(statement, place, value.Integer);
      break;
    case Kind::kFloat:
      sqlite3_bind_double(statement, place, value.Float);
      break;
    case Kind::kText:
      sqlite3_bind_text(statement, place, value.Text.data(), size, SQLITE_TRANSIENT);
      break;
    case Kind::kOther:
      sqlite3_bind_blob(statement, place, value.Text.data(), size, SQLITE_TRANSIENT);
      break;
  }
}

}  // namespace db::searchindex
