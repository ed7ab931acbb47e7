// The best-match order read tier by tier: a statement ordered by
// "CASE WHEN c0 THEN 0 WHEN c1 THEN 1 ... ELSE n END, Y IS NULL, Y DESC, K" becomes one
// statement a tier, each holding the rows of its tier alone in year and key order. The
// server then finds and sorts only the rows of the tiers a page reaches, in an order an
// index on (Y DESC NULLS LAST, K) can give, instead of working out the tier of every row
// and sorting them all.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace db {

// The name of the index on the best-match ties (year newest first, a book without one
// last, then key) that catalog_index build --postgres creates.
inline constexpr std::string_view kRankingOrderIndex = "liraweb_ranking_order";

// The name of the B-tree index over the folded text of `column` (for kLoose, the loose
// folding) under the C collation, which catalog_index build --postgres creates for the
// title and author columns: the rows whose folded text equals a word or begins with it
// are a range of it, so the anchored tiers of a word most books hold are found without
// reading the table. In lower case, as the server keeps an unquoted name.
std::string FoldedOrderIndex(std::string_view column, MatchMode mode);

// The name of the B-tree index over the reversed folded text of `column` (as
// FoldedOrderIndex, of the mode's folding, under the C collation), which catalog_index
// build --postgres creates for the title columns: a text ends with a word exactly when
// its reversal begins with the word's reversal, so the rows whose folded text ends with
// a word are a range of it.
std::string FoldedEndingIndex(std::string_view column, MatchMode mode);

// The statements of the tiers of the server text `text`, in order: tier i is the
// statement's rows for which c_i holds and no earlier c_j does, the last tier those for
// which none does (a NULL condition counts as not holding, as in CASE), each ordered by
// "Y DESC NULLS LAST, K" (the same order as "Y IS NULL, Y DESC, K"). Without the CASE
// item, the one statement of that order. Empty when `text` is not a plain
// "SELECT ... [WHERE ...] ORDER BY" of that shape (a GROUP BY, DISTINCT, LIMIT, UNION, a
// CASE inside a tier's condition, a parameter marker in the order, which a tier that
// leaves its condition out would not bind ...): it is then run as it stands.
std::vector<std::string> RankedTierTexts(std::string_view text);

// Which folded B-tree of a column a range is read from: its folded text's
// (FoldedOrderIndex) or its reversal's (FoldedEndingIndex).
enum class FoldedIndexKind { kBeginning, kEnding };

// Answers whether that B-tree over the folded `column` (as written) is there.
using FoldedIndexChoice = std::function<bool(const std::string& column, FoldedIndexKind kind)>;

// The condition in folded form, "fold(col) COLLATE "C" LIKE fold_pattern('...') ESCAPE
// '\'" (the mode's functions), that `condition`, a tier's condition as the program wrote
// it, implies and that the folded B-trees answer as a range: from each comparison
// "col LIKE 'literal'" of an indexed column whose pattern begins with text (equal to a
// word, or beginning with it), and from each "col LIKE '%word'" (ending with a word that
// holds no other wildcard and whose folding holds no wildcard or backslash) of a column
// with the reversed B-tree, as "reverse(fold(col)) COLLATE "C" LIKE
// reverse(fold_pattern('%word')) ESCAPE '\'"; an OR when each of its sides gives one,
// the AND of the sides of an AND that give one (the server reads the smallest, or
// several together). Nullopt when there is none (a side of an OR that is not
// such a comparison, a negation, an ESCAPE clause ...). Written beside the tier's own
// test, it is the very condition the server's bitmap of those indexes answers, so it
// costs nothing per row, while the tier's test stays over the stored forms.
std::optional<std::string> FoldedRangeCondition(std::string_view condition, MatchMode mode,
                                                const FoldedIndexChoice& indexed);

// RankedTierTexts of `serverText`, the server text of the program's statement `sql`
// under folded or loose matching `mode`, each tier with the FoldedRangeCondition of its
// condition in `sql` beside it where there is one.
std::vector<std::string> RankedTierTexts(std::string_view sql, std::string_view serverText,
                                         MatchMode mode, const FoldedIndexChoice& indexed);

}  // namespace db
