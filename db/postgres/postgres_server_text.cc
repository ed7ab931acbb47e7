#include "db/postgres/postgres_server_text.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <map>
#include <optional>

#include "db/sql_scanner.h"
#include "matching/sjis_like.h"
#include "matching/stored_forms.h"
#include "platform/sjis.h"

namespace db {

namespace {

bool IsWordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Upper(std::string_view text) {
  std::string upper;
  for (char c : text)
    upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return upper;
}

bool OneOf(const std::string& word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// The next word at or after sql[i], blanks skipped, in upper case.
std::string NextWord(std::string_view sql, std::size_t i) {
  while (i < sql.size() && IsBlank(sql[i])) ++i;
  std::string word;
  for (; i < sql.size() && IsWordByte(sql[i]); ++i)
    word.push_back(static_cast<char>(std::toupper(sql[i])));
  return word;
}

// The text of a quoted literal, its doubled quotes single again.
std::string LiteralText(std::string_view quoted) {
  std::string text;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    text.push_back(quoted[i]);
    if (quoted[i] == '\'') ++i;
  }
  return text;
}

// A column name, bare or after one table name: what an expression index can be on.
bool IsPlainColumn(std::string_view operand) {
  std::size_t dot = operand.find('.');
  auto name = [](std::string_view part) {
    return !part.empty() && !(part[0] >= '0' && part[0] <= '9') &&
           std::all_of(part.begin(), part.end(), IsWordByte);
  };
  return dot == std::string_view::npos
             ? name(operand)
             : name(operand.substr(0, dot)) && name(operand.substr(dot + 1));
}

// Words after which a new operand begins: the left side of a LIKE starts there.
bool StartsOperand(const std::string& word) {
  return OneOf(word, {"AND", "OR", "NOT", "WHERE", "WHEN", "THEN", "ELSE", "ON", "SELECT", "HAVING",
                      "BY", "CASE", "DISTINCT", "SET", "USING", "EXISTS", "IN"});
}

// Words that end the pattern of a LIKE: it binds more loosely than these begin.
bool EndsOperand(const std::string& word) {
  return OneOf(
      word, {"AND",    "OR",    "ESCAPE",  "THEN",  "WHEN",   "ELSE",      "END",  "ORDER", "GROUP",
             "HAVING", "LIMIT", "OFFSET",  "UNION", "EXCEPT", "INTERSECT", "FROM", "AS",    "IS",
             "NOT",    "IN",    "BETWEEN", "LIKE",  "ILIKE",  "SIMILAR",   "ASC",  "DESC",  "ON",
             "JOIN",   "WHERE", "FOR",     "FETCH", "INTO",   "RETURNING"});
}

// At most this many LIKE patterns stand for a short word's forms; beyond, one regular
// expression does.
constexpr std::size_t kMostLikePatterns = 4;
// The longest regular expression over the stored forms sent to the server: a word longer
// than a title or two is compared folded, as the server compiles an expression of
// megabytes slowly or refuses it.
constexpr std::size_t kMostStoredFormsRegexBytes = 4096;

bool IsComparison(char c) { return c == '=' || c == '<' || c == '>' || c == '!'; }

// A condition "fold(col) LIKE fold_pattern('literal') ESCAPE '\'" at out[start, end).
struct Condition {
  std::size_t start, end;
  std::string narrowing;  // its n-gram condition
};

// A level of parentheses (the whole statement being the outermost).
struct Level {
  std::size_t open = 0;       // the "(" that opened it
  std::size_t exprStart = 0;  // where the operand being written began
  std::vector<Condition> conditions;
  bool call = false;  // the "(" of a function call
};

// A LIKE whose pattern is being written.
struct Pattern {
  std::size_t depth = 0;  // the level count when LIKE was read
  std::size_t conditionStart = 0;
  std::string column;  // the left side when it is a plain column
  bool negated = false;
  std::size_t leftClose = std::string::npos;  // just after the folded left side
  std::size_t start = std::string::npos, end = 0;
  int tokens = 0;
  std::optional<std::string> literal;  // the text of a pattern written as one literal
};

// How the literal pattern of a condition is written, worked out once per statement:
// a search statement repeats each word for several columns, and a patron may type a
// word many times.
struct WordForms {
  std::vector<std::string> grams;
  std::size_t longestRun = 0;
  // A word is compared over the stored column, each character as every form that
  // folds to it, and the n-gram index finds its rows: the candidates are then compared
  // without folding any of them, where a trigram index over the folded column makes
  // the server fold every candidate (79,000 books of a four-character word: 1.1 s
  // against 0.15 s). A few LIKE patterns are compared faster than a regular expression.
  std::optional<std::string> regex;
  std::optional<std::vector<std::string>> likes;
};

// The forms of the literal patterns of one statement, by pattern.
class WordFormsCache {
 public:
  WordFormsCache(MatchMode mode, FoldedWords foldedWords)
      : mode_(mode), foldedWords_(foldedWords) {}

