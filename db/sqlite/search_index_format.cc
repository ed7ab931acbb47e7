#include "db/sqlite/search_index_format.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "matching/sjis_fold.h"
#include "platform/invariant.h"
#include "platform/sjis.h"

namespace db::searchindex {

namespace {

constexpr unsigned char kArrayPosting = 0;
constexpr unsigned char kBitmapPosting = 1;
constexpr std::size_t kBitmapBytes = kChunkRows / 8;
constexpr std::size_t kChecksumBytes = 4;

// The checksum a list of the key carries: over the key, so that a list copied to the
// row of another gram is damage too, then over the list's bytes.
std::uint32_t PostingChecksum(std::string_view list, const PostingKey& key) {
  char keyBytes[20];
  auto put = [&keyBytes](int at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) keyBytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  put(0, static_cast<std::uint32_t>(key.column), 4);
  put(4, static_cast<std::uint64_t>(key.gram), 8);
  put(12, static_cast<std::uint64_t>(key.chunk), 8);
  return Crc32(list, Crc32(std::string_view(keyBytes, sizeof keyBytes)));
}

bool IsWildcard(std::string_view pattern, std::size_t i) {
  return platform::CharLength(pattern, i) == 1 && (pattern[i] == '%' || pattern[i] == '_');
}

// A half-width katakana or voiced mark: in the folded text it may be joined with its
// neighbour, so an exact pattern cannot say which folded unit a text holds there.
bool IsHalfWidthKana(std::string_view pattern, std::size_t i) {
  const auto c = static_cast<unsigned char>(pattern[i]);
  return platform::CharLength(pattern, i) == 1 && c >= 0xA1 && c <= 0xDF;
}

std::string EncodeList(const std::vector<std::uint16_t>& lows) {
  std::string data;
  if (lows.size() > kBitmapThreshold) {
    data.assign(1 + kBitmapBytes, '\0');
    data[0] = static_cast<char>(kBitmapPosting);
    for (std::uint16_t low : lows) data[1 + low / 8] |= static_cast<char>(1 << (low % 8));
    return data;
  }
  data.reserve(1 + 2 * lows.size() + kChecksumBytes);
  data.push_back(static_cast<char>(kArrayPosting));
  for (std::size_t i = 0; i < lows.size(); ++i) {
    // Readers take a list that is not strictly ascending for damage.
    LIRAWEB_ASSERT(i == 0 || lows[i - 1] < lows[i]);
    const std::uint16_t low = lows[i];
    data.push_back(static_cast<char>(low & 0xFF));
    data.push_back(static_cast<char>(low >> 8));
  }
  return data;
}

bool DecodeList(std::string_view data, std::int64_t chunk, std::vector<std::int64_t>& rowids) {
  if (data.empty()) return false;
  const std::int64_t base = chunk * kChunkRows;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data()) + 1;
  const std::size_t size = data.size() - 1;
  if (static_cast<unsigned char>(data[0]) == kBitmapPosting) {
    if (size != kBitmapBytes) return false;
    for (std::size_t i = 0; i < size; ++i) {
      for (unsigned bits = bytes[i]; bits != 0; bits &= bits - 1) {
        rowids.push_back(base + static_cast<std::int64_t>(i * 8 + __builtin_ctz(bits)));
      }
    }
    return true;
  }
  if (static_cast<unsigned char>(data[0]) != kArrayPosting || size == 0 || size % 2 != 0) {
    return false;
  }
  int previous = -1;
  for (std::size_t i = 0; i < size; i += 2) {
    const int low = bytes[i] | (bytes[i + 1] << 8);
    if (low <= previous) return false;  // lists are strictly ascending
    rowids.push_back(base + low);
    previous = low;
  }
  return true;
}

}  // namespace

std::string IndexMatchName(MatchMode mode) {
  return mode == MatchMode::kLoose ? "loose" : "folded";
}

MatchMode MatchModeOfIndex(std::string_view name) {
  return name == "loose" ? MatchMode::kLoose : MatchMode::kFolded;
}

std::string LooseFoldingName() { return std::to_string(matching::kLooseFoldingVersion); }

std::string JoinedBooksText(const OneRowJoin& join) {
  return join.table + "," + join.joinedColumn + "," + join.bookColumn;
}

std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    names.emplace_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

std::optional<OneRowJoin> JoinedBooksOfText(std::string_view text) {
  const std::vector<std::string> names = SplitNames(text);
  if (names.size() != 3 || std::any_of(names.begin(), names.end(),
                                       [](const std::string& name) { return name.empty(); })) {
    return std::nullopt;
  }
  return OneRowJoin{names[0], names[1], names[2]};
}

bool IndexServes(MatchMode built, MatchMode searched) {
  return built == MatchMode::kLoose ? searched == MatchMode::kLoose : searched != MatchMode::kLoose;
}

