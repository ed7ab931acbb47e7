#include "module/cql_search.h"

#include <cstddef>
#include <set>
#include <utility>

#include "matching/sjis_fold.h"
#include "matching/utf8_text.h"
#include "module/cql_plugin.h"
#include "platform/plugin.h"
#include "platform/request_end.h"
#include "platform/text_compare.h"

namespace module {

using platform::SameTextIgnoringCase;

namespace {

// The most comparisons (column and text) a statement may hold: every condition of the
// most a search may have on all seven columns of the any-field box.
constexpr std::size_t kMostComparisons = kMostSearchWords * 7;

struct IndexName {
  const char* name;
  SearchField field;
};

constexpr IndexName kIndexes[] = {
    {"title", SearchField::kTitle},
    {"dc.title", SearchField::kTitle},
    {"bath.title", SearchField::kTitle},
    {"author", SearchField::kAuthor},
    {"creator", SearchField::kAuthor},
    {"dc.creator", SearchField::kAuthor},
    {"bath.author", SearchField::kAuthor},
    {"bath.name", SearchField::kAuthor},
    {"publisher", SearchField::kPublisher},
    {"dc.publisher", SearchField::kPublisher},
    {"bath.publisher", SearchField::kPublisher},
    {"isbn", SearchField::kIsbn},
    {"bath.isbn", SearchField::kIsbn},
    {"subject", SearchField::kSubject},
    {"dc.subject", SearchField::kSubject},
    {"bath.subject", SearchField::kSubject},
    {"any", SearchField::kAny},
    {"cql.serverChoice", SearchField::kAny},
    {"cql.anyIndexes", SearchField::kAny},
};

using Conditions = std::vector<Comparison>;

class Mapper {
 public:
  Mapper(const std::vector<CqlNode>& nodes, const CqlSearchOptions& options)
      : nodes_(nodes), options_(options) {}

  CqlSearch Map() {
    CqlSearch search;
    search.conditions = Next();
    search.diagnostic = diagnostic_;
    if (diagnostic_) search.conditions.clear();
    return search;
  }

 private:
  Conditions Refuse(int code, std::string details) {
    if (!diagnostic_) diagnostic_ = SruDiagnostic{code, std::move(details)};
    return {};
  }

  // The conditions of the node at next_ and its operands, in conjunctive form.
  Conditions Next() {
    if (diagnostic_ || next_ >= nodes_.size()) return Refuse(kSruQuerySyntax, "");
    const CqlNode& node = nodes_[next_++];
    if (node.kind == kCqlSortBy) return Refuse(kSruSortUnsupported, "sortby");
    if (node.kind == kCqlClause) return Clause(node);
    Conditions left = Next();
    Conditions right = Next();
    if (diagnostic_) return {};
    if (node.modified) return Refuse(kSruUnsupportedBooleanModifier, node.a);
    if (SameTextIgnoringCase(node.a, "and")) {
      left.insert(left.end(), right.begin(), right.end());
      return Checked(std::move(left));
    }
    if (!SameTextIgnoringCase(node.a, "or")) return Refuse(kSruUnsupportedBoolean, node.a);
    // (a AND b) OR (c AND d) is (a OR c) AND (a OR d) AND (b OR c) AND (b OR d).
    Conditions product;
    for (const Comparison& l : left) {
      for (const Comparison& r : right) {
        Comparison either{l.word + " " + r.word, l.columns};
        either.columns.insert(either.columns.end(), r.columns.begin(), r.columns.end());
        product.push_back(std::move(either));
        if (product.size() > kMostSearchWords) return Refuse(kSruTooManyBooleans, "");
      }
    }
    return Checked(std::move(product));
  }

  Conditions Checked(Conditions conditions) {
    std::size_t comparisons = 0;
    for (const Comparison& condition : conditions) comparisons += condition.columns.size();
    if (conditions.size() > kMostSearchWords || comparisons > kMostComparisons)
      return Refuse(kSruTooManyBooleans, "");
    return conditions;
  }

  Conditions Clause(const CqlNode& node) {
    const IndexName* found = nullptr;
    for (const IndexName& known : kIndexes) {
      if (SameTextIgnoringCase(node.a, known.name)) found = &known;
    }
    if (!found) return Refuse(kSruUnsupportedIndex, node.a);
    const std::string& relation = node.b;
    const bool anyWord = SameTextIgnoringCase(relation, "any");
    const bool allWords = SameTextIgnoringCase(relation, "all");
    if (relation != "=" && !SameTextIgnoringCase(relation, "scr") && !anyWord && !allWords)
      return Refuse(kSruUnsupportedRelation, node.b);
    if (node.modified) return Refuse(kSruUnsupportedRelationModifier, node.b);
    const std::optional<std::string> term = Term(node.c);
    if (!term) return {};
    // The ISBN is one number whatever blanks it holds, as in the search form.
    std::vector<std::string> words;
    if (found->field == SearchField::kIsbn && !anyWord && !allWords) {
      words = {*term};
    } else if (anyWord || allWords || options_.everyWord) {
      words = SearchWords(*term);
    } else {
      words = {*term};
    }
    Conditions conditions;
    std::set<std::string> seen;
    for (const std::string& word : words) {
      if (!seen.insert(word).second) continue;
      Comparison comparison = FieldComparison(found->field, word, options_.looseMatch);
      if (anyWord && !conditions.empty()) {
        Comparison& either = conditions.front();
        either.word += " " + comparison.word;
        either.columns.insert(either.columns.end(), comparison.columns.begin(),
                              comparison.columns.end());
      } else {
        conditions.push_back(std::move(comparison));
      }
    }
    return Checked(std::move(conditions));
  }