  const WordForms& FormsOf(const std::string& literal) {
    auto known = words_.find(literal);
    if (known != words_.end()) return known->second;
    WordForms word;
    word.grams = RequiredGramTexts(literal, &word.longestRun, mode_);
    if (!word.grams.empty() && foldedWords_ == FoldedWords::kStoredForms) {
      word.regex = matching::StoredFormsRegex(literal, mode_, kMostStoredFormsRegexBytes);
      if (word.regex)
        word.likes = matching::StoredFormsLikePatterns(literal, kMostLikePatterns, mode_);
    }
    return words_.emplace(literal, std::move(word)).first->second;
  }

 private:
  const MatchMode mode_;
  const FoldedWords foldedWords_;
  std::map<std::string, WordForms> words_;  // by literal pattern
};

// The condition comparing `column` with the stored forms of `word`: the LIKE patterns
// of its forms when there are few, otherwise its regular expression.
std::string StoredFormsCondition(const std::string& column, const WordForms& word) {
  const std::string operand = column + "::text COLLATE \"C\"";
  if (!word.likes) return operand + " ~ " + QuotedLiteral(*word.regex);
  std::string condition = "(";
  for (std::size_t l = 0; l < word.likes->size(); ++l)
    condition +=
        (l ? " OR " : "") + operand + " LIKE " + QuotedLiteral((*word.likes)[l]) + " ESCAPE ''";
  return condition + ")";
}

// The n-gram condition "grams(fold(column)) @> ARRAY[...]" that lets the n-gram index
// find the rows holding every gram.
std::string GramCondition(std::string_view fold, const std::string& column,
                          const std::vector<std::string>& grams) {
  std::string narrowing =
      std::string(kGramsFunction) + "(" + std::string(fold) + "(" + column + ")) @> ARRAY[";
  for (std::size_t g = 0; g < grams.size(); ++g)
    narrowing += (g ? "," : "") + QuotedLiteral(grams[g]);
  return narrowing + "]::text[]";
}

// Each narrowable condition of `conditions` becomes "(condition AND narrowing)" in `out`;
// from the last to the first, so that the earlier positions stay valid.
void NarrowEach(std::string& out, const std::vector<Condition>& conditions) {
  for (auto condition = conditions.rbegin(); condition != conditions.rend(); ++condition) {
    if (condition->narrowing.empty()) continue;
    out.insert(condition->end, " AND " + condition->narrowing + ")");
    out.insert(condition->start, "(");
  }
}

// Whether the group just closed at the end of `out` is "( c1 OR c2 ... )" of its
// conditions alone.
bool OnlyOrOfConditions(const std::string& out, const Level& group) {
  if (group.call || group.conditions.empty()) return false;
  auto onlyBlanksAndOr = [&out](std::size_t from, std::size_t to) {
    std::string rest = Upper(out.substr(from, to - from));
    std::size_t orAt = rest.find("OR");
    if (orAt != std::string::npos) rest.erase(orAt, 2);
    return std::all_of(rest.begin(), rest.end(), IsBlank);
  };
  std::size_t at = group.open + 1;
  for (const Condition& condition : group.conditions) {
    if (!onlyBlanksAndOr(at, condition.start)) return false;
    at = condition.end;
  }
  return onlyBlanksAndOr(at, out.size() - 1);
}

// A group "( c1 OR c2 ... )" of narrowable conditions gets the OR of their n-gram
// conditions beside it, "(( c1 OR c2 ) AND ( n1 OR n2 ))", which lets the planner
// answer it from the indexes; conditions in any other group are narrowed each alone.
void NarrowGroup(std::string& out, const Level& group) {
  if (!OnlyOrOfConditions(out, group)) {
    NarrowEach(out, group.conditions);
    return;
  }
  for (const Condition& condition : group.conditions) {
    if (condition.narrowing.empty()) return;
  }
  std::string narrowing = " AND (";
  for (std::size_t c = 0; c < group.conditions.size(); ++c)
    narrowing += (c ? " OR " : "") + group.conditions[c].narrowing;
  out += narrowing + "))";
  out.insert(group.open, "(");
}

// The folded rewriting of LIKE, fed the statement token by token while its server text
// is written into `out`. Positions are offsets into `out`; text is only ever inserted
// at or after the positions still remembered, so they stay valid.
class FoldedLike {
 public:
  FoldedLike(std::string& out, MatchMode mode, FoldedWords foldedWords,
             const NarrowingChoice& narrow)
      : out_(out),
        fold_(mode == MatchMode::kLoose ? kLooseFoldFunction : kFoldFunction),
        foldPattern_(mode == MatchMode::kLoose ? kLooseFoldPatternFunction : kFoldPatternFunction),
        words_(mode, foldedWords),
        narrow_(narrow) {
    levels_.push_back({});
  }

