#include "db/param_derivation.h"

#include <gtest/gtest.h>

using namespace db;

namespace {

struct Case {
  const char* sql;
  const char* engineText;
  std::vector<std::string> names;
};

TEST(DeriveParams, MarkersBecomeQuestionMarks) {
  const Case cases[] = {
      {"SELECT * FROM T WHERE MS_BOOKID = :BOOKID\r\n",
       "SELECT * FROM T WHERE MS_BOOKID = ?\r\n",
       {"BOOKID"}},
      // A colon inside any of the three quotes is text; "::" is one colon.
      {"WHERE T = '10:30' AND U = \"a:b\" AND V = `c:d`",
       "WHERE T = '10:30' AND U = \"a:b\" AND V = `c:d`",
       {}},
      {"SELECT x::int, :A", "SELECT x:int, ?", {"A"}},
      // A literal ends only at the quote character that opened it.
      {"WHERE T = 'a\" :B", "WHERE T = 'a\" :B", {}},
      {"WHERE T = 'it\"s' AND U = :B", "WHERE T = 'it\"s' AND U = ?", {"B"}},
      {"LIKE '%\"a:b%' AND U = :B", "LIKE '%\"a:b%' AND U = ?", {"B"}},
      // A tab or "=" does not end a name; ")" "," ";" a blank, CR and LF do.
      {":A\tAND B", "? B", {"A\tAND"}},
      {":A=1 ", "? ", {"A=1"}},
      {"IN (:A,:B);:C)\r\n:D\n", "IN (?,?);?)\r\n?\n", {"A", "B", "C", "D"}},
      // Quotes right after the colon are cleaned off; a quoted part keeps its blanks.
      {"= :\"MY NAME\" AND", "= ? AND", {"MY NAME"}},
      {"= :'X'", "= ?", {"X"}},
      // A name used twice gives two parameters.
      {":K OR :k", "? OR ?", {"K", "k"}},
      // Shift_JIS: 0x5C and 0x60 as trail bytes are neither quotes nor anything else;
      // a double-byte name is a name.
      {"= '\x95\x5c' AND :\x96\xbc\x91\x4f ", "= '\x95\x5c' AND ? ", {"\x96\xbc\x91\x4f"}},
      {"\x8b` :A", "\x8b` ?", {"A"}},
      // Inside backquotes a trail byte 0x60 ends nothing; a doubled quote keeps the
      // literal open.
      {"= `\x82\x60:x` AND 'a''b:c' AND :A", "= `\x82\x60:x` AND 'a''b:c' AND ?", {"A"}},
      // A lead byte before a quote is a byte of its own: the quote still counts, so a
      // colon in the text after it stays text.
      {"LIKE '%\x81''%' OR T LIKE '%:x%'", "LIKE '%\x81''%' OR T LIKE '%:x%'", {}},
  };
  for (const Case& c : cases) {
    TDerivedSql derived = DeriveParams(c.sql);
    EXPECT_EQ(derived.EngineText, c.engineText) << c.sql;
    EXPECT_EQ(derived.ParamNames, c.names) << c.sql;
  }
}

}  // namespace