  // The term as the catalogue's Shift_JIS, its escapes read and its end masks dropped;
  // nullopt (with the diagnostic) for a term the search cannot compare.
  std::optional<std::string> Term(const std::string& term) {
    std::string text;
    for (std::size_t i = 0; i < term.size(); ++i) {
      const char c = term[i];
      // UTF-8 never uses an ASCII byte inside a character, so the walk is byte-wise.
      if (c == '\\' && i + 1 < term.size()) {
        text.push_back(term[++i]);
      } else if (c == '*' && (i == 0 || i + 1 == term.size())) {
        continue;
      } else if (c == '*' || c == '?') {
        Refuse(kSruMaskingUnsupported, std::string(1, c));
        return std::nullopt;
      } else if (c == '^') {
        Refuse(kSruAnchoringUnsupported, "^");
        return std::nullopt;
      } else {
        text.push_back(c);
      }
    }
    std::optional<std::string> sjis = matching::SjisFromUtf8(text);
    if (!sjis) {
      Refuse(kSruQuerySyntax, "not UTF-8");
      return std::nullopt;
    }
    if (sjis->find_first_not_of(" ") == std::string::npos ||
        (options_.looseMatch && matching::LooseTextPassedOver(*sjis))) {
      Refuse(kSruEmptyTerm, term);
      return std::nullopt;
    }
    return sjis;
  }

  const std::vector<CqlNode>& nodes_;
  const CqlSearchOptions& options_;
  std::size_t next_ = 0;
  std::optional<SruDiagnostic> diagnostic_;
};

void CollectNode(void* context, int kind, const char* a, const char* b, const char* c,
                 int modified) {
  static_cast<std::vector<CqlNode>*>(context)->push_back(
      {kind, a ? a : "", b ? b : "", c ? c : "", modified != 0});
}

}  // namespace

std::string ExplainIndexInfo() {
  std::string xml =
      "<indexInfo>\n"
      "<set identifier=\"info:srw/cql-context-set/1/cql-v1.2\" name=\"cql\"/>\n"
      "<set identifier=\"info:srw/cql-context-set/1/dc-v1.1\" name=\"dc\"/>\n"
      "<set identifier=\"http://zing.z3950.org/cql/bath/2.0/\" name=\"bath\"/>\n";
  for (const IndexName& index : kIndexes) {
    const std::string name = index.name;
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) continue;
    xml += "<index><title>" + name + "</title><map><name set=\"" + name.substr(0, dot) + "\">" +
           name.substr(dot + 1) + "</name></map></index>\n";
  }
  return xml + "</indexInfo>\n";
}

namespace {

// The parser of the plug-in, loaded at the first call and kept for the life of the
// process. Raises ECqlPluginError when it cannot be loaded.
CqlParseFunction* CqlParser() {
  static CqlParseFunction* parse = nullptr;
  if (!parse) {
    std::string reason;
    parse = reinterpret_cast<CqlParseFunction*>(
        platform::PluginEntry(kCqlPluginFile, kCqlParseSymbol, reason));
    if (!parse) throw ECqlPluginError(reason);
  }
  return parse;
}

// A FastCGI process loads the plug-in before its first request, a CGI run only for an
// SRU search. A plug-in that does not load is reported by the search that needs it.
[[maybe_unused]] const bool kParserLoadedBeforeServing = [] {
  platform::RegisterServingStartHook([] {
    try {
      CqlParser();
    } catch (const ECqlPluginError&) {
    }
  });
  return true;
}();

}  // namespace

CqlSearch SearchOfCqlNodes(const std::vector<CqlNode>& nodes, const CqlSearchOptions& options) {
  return Mapper(nodes, options).Map();
}

CqlSearch SearchOfCql(std::string_view query, const CqlSearchOptions& options) {
  // The parser reads a C string: a NUL byte would end the query early and the rest of
  // it would silently not be searched.
  if (query.find('\0') != std::string_view::npos)
    return {{}, SruDiagnostic{kSruQuerySyntax, "NUL"}};
  std::vector<CqlNode> nodes;
  if (CqlParser()(std::string(query).c_str(), CollectNode, &nodes) != 0)
    return {{}, SruDiagnostic{kSruQuerySyntax, std::string(query)}};
  return SearchOfCqlNodes(nodes, options);
}

}  // namespace module