  // Before the token sql[i, end) is written: a token that ends a pattern closes it.
  void BeforeToken(std::string_view sql, std::size_t i, std::size_t end) {
    if (!pattern_) return;
    const char c = sql[i];
    const bool atPatternLevel = levels_.size() == pattern_->depth;
    if (IsWordByte(c)) {
      const std::string word = Upper(sql.substr(i, end - i));
      if (atPatternLevel && EndsOperand(word)) ClosePattern(word == "ESCAPE");
    } else if (c == ')' ? levels_.size() <= pattern_->depth
                        : atPatternLevel && (c == ',' || c == ';' || IsComparison(c))) {
      ClosePattern(false);
    }
  }

  // After the token was written at out[tokenAt, out.size()).
  void AfterToken(std::string_view sql, std::size_t i, std::size_t end, std::size_t tokenAt,
                  bool literal) {
    const char c = sql[i];
    const bool blank = IsBlank(c) || sql.substr(i, 2) == "--" || sql.substr(i, 2) == "/*";
    if (blank) return;
    const std::string word = IsWordByte(c) ? Upper(sql.substr(i, end - i)) : "";
    if (pattern_ && levels_.size() >= pattern_->depth) {
      if (pattern_->start == std::string::npos) pattern_->start = tokenAt;
      pattern_->end = out_.size();
      ++pattern_->tokens;
      if (pattern_->tokens == 1 && literal) pattern_->literal = LiteralText(sql.substr(i, end - i));
    }
    if (c == '(') {
      levels_.push_back({tokenAt, out_.size(), {}, lastWasWord_});
    } else if (c == ')' && levels_.size() > 1) {
      Level group = std::move(levels_.back());
      levels_.pop_back();
      NarrowGroup(out_, group);
    } else if (IsWordByte(c)) {
      if (word == "LIKE") {
        OpenPattern(tokenAt);
      } else if (word == "NOT" && NextWord(sql, end) == "LIKE") {
        notAt_ = tokenAt;
      } else if (word == "END" && openCases_ > 0) {
        --openCases_;
      } else if (StartsOperand(word)) {
        if (word == "CASE") ++openCases_;
        levels_.back().exprStart = out_.size();
      }
    } else if (c == ',' || c == ';' || IsComparison(c)) {
      levels_.back().exprStart = out_.size();
    }
    // A name before "(" calls a function; a keyword before it opens a group.
    lastWasWord_ = IsWordByte(c) && !StartsOperand(word) && !EndsOperand(word);
  }

