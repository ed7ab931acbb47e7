#include "db/postgres/postgres_ranked_tiers.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>

#include "db/postgres/postgres_server_text.h"
#include "db/sql_scanner.h"
#include "matching/sjis_like.h"
#include "platform/sjis.h"

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
    words += tokens[t].word.empty()
                 ? std::string(text.substr(tokens[t].start, tokens[t].end - tokens[t].start))
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
      if (tokens[t].word == "CASE" || tokens[t].word == "WHEN" || text[tokens[t].start] == '$' ||
          text[tokens[t].start] == '?')
        return std::nullopt;
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

std::string FoldedOrderIndex(std::string_view column, MatchMode mode) {
  std::string name = "liraweb_folded_";
  for (char c : column)
    name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return name + (mode == MatchMode::kLoose ? std::string(kLooseIndexSuffix) : "");
}

std::string FoldedEndingIndex(std::string_view column, MatchMode mode) {
  return FoldedOrderIndex("ends_" + std::string(column), mode);
}

namespace {

// Whether the Shift_JIS `text` holds one of the single-byte characters `ascii` (a
// second byte of a double-byte character may have their codes).
bool HoldsAnyOf(std::string_view text, std::string_view ascii) {
  for (std::size_t i = 0; i < text.size(); i += platform::CharLength(text, i)) {
    if (platform::CharLength(text, i) == 1 && ascii.find(text[i]) != std::string_view::npos)
      return true;
  }
  return false;
}

// The text an SQL string literal (quotes included) stands for.
std::string Unquoted(std::string_view literal) {
  std::string text;
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    text.push_back(literal[i]);
    if (literal[i] == '\'' && literal[i + 1] == '\'') ++i;
  }
  return text;
}

// A statement of the best-match shape: the text before WHERE (or ORDER BY), the WHERE
// condition in parentheses (empty without), the tiers' conditions, and the ORDER BY
// of the ties as the tiers' statements write it.
struct RankedShape {
  std::string head, where;
  std::vector<std::string> conditions;
  std::string order;
};

std::optional<RankedShape> ParseRanked(std::string_view text) {
  const std::vector<Token> tokens = SignificantTokens(text);
  if (tokens.empty() || tokens[0].word != "SELECT") return std::nullopt;
  std::size_t end = tokens.size();
  while (end > 0 && text[tokens[end - 1].start] == ';') --end;
  std::optional<std::size_t> whereAt, orderAt;
  for (std::size_t t = 0; t < end; ++t) {
    if (tokens[t].depth != 0) {
      if (tokens[t].depth < 0) return std::nullopt;
      continue;
    }
    const std::string& word = tokens[t].word;
    if (word == "WHERE" && !whereAt) whereAt = t;
    if (word == "ORDER" && t + 1 < end && tokens[t + 1].word == "BY") orderAt = t;
    if (word == "DISTINCT" || word == "GROUP" || word == "HAVING" || word == "WINDOW" ||
        word == "LIMIT" || word == "OFFSET" || word == "FETCH" || word == "FOR" ||
        word == "UNION" || word == "INTERSECT" || word == "EXCEPT" || word == "INTO" ||
        word == "WITH" || (word == "SELECT" && t > 0))
      return std::nullopt;
  }
  if (!orderAt || (whereAt && *whereAt > *orderAt)) return std::nullopt;
  // The ORDER BY items, split at the commas of its level.
  std::vector<std::pair<std::size_t, std::size_t>> items;
  std::size_t itemStart = *orderAt + 2;
  for (std::size_t t = itemStart; t <= end; ++t) {
    if (t == end || (tokens[t].depth == 0 && text[tokens[t].start] == ',')) {
      if (t == itemStart) return std::nullopt;
      items.emplace_back(itemStart, t);
      itemStart = t + 1;
    }
  }
  RankedShape shape;
  if (items.size() == 4) {
    auto tiers = TierConditions(text, tokens, items[0].first, items[0].second);
    if (!tiers) return std::nullopt;
    shape.conditions = std::move(*tiers);
    items.erase(items.begin());
  }
  if (items.size() != 3) return std::nullopt;
  // "Y IS NULL", "Y DESC", "K" or "K ASC", with Y and K names.
  auto [keyFrom, keyTo] = items[2];
  if (keyTo - keyFrom > 1 && tokens[keyTo - 1].word == "ASC") --keyTo;
  const std::string year(Span(text, tokens, items[1].first, items[1].second - 1));
  const std::string key(Span(text, tokens, keyFrom, keyTo));
  const std::string yearWords = Words(text, tokens, items[1].first, items[1].second - 1);
  if (!IsName(yearWords) || !IsName(Words(text, tokens, keyFrom, keyTo)) ||
      tokens[items[1].second - 1].word != "DESC" ||
      Words(text, tokens, items[0].first, items[0].second) != yearWords + " IS NULL")
    return std::nullopt;
  shape.head = text.substr(0, tokens[whereAt ? *whereAt : *orderAt].start);
  if (whereAt) shape.where = "(" + std::string(Span(text, tokens, *whereAt + 1, *orderAt)) + ")";
  shape.order = "\nORDER BY " + year + " DESC NULLS LAST, " + key;
  return shape;
}

