// Which search statements the search index narrows.
#include "db/sqlite/search_narrowing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SearchNarrowing, OnlyPlainHeadsOverTheBookTableAreNarrowed) {
  db::searchindex::IndexInfo info;
  info.table = "BOOKMAST";
  info.columns = {"MS_SYOMEI"};
  info.unsafeSortColumns = {"MS_BOOKID"};
  const std::string tail = "WHERE\r\nMS_SYOMEI LIKE '%a%'\r\n";
  struct Case {
    std::string sql;
    bool narrowed;
  };
  const Case cases[] = {
      {"SELECT * FROM BOOKMAST\r\n" + tail, true},
      {"SELECT * FROM bookmast b LEFT JOIN K ON K.X = b.Y\r\n" + tail, true},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY MS_SYOMEI DESC\r\n", true},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY MS_BOOKID\r\n", false},
      // A sort by expressions (the best-match ranking) is sorted by SQLite whatever the
      // plan; one that begins with a plain column, calls or reads a subquery is not taken.
      {"SELECT * FROM BOOKMAST\r\n" + tail +
           "ORDER BY CASE WHEN MS_SYOMEI LIKE 'a' OR ( MS_SYOKANA LIKE '%a%' ) THEN 0 ELSE 4 END,"
           " MS_SYUNEN IS NULL, MS_SYUNEN DESC, MS_BOOKID\r\n",
       true},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY MS_SYUNEN IS NULL, MS_BOOKID\r\n", true},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY MS_BOOKID, MS_SYUNEN IS NULL\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY BOOKMAST.MS_BOOKID DESC, 1\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY MS_SYUNEN IS (SELECT 1)\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY length(MS_SYOMEI) IS NULL\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "ORDER BY MS_SYUNEN IS NULL; DROP TABLE K\r\n", false},
      {"SELECT * FROM BOOKMAST JOIN K ON K.X = Y\r\n" + tail, false},
      {"SELECT * FROM BOOKMAST, K\r\n" + tail, false},
      {"SELECT DISTINCT MS_SYOMEI FROM BOOKMAST\r\n" + tail, false},
      {"SELECT count(*) FROM BOOKMAST\r\n" + tail, false},
      {"SELECT * FROM OTHER\r\n" + tail, false},
      {"SELECT * FROM BOOKMAST\r\nWHERE\r\nMS_SYOMEI LIKE '%a%' ESCAPE '!'\r\n", false},
      {"SELECT * FROM BOOKMAST\r\nWHERE\r\nMS_SYOMEI = 'a'\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "LIMIT 5\r\n", false},
      // Names quoted in each way SQLite takes, comments, and a Shift_JIS alias (書名).
      {"SELECT * FROM [BOOKMAST] AS \"b\" -- it's\r\nWHERE\r\n`b`.[MS_SYOMEI] LIKE '%a%'\r\n",
       true},
      {"SELECT * FROM BOOKMAST \x8f\x91\x96\xbc\r\n/* ' */" + tail, true},
      // SQLite reads the trail byte of Ａ (0x60) as a backquote, of 表 (0x5C) as a symbol:
      // a statement it cuts otherwise than its characters is not narrowed.
      {"SELECT * FROM BOOKMAST \x82\x60\r\n" + tail, false},
      {"SELECT \x95\x5c FROM BOOKMAST\r\n" + tail, false},
      {"SELECT * FROM BOOKMAST\r\nWHERE\r\n`\x82\x60` = 1 AND MS_SYOMEI LIKE '%a%'\r\n", false},
      // Conditions on the row after the LIKE conditions (the filters) narrow nothing and
      // are kept; a subquery, another function or a statement end in them is not taken,
      // nor a row condition first or a LIKE condition after one.
      {"SELECT * FROM BOOKMAST\r\n" + tail +
           "AND\r\n( MS_SYUNEN >= 1990 AND MS_SYUNEN < 2000 ) AND ( substr(MS_SEIKYU, 1, 1) = '9' )"
           " AND ( ( CASE WHEN COALESCE(CAST(MS_TFMSUU AS TEXT), '') <> '' THEN 2 END ) = 0 )\r\n"
           "ORDER BY MS_SYOMEI\r\n",
       true},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "AND\r\n( MS_SYUNEN IN (SELECT 1) )\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "AND\r\n( length(MS_SYOMEI) = 1 )\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "AND\r\n( MS_SYUNEN = 1 ; DROP TABLE K )\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "AND\r\n( MS_SYUNEN = 1\r\n", false},
      {"SELECT * FROM BOOKMAST\r\nWHERE\r\n( MS_SYUNEN = 1 ) AND MS_SYOMEI LIKE '%a%'\r\n", false},
      {"SELECT * FROM BOOKMAST\r\n" + tail + "AND ( MS_SYUNEN = 1 ) AND MS_SYOMEI LIKE '%b%'\r\n",
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::searchindex::ParseSearchStatement(c.sql, info).has_value(), c.narrowed) << c.sql;
  }
}

}  // namespace