std::vector<std::uint32_t> TextUnits(std::string_view text, MatchMode mode) {
  const MatchMode foldWith = mode == MatchMode::kLoose ? MatchMode::kLoose : MatchMode::kFolded;
  std::vector<std::uint32_t> units;
  for (std::size_t i = 0; i < text.size();) {
    const std::uint32_t unit = matching::NextUnit(text, i, foldWith);
    if (unit != matching::kIgnoredUnit) units.push_back(unit);
  }
  return units;
}

void AppendTextGrams(std::string_view text, std::vector<std::int64_t>& keys, MatchMode mode) {
  const std::vector<std::uint32_t> units = TextUnits(text, mode);
  for (std::size_t k = 0; k < units.size(); ++k) {
    keys.push_back(UnigramKey(units[k]));
    if (k > 0) keys.push_back(BigramKey(units[k - 1], units[k]));
  }
}

std::vector<std::int64_t> RequiredGramKeys(std::string_view pattern, MatchMode mode) {
  // The pattern falls into runs of literal characters between wildcards; a matching
  // text holds each run's folded units in a row. In the exact mode a character other
  // than half-width katakana folds the same alone as inside a text, so the folded
  // index still holds every exact match once such characters also end a run.
  // A run of one unit needs that unit; a longer run its pairs, which hold its units.
  // The loose mode's grams are those of the loosely folded text, where a separator
  // leaves its neighbours side by side.
  const MatchMode foldWith = mode == MatchMode::kLoose ? MatchMode::kLoose : MatchMode::kFolded;
  std::vector<std::int64_t> keys;
  std::vector<std::uint32_t> run;
  auto endRun = [&] {
    if (run.size() == 1) keys.push_back(UnigramKey(run[0]));
    for (std::size_t k = 1; k < run.size(); ++k) keys.push_back(BigramKey(run[k - 1], run[k]));
    run.clear();
  };
  for (std::size_t i = 0; i < pattern.size();) {
    if (IsWildcard(pattern, i) || (mode == MatchMode::kExact && IsHalfWidthKana(pattern, i))) {
      i += 1;
      endRun();
      continue;
    }
    const std::uint32_t unit = matching::NextUnit(pattern, i, foldWith);
    if (unit != matching::kIgnoredUnit) run.push_back(unit);
  }
  endRun();
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  crc = ~crc;
  for (char byte : bytes) crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::string EncodePosting(const std::vector<std::uint16_t>& lows, const PostingKey& key) {
  std::string data = EncodeList(lows);
  const std::uint32_t checksum = PostingChecksum(data, key);
  for (std::size_t i = 0; i < kChecksumBytes; ++i)
    data.push_back(static_cast<char>(checksum >> (8 * i)));
  return data;
}

namespace {

// The list of a posting without its checksum, when the checksum is right.
std::optional<std::string_view> CheckedList(std::string_view data, const PostingKey& key) {
  if (data.size() < kChecksumBytes) return std::nullopt;
  const std::string_view list = data.substr(0, data.size() - kChecksumBytes);
  std::uint32_t stored = 0;
  for (std::size_t i = 0; i < kChecksumBytes; ++i) {
    stored |= static_cast<std::uint32_t>(static_cast<unsigned char>(list.end()[i])) << (8 * i);
  }
  if (stored != PostingChecksum(list, key)) return std::nullopt;
  return list;
}

}  // namespace

bool DecodePosting(std::string_view data, const PostingKey& key,
                   std::vector<std::int64_t>& rowids) {
  const std::optional<std::string_view> list = CheckedList(data, key);
  return list && DecodeList(*list, key.chunk, rowids);
}

std::string_view PostingBitmap(std::string_view data, const PostingKey& key) {
  if (data.size() != 1 + kBitmapBytes + kChecksumBytes ||
      static_cast<unsigned char>(data[0]) != kBitmapPosting) {
    return {};
  }
  const std::optional<std::string_view> list = CheckedList(data, key);
  return list ? list->substr(1) : std::string_view();
}

namespace {

// A pattern that is one run of literal characters, with "%"s or nothing on each side.
struct LiteralRun {
  std::vector<std::uint32_t> units;
  bool atStart = false, atEnd = false;  // no "%" before it, after it
};

// The pattern's one run in the folded or the loose mode; nullopt for any other pattern
// or mode.
std::optional<LiteralRun> OneLiteralRun(std::string_view pattern, MatchMode mode) {
  if (mode == MatchMode::kExact) return std::nullopt;
  std::size_t i = 0;
  LiteralRun run;
  auto skipPercents = [&] {
    const std::size_t from = i;
    while (i < pattern.size() && IsWildcard(pattern, i) && pattern[i] == '%') ++i;
    return i > from;
  };
  run.atStart = !skipPercents();
  while (i < pattern.size() && !IsWildcard(pattern, i)) {
    const std::uint32_t unit = matching::NextUnit(pattern, i, mode);
    if (unit != matching::kIgnoredUnit) run.units.push_back(unit);
  }
  run.atEnd = !skipPercents();
  if (i != pattern.size()) return std::nullopt;
  return run;
}

std::int64_t GramOfUnits(const std::uint32_t* units, std::size_t count) {
  return count == 1 ? UnigramKey(units[0]) : BigramKey(units[0], units[1]);
}

// The end gram of the pattern: its last run's last pair or only unit, when the run ends
// the pattern. Only in the folded and loose modes, where a text's last unit is the last
// unit the pattern compares.
std::optional<std::int64_t> PatternEndGram(std::string_view pattern, MatchMode mode) {
  if (mode == MatchMode::kExact) return std::nullopt;
  std::vector<std::uint32_t> run;
  for (std::size_t i = 0; i < pattern.size();) {
    if (IsWildcard(pattern, i)) {
      ++i;
      run.clear();
      continue;
    }
    const std::uint32_t unit = matching::NextUnit(pattern, i, mode);
    if (unit != matching::kIgnoredUnit) run.push_back(unit);
  }
  if (run.empty()) return std::nullopt;
  const std::size_t count = std::min<std::size_t>(run.size(), 2);
  return kEndGramBit | GramOfUnits(run.data() + run.size() - count, count);
}

bool IsOneOrTwoUnits(const LiteralRun& run) {
  return run.units.size() == 1 || run.units.size() == 2;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> SingleRunUnits(std::string_view pattern, MatchMode mode) {
  // Without a "%" on both sides the run must stand at the start or the end of the
  // text, which holding its grams does not prove.
  std::optional<LiteralRun> run = OneLiteralRun(pattern, mode);
  if (!run || run->atStart || run->atEnd) return std::nullopt;
  return std::move(run->units);
}

bool PatternIsOneGram(std::string_view pattern, MatchMode mode) {
  return EdgeGramsDecide(pattern, mode, EdgeGrams{});
}

bool EdgeGramsDecide(std::string_view pattern, MatchMode mode, EdgeGrams parts) {
  const std::optional<LiteralRun> run = OneLiteralRun(pattern, mode);
  if (!run || !IsOneOrTwoUnits(*run)) return false;
  // The whole text's key and the end grams are one part; a run of one or two units
  // that begins the text is its start gram.
  if (run->atEnd) return parts.end;
  return !run->atStart || parts.start;
}

std::vector<std::int64_t> EdgeGramKeys(std::string_view pattern, MatchMode mode, EdgeGrams parts) {
  std::vector<std::int64_t> keys = RequiredGramKeys(pattern, mode);
  if (parts.start) {
    if (const std::optional<std::int64_t> start = PatternStartGram(pattern, mode)) {
      keys.push_back(*start);
    }
  }
  if (parts.end) {
    if (const std::optional<std::int64_t> end = PatternEndGram(pattern, mode)) keys.push_back(*end);
    const std::optional<LiteralRun> run = OneLiteralRun(pattern, mode);
    if (run && run->atStart && run->atEnd && IsOneOrTwoUnits(*run)) {
      keys.push_back(kStartGramBit | kEndGramBit |
                     GramOfUnits(run->units.data(), run->units.size()));
    }
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

void AppendEndGrams(std::string_view text, std::vector<std::int64_t>& keys, MatchMode mode) {
  const std::vector<std::uint32_t> units = TextUnits(text, mode);
  const std::size_t n = units.size();
  if (n == 0) return;
  keys.push_back(kEndGramBit | UnigramKey(units[n - 1]));
  if (n >= 2) keys.push_back(kEndGramBit | BigramKey(units[n - 2], units[n - 1]));
  if (n <= 2) keys.push_back(kStartGramBit | kEndGramBit | GramOfUnits(units.data(), n));
}

void AppendStartGrams(std::string_view text, std::vector<std::int64_t>& keys, MatchMode mode) {
  const MatchMode foldWith = mode == MatchMode::kLoose ? MatchMode::kLoose : MatchMode::kFolded;
  std::uint32_t units[2];
  int found = 0;
  for (std::size_t i = 0; i < text.size() && found < 2;) {
    const std::uint32_t unit = matching::NextUnit(text, i, foldWith);
    if (unit != matching::kIgnoredUnit) units[found++] = unit;
  }
  if (found >= 1) keys.push_back(kStartGramBit | UnigramKey(units[0]));
  if (found == 2) keys.push_back(kStartGramBit | BigramKey(units[0], units[1]));
}

std::optional<std::int64_t> PatternStartGram(std::string_view pattern, MatchMode mode) {
  const MatchMode foldWith = mode == MatchMode::kLoose ? MatchMode::kLoose : MatchMode::kFolded;
  std::uint32_t units[2];
  int found = 0;
  // The run that begins the pattern, as RequiredGramKeys cuts runs.
  for (std::size_t i = 0; i < pattern.size() && found < 2;) {
    if (IsWildcard(pattern, i) || (mode == MatchMode::kExact && IsHalfWidthKana(pattern, i))) break;
    const std::uint32_t unit = matching::NextUnit(pattern, i, foldWith);
    if (unit != matching::kIgnoredUnit) units[found++] = unit;
  }
  if (found == 0) return std::nullopt;
  return kStartGramBit | (found == 1 ? UnigramKey(units[0]) : BigramKey(units[0], units[1]));
}

}  // namespace db::searchindex
