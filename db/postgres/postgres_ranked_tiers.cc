#include "db/postgres/postgres_ranked_tiers.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "db/sql_scanner.h"

namespace db {

namespace {

// A token of the statement other than blanks and comments, with the depth of
// parentheses it stands at.
struct Token {
  std::size_t start, end;
  int depth;
  std::string word;  // in upper case, for a word; empty otherwise
};

std::vector<Token> SignificantTokens(std::string_view text) {
  std::vector<Token> tokens;
  int depth = 0;
  for (std::size_t i = 0; i < text.size();) {
    const SqlToken token = ScanSqlToken(text, i);
    i = token.end;
    if (token.kind == SqlTokenKind::kBlank || token.kind == SqlTokenKind::kComment) continue;
    const char c = text[token.start];
    if (token.kind == SqlTokenKind::kSymbol && c == ')') --depth;
    std::string word;
    if (token.kind == SqlTokenKind::kWord) {
      for (std::size_t k = token.start; k < token.end; ++k)
        word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[k]))));
    }
    tokens.push_back({token.start, token.end, depth, std::move(word)});
    if (token.kind == SqlTokenKind::kSymbol && c == '(') ++depth;
  }
  return tokens;
}

// The text of tokens[from, to) as written.
std::string_view Span(std::string_view text, const std::vector<Token>& tokens, std::size_t from,
                      std::size_t to) {
  if (from >= to) return {};
  return text.substr(tokens[from].start, tokens[to - 1].end - tokens[from].start);
}

// The tokens of tokens[from, to), words in upper case and one blank between two words:
// what two spellings of one expression have alike.
std::string Words(std::string_view text, const std::vector<Token>& tokens, std::size_t from,
                  std::size_t to) {
  std::string words;
  for (std::size_t t = from; t < to; ++t) {
    if (t > from && !tokens[t].word.empty() && !tokens[t - 1].word.empty()) words += ' ';
    words += tokens[t].word.empty() ? std::string(text.substr(tokens[t].start,
                                                              tokens[t].end - tokens[t].start))
                                    : tokens[t].word;
  }
  return words;
}

// A column name, bare or after one table name.
bool IsName(const std::string& words) {
  return !words.empty() && !std::isdigit(static_cast<unsigned char>(words[0])) &&
         std::all_of(words.begin(), words.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
         });
}

// The conditions c0, c1, ... of "CASE WHEN c0 THEN 0 WHEN c1 THEN 1 ... ELSE n END" at
// tokens[from, to), the numbers counting from 0; nullopt for any other expression.
std::optional<std::vector<std::string>> TierConditions(std::string_view text,
                                                       const std::vector<Token>& tokens,
                                                       std::size_t from, std::size_t to) {
  if (to - from < 4 || tokens[from].word != "CASE" || tokens[to - 1].word != "END")
    return std::nullopt;
  const int depth = tokens[from].depth;
  std::vector<std::string> conditions;
  std::size_t t = from + 1;
  while (t < to - 1 && tokens[t].word == "WHEN") {
    const std::size_t conditionStart = ++t;
    for (; t < to - 1 && !(tokens[t].depth == depth && tokens[t].word == "THEN"); ++t) {
      if (tokens[t].word == "CASE" || tokens[t].word == "WHEN") return std::nullopt;
    }
    if (t + 2 >= to || t == conditionStart ||
        tokens[t + 1].word != std::to_string(conditions.size()))
      return std::nullopt;
    conditions.emplace_back(Span(text, tokens, conditionStart, t));
    t += 2;
  }
  if (conditions.empty() || t + 3 != to || tokens[t].word != "ELSE" ||
      tokens[t + 1].word != std::to_string(conditions.size()))
    return std::nullopt;
  return conditions;
}

}  // namespace

std::vector<std::string> RankedTierTexts(std::string_view text) {
  const std::vector<Token> tokens = SignificantTokens(text);
  if (tokens.empty() || tokens[0].word != "SELECT") return {};
  std::size_t end = tokens.size();
  while (end > 0 && text[tokens[end - 1].start] == ';') --end;
  std::optional<std::size_t> whereAt, orderAt;
  for (std::size_t t = 0; t < end; ++t) {
    if (tokens[t].depth != 0) {
      if (tokens[t].depth < 0) return {};
      continue;
    }
    const std::string& word = tokens[t].word;
    if (word == "WHERE" && !whereAt) whereAt = t;
    if (word == "ORDER" && t + 1 < end && tokens[t + 1].word == "BY") orderAt = t;
    if (word == "DISTINCT" || word == "GROUP" || word == "HAVING" || word == "WINDOW" ||
        word == "LIMIT" || word == "OFFSET" || word == "FETCH" || word == "FOR" ||
        word == "UNION" || word == "INTERSECT" || word == "EXCEPT" || word == "INTO" ||
        word == "WITH" || (word == "SELECT" && t > 0))
      return {};
  }
  if (!orderAt || (whereAt && *whereAt > *orderAt)) return {};
  // The ORDER BY items, split at the commas of its level.
  std::vector<std::pair<std::size_t, std::size_t>> items;
  std::size_t itemStart = *orderAt + 2;
  for (std::size_t t = itemStart; t <= end; ++t) {
    if (t == end || (tokens[t].depth == 0 && text[tokens[t].start] == ',')) {
      if (t == itemStart) return {};
      items.emplace_back(itemStart, t);
      itemStart = t + 1;
    }
  }
  std::vector<std::string> conditions;
  if (items.size() == 4) {
    auto tiers = TierConditions(text, tokens, items[0].first, items[0].second);
    if (!tiers) return {};
    conditions = std::move(*tiers);
    items.erase(items.begin());
  }
  if (items.size() != 3) return {};
  // "Y IS NULL", "Y DESC", "K" or "K ASC", with Y and K names.
  auto [keyFrom, keyTo] = items[2];
  if (keyTo - keyFrom > 1 && tokens[keyTo - 1].word == "ASC") --keyTo;
  const std::string year(Span(text, tokens, items[1].first, items[1].second - 1));
  const std::string key(Span(text, tokens, keyFrom, keyTo));
  const std::string yearWords = Words(text, tokens, items[1].first, items[1].second - 1);
  if (!IsName(yearWords) || !IsName(Words(text, tokens, keyFrom, keyTo)) ||
      tokens[items[1].second - 1].word != "DESC" ||
      Words(text, tokens, items[0].first, items[0].second) != yearWords + " IS NULL")
    return {};

  const std::string head(text.substr(0, tokens[whereAt ? *whereAt : *orderAt].start));
  const std::string where =
      whereAt ? "(" + std::string(Span(text, tokens, *whereAt + 1, *orderAt)) + ")" : "";
  const std::string order = "\nORDER BY " + year + " DESC NULLS LAST, " + key;
  std::vector<std::string> tierTexts;
  for (std::size_t tier = 0; tier <= conditions.size(); ++tier) {
    std::string parts = where;
    auto add = [&parts](const std::string& part) {
      parts += (parts.empty() ? "" : "\nAND ") + part;
    };
    if (tier < conditions.size()) add("(" + conditions[tier] + ")");
    for (std::size_t earlier = 0; earlier < tier; ++earlier)
      add("(" + conditions[earlier] + ") IS NOT TRUE");
    tierTexts.push_back(head + (parts.empty() ? "" : "WHERE " + parts) + order);
  }
  return tierTexts;
}

}  // namespace db
