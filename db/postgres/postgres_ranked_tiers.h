// The best-match order read tier by tier: a statement ordered by
// "CASE WHEN c0 THEN 0 WHEN c1 THEN 1 ... ELSE n END, Y IS NULL, Y DESC, K" becomes one
// statement a tier, each holding the rows of its tier alone in year and key order. The
// server then finds and sorts only the rows of the tiers a page reaches, in an order an
// index on (Y DESC NULLS LAST, K) can give, instead of working out the tier of every row
// and sorting them all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

// The name of the index on the best-match ties (year newest first, a book without one
// last, then key) that catalog_index build --postgres creates.
inline constexpr std::string_view kRankingOrderIndex = "liraweb_ranking_order";

// The statements of the tiers of the server text `text`, in order: tier i is the
// statement's rows for which c_i holds and no earlier c_j does, the last tier those for
// which none does (a NULL condition counts as not holding, as in CASE), each ordered by
// "Y DESC NULLS LAST, K" (the same order as "Y IS NULL, Y DESC, K"). Without the CASE
// item, the one statement of that order. Empty when `text` is not a plain
// "SELECT ... [WHERE ...] ORDER BY" of that shape (a GROUP BY, DISTINCT, LIMIT, UNION, a
// CASE inside a tier's condition ...): it is then run as it stands.
std::vector<std::string> RankedTierTexts(std::string_view text);

}  // namespace db
