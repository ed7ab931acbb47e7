// Named parameters in SQL text: a colon followed by a name marks one, and the engine
// is given the text with every marker turned into "?".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

struct TDerivedSql {
  std::string EngineText;               // the SQL with each marker replaced by "?"
  std::vector<std::string> ParamNames;  // one name per marker, in order of appearance
};

// Finds the markers of `sql`. The text is walked as Shift_JIS; a single quote, double
// quote or backquote opens a literal that only the same quote character ends; outside a
// literal "::" is one literal colon, and a colon before anything else starts a marker
// whose name ends at a blank, ",", ";", ")", CR, LF or the end of the text (a quoted
// part of the name may hold those). A name that starts with a quote loses that quote
// and one quote at its end.
TDerivedSql DeriveParams(std::string_view sql);

}  // namespace db
