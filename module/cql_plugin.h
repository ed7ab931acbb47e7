// The entry of the CQL plug-in (libliraweb_cql.so), which parses a query with YAZ's CQL
// parser, linked into it from YAZ's static archive: loaded only by the SRU path, and
// needing no library but the C library. The tree is handed over through plain C calls,
// so that no C++ object crosses between the two runtimes.
#pragma once

namespace module {

// Kinds of the nodes the plug-in reports.
enum CqlNodeKind : int {
  kCqlClause = 1,   // a = index, b = relation, c = term
  kCqlBoolean = 2,  // a = operator ("and", "or", "not", "prox"); its two operands follow
  kCqlSortBy = 3,   // the query has a sortby clause
};

// Called for each node of the tree, a boolean before its left and its right operand.
// modified is 1 when the relation or the operator carries modifiers.
using CqlNodeReport = void(void* context, int kind, const char* a, const char* b, const char* c,
                           int modified);

// Parses the UTF-8 query and reports its nodes; answers 0, or non-zero for a query that
// is not CQL (nothing reported then).
using CqlParseFunction = int(const char* query, CqlNodeReport* report, void* context);

inline constexpr char kCqlPluginFile[] = "libliraweb_cql.so";
inline constexpr char kCqlParseSymbol[] = "liraweb_cql_parse";

}  // namespace module
