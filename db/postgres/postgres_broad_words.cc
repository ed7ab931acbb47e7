#include "db/postgres/postgres_broad_words.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/sjis.h"

namespace db::postgres {

namespace {

// Above this share of the rows a word is held by, its n-gram condition is left out.
constexpr double kBroadShare = 0.125;

// True when every gram of the word is one character: only such words are held by a good
// share of a catalogue's rows (a kana, a particle), and asking costs a request time.
bool OneCharacterGrams(const NarrowableWord& word) {
  for (const std::string& gram : word.grams) {
    if (gram.empty() || platform::CharLength(gram, 0) != gram.size()) return false;
  }
  return true;
}

}  // namespace

// The statistics are those the server keeps on the column's n-gram index (made by the
// catalogue tools as liraweb_grams_<column>, and ..._loose2 for the loose mode): the
// tools' copy of them when it is there, otherwise the statistics view. Only words of
// one-character grams are asked about; a column without such an index or statistics has
// no broad words.
std::vector<bool> BroadWords(Session& session, const std::vector<NarrowableWord>& words) {
  // The loose mode's indexes are those over the loose folding, named "..._loose2".
  const std::string suffix(session.Match == MatchMode::kLoose ? kLooseIndexSuffix : "");
  auto indexName = [suffix](const NarrowableWord& word) {
    std::string column = word.column.substr(word.column.rfind('.') + 1);
    for (char& c : column) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::string(kGramsFunction) + "_" + column + suffix;
  };
  auto key = [&indexName](const NarrowableWord& word) {
    std::string text = indexName(word);
    for (const std::string& gram : word.grams) text += '\x01' + gram;
    return text;
  };
  std::string names, grams;
  std::vector<const NarrowableWord*> asked;
  for (const NarrowableWord& word : words) {
    if (!OneCharacterGrams(word) || session.BroadWords.count(key(word))) continue;
    session.BroadWords[key(word)] = false;
    asked.push_back(&word);
    names += (names.empty() ? "" : ",") + QuotedLiteral(indexName(word));
    for (const std::string& gram : word.grams)
      grams += (grams.empty() ? "" : ",") + QuotedLiteral(gram);
  }
  if (!asked.empty()) {
    // The share of rows holding each gram, by index; a gram below the statistics' most
    // common elements is rare.
    Result shares =
        session.Run(session.GramSharesKept
                        ? "SELECT index_name, gram, share FROM " + std::string(kGramSharesTable) +
                              " WHERE index_name IN (" + names + ") AND gram = ANY (ARRAY[" +
                              grams + "]::text[])"
                        : "SELECT s.tablename, g, s.most_common_elem_freqs[array_position("
                          "s.most_common_elems::text::text[], g)] FROM pg_stats s, unnest(ARRAY[" +
                              grams +
                              "]::text[]) AS g WHERE s.schemaname = current_schema() AND "
                              "s.tablename IN (" +
                              names + ")");
    std::map<std::string, double> share;  // by index name and gram
    for (int row = 0; row < PQntuples(shares.get()); ++row) {
      const char* value = PQgetvalue(shares.get(), row, 2);
      share[std::string(PQgetvalue(shares.get(), row, 0)) + '\x01' +
            PQgetvalue(shares.get(), row, 1)] =
          PQgetisnull(shares.get(), row, 2) ? 0 : std::atof(value);
    }
    for (const NarrowableWord* word : asked) {
      bool broad = !word->grams.empty();
      for (const std::string& gram : word->grams) {
        auto found = share.find(indexName(*word) + '\x01' + gram);
        broad = broad && found != share.end() && found->second > kBroadShare;
      }
      session.BroadWords[key(*word)] = broad;
    }
  }
  std::vector<bool> broad;
  for (const NarrowableWord& word : words) broad.push_back(session.BroadWords[key(word)]);
  return broad;
}

}  // namespace db::postgres
