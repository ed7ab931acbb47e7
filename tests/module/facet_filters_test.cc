// The filter fields as the request gives them: which values apply, and the query fields
// the links write back for them.
#include "module/facet_filters.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FacetFilters, OnlyValuesOfTheirFormApplyAndLinksWriteThemInOneOrder) {
  struct Case {
    platform::TStringList fields;
    std::string linked;  // FilterQueryFields of what applied
  };
  const Case cases[] = {
      {{"AVAILABLE=1", "DECADE=1990", "YEAR_FROM=1995", "YEAR_TO=2005", "CLASS=9", "LOCATION=12"},
       "&AVAILABLE=1&YEAR_FROM=1995&YEAR_TO=2005&DECADE=1990&CLASS=9&LOCATION=12"},
      {{"LOCATION=3", "CLASS=0", "AVAILABLE=1"}, "&AVAILABLE=1&CLASS=0&LOCATION=3"},
      // A decade is a multiple of ten; years are one to four ASCII digits, no sign, no
      // blank, no hexadecimal; a class is one digit; AVAILABLE only "1".
      {{"DECADE=1995", "YEAR_FROM=12345", "YEAR_TO=0x10", "CLASS=10", "AVAILABLE=2"}, ""},
      {{"YEAR_FROM= 1995", "YEAR_TO=-5", "CLASS=", "LOCATION=", "AVAILABLE=yes"}, ""},
      {{"YEAR_FROM=\x82\x50\x82\x58", "CLASS=\x82\x58", "LOCATION=1234567890"}, ""},  // full width
      {{"DECADE=0", "YEAR_TO=0", "LOCATION=-2"}, "&YEAR_TO=0&DECADE=0&LOCATION=-2"},
  };
  for (const Case& c : cases) {
    const module::FacetFilters filters = module::ReadFacetFilters(c.fields);
    EXPECT_EQ(module::FilterQueryFields(filters), c.linked) << c.fields.front();
    EXPECT_EQ(filters.Empty(), c.linked.empty());
  }
}

TEST(FacetFilters, RowsCountForTheirDecadeClassAndLocationOnly) {
  module::FacetCounts counts;
  module::CountFacetRow(counts, 0, "1999", "913.6", "2");
  module::CountFacetRow(counts, 1, "1990", "9", "2");
  module::CountFacetRow(counts, 2, "2000", "E12", "-1");
  module::CountFacetRow(counts, 0, "", "", "");
  module::CountFacetRow(counts, 0, "1995.5", "\x82\x58", "x");  // none of the three
  module::CountFacetRow(counts, 2, "7", "0", "1");
  EXPECT_EQ(counts.Available, 3);
  EXPECT_EQ(counts.Decades, (std::map<std::int32_t, std::int64_t>{{0, 1}, {1990, 2}, {2000, 1}}));
  EXPECT_EQ(counts.Classes, (std::map<char, std::int64_t>{{'0', 1}, {'9', 2}}));
  EXPECT_EQ(counts.Locations, (std::map<std::int64_t, std::int64_t>{{-1, 1}, {1, 1}, {2, 2}}));
}

}  // namespace
