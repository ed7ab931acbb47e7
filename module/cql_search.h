// A CQL query (SRU's query language) read as the catalogue's own search: each clause
// becomes LIKE conditions on the columns of its index, "and" joins conditions and "or"
// distributes over them, so that the statement keeps the shape the search index
// narrows (conditions joined by AND, each an OR of columns). The query is parsed by
// YAZ's CQL parser in the plug-in of cql_plugin.h.
//
// Indexes (letter case ignored): title, dc.title, bath.title; author, creator,
// dc.creator, bath.author, bath.name; publisher, dc.publisher, bath.publisher; isbn,
// bath.isbn; subject, dc.subject, bath.subject; any, cql.serverChoice, cql.anyIndexes
// (and a bare term), the seven columns of the any-field box. Relations: "=" (the term
// as the site's search compares a field's text: each word with WORDS=AND, else whole),
// "all" (every word), "any" (some word). A "*" at either end of a term is dropped, since
// every comparison finds the term anywhere in its column; "\" escapes the next character.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module/search_statement.h"
#include "module/sru_response.h"
#include "platform/exception.h"

namespace module {

// The CQL plug-in could not be loaded.
class ECqlPluginError : public platform::Exception {
 public:
  explicit ECqlPluginError(std::string message)
      : Exception("ECqlPluginError", std::move(message)) {}
};

struct CqlSearchOptions {
  bool looseMatch = false;  // MATCH=LOOSE: ISBN texts read as numbers, punctuation passed over
  bool everyWord = false;   // WORDS=AND: "=" compares each word
};

// The query's conditions, or the diagnostic that refuses it.
struct CqlSearch {
  std::vector<Comparison> conditions;
  std::optional<SruDiagnostic> diagnostic;
};

// A node of the parsed query as the plug-in reports it (cql_plugin.h), in prefix order.
struct CqlNode {
  int kind;
  std::string a, b, c;
  bool modified;
};

// The <indexInfo> element of the explain record: the context sets and every index with
// a set prefix that a query may name.
std::string ExplainIndexInfo();

// The search of a parsed query (UTF-8 texts), or its diagnostic.
CqlSearch SearchOfCqlNodes(const std::vector<CqlNode>& nodes, const CqlSearchOptions& options);

// Parses the UTF-8 query with the plug-in and answers SearchOfCqlNodes, or the syntax
// diagnostic. Raises ECqlPluginError when the plug-in cannot be loaded.
CqlSearch SearchOfCql(std::string_view query, const CqlSearchOptions& options);

}  // namespace module