// The folded range a condition implies (FoldedRangeCondition), read from its tokens:
// an OR of sides that each give one, the first side of an AND that gives one, a group's
// inside, or a comparison "column LIKE 'text...'" of an indexed column.
class FoldedRange {
 public:
  FoldedRange(std::string_view text, MatchMode mode, const FoldedIndexChoice& indexed)
      : text_(text),
        tokens_(SignificantTokens(text)),
        mode_(mode),
        fold_(mode == MatchMode::kLoose ? kLooseFoldFunction : kFoldFunction),
        foldPattern_(mode == MatchMode::kLoose ? kLooseFoldPatternFunction : kFoldPatternFunction),
        indexed_(indexed) {}

  std::optional<std::string> Whole() {
    for (const Token& token : tokens_) {
      if (token.depth < 0) return std::nullopt;
    }
    return tokens_.empty() ? std::nullopt : Or(0, tokens_.size());
  }

 private:
  // The spans of tokens_[from, to) between the words `word` of its outer level.
  std::vector<std::pair<std::size_t, std::size_t>> Split(std::size_t from, std::size_t to,
                                                         const char* word) const {
    std::vector<std::pair<std::size_t, std::size_t>> sides;
    std::size_t sideStart = from;
    for (std::size_t t = from; t < to; ++t) {
      if (tokens_[t].depth == tokens_[from].depth && tokens_[t].word == word) {
        sides.emplace_back(sideStart, t);
        sideStart = t + 1;
      }
    }
    sides.emplace_back(sideStart, to);
    return sides;
  }

  std::optional<std::string> Or(std::size_t from, std::size_t to) const {
    const auto sides = Split(from, to, "OR");
    std::string joined;
    for (const auto& [sideFrom, sideTo] : sides) {
      const std::optional<std::string> side = And(sideFrom, sideTo);
      if (!side) return std::nullopt;
      joined += (joined.empty() ? "" : " OR ") + *side;
    }
    return sides.size() == 1 ? joined : "(" + joined + ")";
  }

  std::optional<std::string> And(std::size_t from, std::size_t to) const {
    std::vector<std::string> sides;
    for (const auto& [sideFrom, sideTo] : Split(from, to, "AND")) {
      if (std::optional<std::string> side = Factor(sideFrom, sideTo)) sides.push_back(*side);
    }
    if (sides.empty()) return std::nullopt;
    std::string joined;
    for (const std::string& side : sides) joined += (joined.empty() ? "" : " AND ") + side;
    return sides.size() == 1 ? joined : "(" + joined + ")";
  }