  void Finish() {
    if (pattern_) ClosePattern(false);
    while (!levels_.empty()) {
      NarrowEach(out_, levels_.back().conditions);
      levels_.pop_back();
    }
  }

 private:
  // "LIKE" was written at out[likeAt]: its left side, back to where the operand began,
  // goes through the folding function.
  void OpenPattern(std::size_t likeAt) {
    std::size_t leftEnd = notAt_ != std::string::npos ? notAt_ : likeAt;
    const bool negated = notAt_ != std::string::npos;
    notAt_ = std::string::npos;
    std::size_t leftStart = levels_.back().exprStart;
    while (leftStart < leftEnd && IsBlank(out_[leftStart])) ++leftStart;
    while (leftEnd > leftStart && IsBlank(out_[leftEnd - 1])) --leftEnd;
    std::string column = out_.substr(leftStart, leftEnd - leftStart);
    std::size_t leftClose = std::string::npos;
    if (leftStart < leftEnd) {
      out_.insert(leftEnd, ")");
      out_.insert(leftStart, std::string(fold_) + "(");
      leftClose = leftEnd + fold_.size() + 2;
    }
    pattern_.emplace();
    pattern_->depth = levels_.size();
    pattern_->conditionStart = leftStart;
    pattern_->column = IsPlainColumn(column) ? column : "";
    pattern_->negated = negated;
    pattern_->leftClose = leftClose;
  }

  // The pattern ends at out[pattern_->end]; `escapeFollows` when the statement gives its
  // own ESCAPE clause, which then applies to the plainly folded pattern. A positive
  // condition of a plain column and one literal is then compared over the stored forms
  // and remembered with its n-gram condition.
  void ClosePattern(bool escapeFollows) {
    Pattern pattern = std::move(*pattern_);
    pattern_.reset();
    if (pattern.start == std::string::npos) return;
    std::size_t end = FoldPattern(pattern, escapeFollows);
    if (escapeFollows || pattern.negated || pattern.column.empty() || pattern.tokens != 1 ||
        !pattern.literal) {
      return;
    }
    const WordForms& word = words_.FormsOf(*pattern.literal);
    if (word.grams.empty()) return;
    end = CompareOverStoredForms(pattern, word, end);
    // None when the word is not worth narrowing, nor inside CASE: there the condition
    // picks a value for rows already found (the tiers of a best-match order), so no
    // index can answer it and the n-gram condition would only fold and split the text
    // of every such row once more.
    std::string narrowing;
    if (openCases_ == 0 && narrow_({pattern.column, word.grams}))
      narrowing = GramCondition(fold_, pattern.column, word.grams);
    levels_[pattern.depth - 1].conditions.push_back(
        {pattern.conditionStart, end, std::move(narrowing)});
  }

  // Puts the pattern through the folding of patterns (the plain folding when the
  // statement escapes it itself); gives where the condition now ends.
  std::size_t FoldPattern(const Pattern& pattern, bool escapeFollows) {
    const std::string close = escapeFollows ? ")" : ") ESCAPE '\\'";
    const std::string open = std::string(escapeFollows ? fold_ : foldPattern_) + "(";
    out_.insert(pattern.end, close);
    out_.insert(pattern.start, open);
    return pattern.end + open.size() + close.size();
  }

  // The condition ending at out[end] compared over the stored forms of `word` when it
  // has them, or kept folded; gives where it now ends.
  std::size_t CompareOverStoredForms(const Pattern& pattern, const WordForms& word,
                                     std::size_t end) {
    if (word.regex) {
      const std::string condition = StoredFormsCondition(pattern.column, word);
      out_.replace(pattern.conditionStart, end - pattern.conditionStart, condition);
      return pattern.conditionStart + condition.size();
    }
    if (word.longestRun < 3) {
      // A trigram index finds nothing to look up in a run shorter than three characters
      // and would read all of itself; compared under the C collation (LIKE compares
      // characters alike under every deterministic collation) the condition is not one
      // that index can take, and the n-gram index answers it.
      const std::string collate = " COLLATE \"C\"";
      out_.insert(pattern.leftClose, collate);
      return end + collate.size();
    }
    return end;
  }

