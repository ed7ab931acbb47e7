// libliraweb_cql.so: YAZ's CQL parser behind the plug-in entry of cql_plugin.h.
#include "module/cql_plugin.h"

#include <yaz/cql.h>

namespace {

void Report(const cql_node* node, module::CqlNodeReport* report, void* context) {
  if (!node) return;
  if (node->which == CQL_NODE_ST) {
    report(context, module::kCqlClause, node->u.st.index, node->u.st.relation, node->u.st.term,
           node->u.st.modifiers != nullptr);
  } else if (node->which == CQL_NODE_BOOL) {
    report(context, module::kCqlBoolean, node->u.boolean.value, "", "",
           node->u.boolean.modifiers != nullptr);
    Report(node->u.boolean.left, report, context);
    Report(node->u.boolean.right, report, context);
  } else if (node->which == CQL_NODE_SORT) {
    // "sortby" wraps the search: reported first, then the search itself.
    report(context, module::kCqlSortBy, "", "", "", 0);
    Report(node->u.sort.search, report, context);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int liraweb_cql_parse(
    const char* query, module::CqlNodeReport* report, void* context) {
  CQL_parser parser = cql_parser_create();
  const int failed = cql_parser_string(parser, query);
  if (failed == 0) Report(cql_parser_result(parser), report, context);
  cql_parser_destroy(parser);
  return failed;
}