  std::optional<std::string> Factor(std::size_t from, std::size_t to) const {
    if (from >= to) return std::nullopt;
    const auto symbol = [this](std::size_t t, char c) {
      return tokens_[t].word.empty() && text_[tokens_[t].start] == c;
    };
    if (symbol(from, '(') && symbol(to - 1, ')') && tokens_[to - 1].depth == tokens_[from].depth) {
      // A group only when its parentheses match each other.
      for (std::size_t t = from + 1; t + 1 < to; ++t) {
        if (tokens_[t].depth <= tokens_[from].depth) return std::nullopt;
      }
      return Or(from + 1, to - 1);
    }
    if (to - from < 3 || tokens_[to - 2].word != "LIKE" || text_[tokens_[to - 1].start] != '\'')
      return std::nullopt;
    const std::string column(Span(text_, tokens_, from, to - 2));
    const std::string_view literal = Span(text_, tokens_, to - 1, to);
    if (!IsName(Words(text_, tokens_, from, to - 2)) || literal.size() < 3 || literal[1] == '_')
      return std::nullopt;
    if (literal[1] == '%') return Ending(column, literal);
    if (!indexed_(column, FoldedIndexKind::kBeginning)) return std::nullopt;
    return std::string(fold_) + "(" + column + ") COLLATE \"C\" LIKE " + std::string(foldPattern_) +
           "(" + std::string(literal) + ") ESCAPE '\\'";
  }

  // "column LIKE '%word'" as a range of the reversed B-tree. Reversing the folded
  // pattern keeps its meaning only while it holds no wildcard but the first "%" and no
  // escape, which the folded word is checked for.
  std::optional<std::string> Ending(const std::string& column, std::string_view literal) const {
    const std::string word = Unquoted(literal).substr(1);
    if (word.empty() || HoldsAnyOf(word, "%_") || !indexed_(column, FoldedIndexKind::kEnding))
      return std::nullopt;
    const std::string folded = matching::FoldedText(word, mode_);
    if (folded.empty() || HoldsAnyOf(folded, "%_\\")) return std::nullopt;
    return "reverse(" + std::string(fold_) + "(" + column + ")) COLLATE \"C\" LIKE reverse(" +
           std::string(foldPattern_) + "(" + std::string(literal) + ")) ESCAPE '\\'";
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  MatchMode mode_;
  std::string_view fold_, foldPattern_;
  const FoldedIndexChoice& indexed_;
};

}  // namespace

std::optional<std::string> FoldedRangeCondition(std::string_view condition, MatchMode mode,
                                                const FoldedIndexChoice& indexed) {
  return FoldedRange(condition, mode, indexed).Whole();
}

std::vector<std::string> RankedTierTexts(std::string_view text) {
  return RankedTierTexts(text, text, MatchMode::kExact,
                         [](const std::string&, FoldedIndexKind) { return false; });
}

std::vector<std::string> RankedTierTexts(std::string_view sql, std::string_view serverText,
                                         MatchMode mode, const FoldedIndexChoice& indexed) {
  const std::optional<RankedShape> shape = ParseRanked(serverText);
  if (!shape) return {};
  // The folded ranges come from the statement as the program wrote it, whose tiers
  // are those of its server text.
  std::vector<std::optional<std::string>> ranges(shape->conditions.size());
  if (mode != MatchMode::kExact) {
    const std::optional<RankedShape> written = ParseRanked(sql);
    if (written && written->conditions.size() == ranges.size()) {
      for (std::size_t tier = 0; tier < ranges.size(); ++tier)
        ranges[tier] = FoldedRangeCondition(written->conditions[tier], mode, indexed);
    }
  }
  std::vector<std::string> tierTexts;
  for (std::size_t tier = 0; tier <= shape->conditions.size(); ++tier) {
    std::string parts = shape->where;
    auto add = [&parts](const std::string& part) {
      parts += (parts.empty() ? "" : "\nAND ") + part;
    };
    if (tier < shape->conditions.size()) {
      add("(" + shape->conditions[tier] + ")");
      if (ranges[tier]) add(*ranges[tier]);
    }
    for (std::size_t earlier = 0; earlier < tier; ++earlier)
      add("(" + shape->conditions[earlier] + ") IS NOT TRUE");
    tierTexts.push_back(shape->head + (parts.empty() ? "" : "WHERE " + parts) + shape->order);
  }
  return tierTexts;
}

}  // namespace db