  std::string& out_;
  const std::string_view fold_, foldPattern_;  // the server functions of the mode
  WordFormsCache words_;
  const NarrowingChoice& narrow_;
  std::vector<Level> levels_;
  std::optional<Pattern> pattern_;
  std::size_t notAt_ = std::string::npos;
  int openCases_ = 0;  // CASE expressions begun and not yet ended
  bool lastWasWord_ = false;
};

}  // namespace

std::string QuotedLiteral(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted.push_back(c);
    if (c == '\'') quoted.push_back(c);
  }
  return quoted + "'";
}

std::string ServerText(std::string_view sql, MatchMode mode) {
  return ServerText(sql, mode, FoldedWords::kFoldEveryRow);
}

std::string ServerText(std::string_view sql, MatchMode mode, FoldedWords foldedWords) {
  return ServerText(sql, mode, foldedWords, [](const NarrowableWord&) { return true; });
}

std::string ServerText(std::string_view sql, MatchMode mode, FoldedWords foldedWords,
                       const NarrowingChoice& narrow) {
  const bool folded = mode != MatchMode::kExact;
  std::string out;
  FoldedLike foldedLike(out, mode, foldedWords, narrow);
  int number = 0;
  std::string lastWord;  // the word just before, blanks skipped; empty after anything else
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    const SqlToken token = ScanSqlToken(sql, i);
    // PostgreSQL reads "[" as the start of a subscript or array, where a marker may
    // stand, not as a quoted name: the bracket alone is a symbol.
    const std::size_t end = c == '[' ? i + 1 : token.end;
    // A literal or marker that may follow LIKE.
    bool pattern = token.kind == SqlTokenKind::kString;
    if (folded) foldedLike.BeforeToken(sql, i, end);
    const std::size_t tokenAt = out.size();
    if (c == '?') {
      out += "$" + std::to_string(++number);
      pattern = true;
    } else {
      out.append(sql.substr(i, end - i));
    }
    if (folded) {
      foldedLike.AfterToken(sql, i, end, tokenAt, c == '\'');
    } else if (pattern && lastWord == "LIKE" && NextWord(sql, end) != "ESCAPE") {
      out += " ESCAPE ''";
    }
    if (IsWordByte(c)) {
      lastWord = Upper(sql.substr(i, end - i));
    } else if (!IsBlank(c)) {
      lastWord.clear();
    }
    i = end;
  }
  if (folded) foldedLike.Finish();
  return out;
}

std::vector<std::string> RequiredGramTexts(std::string_view pattern, std::size_t* longestRun,
                                           MatchMode mode) {
  std::vector<std::string> grams;
  std::size_t longest = 0;
  auto addRun = [&grams, &longest, mode](std::string_view run) {
    std::string folded =
        matching::FoldedText(run, mode == MatchMode::kLoose ? mode : MatchMode::kFolded);
    if (folded.empty()) return;
    // The server's gram function reads U+0001 as U+0002: it separates grams there.
    std::replace(folded.begin(), folded.end(), '\x01', '\x02');
    std::vector<std::string> units;
    for (std::size_t i = 0; i < folded.size();) {
      const std::size_t length = platform::CharLength(folded, i);
      units.push_back(folded.substr(i, length));
      i += length;
    }
    longest = std::max(longest, units.size());
    if (units.size() == 1) grams.push_back(units[0]);
    for (std::size_t u = 1; u < units.size(); ++u) grams.push_back(units[u - 1] + units[u]);
  };
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < pattern.size();) {
    const std::size_t length = platform::CharLength(pattern, i);
    if (length == 1 && (pattern[i] == '%' || pattern[i] == '_')) {
      addRun(pattern.substr(runStart, i - runStart));
      runStart = i + 1;
    }
    i += length;
  }
  addRun(pattern.substr(runStart));
  if (longestRun) *longestRun = longest;
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
  return grams;
}

}  // namespace db
