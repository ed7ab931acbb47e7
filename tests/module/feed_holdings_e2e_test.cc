// End-to-end: the feeds and the SRU Dublin Core record carry the call number and the
// location only for a site that asks for them (EXPORT_HOLDINGS=1); every other site gets
// the records it got before.
#include <gtest/gtest.h>

#include <string>

#include "tests/module/installation.h"

namespace module_e2e {
namespace {

TEST(FeedHoldings, CallNumberAndLocationOnlyWhereTheSiteAsks) {
  Installation site;
  // ASCII values: the UTF-8 answer holds them as the catalogue does.
  site.AddBooks({{{"MS_BOOKID", "1"},
                  {"MS_SYOMEI", "Kokoro"},
                  {"MS_CHOSYA", "Natsume"},
                  {"MS_SYUPAN", "Iwanami"},
                  {"MS_SYUNEN", "1927"},
                  {"MS_ISBN", "4003101111"},
                  {"MS_KENMEI", "Novels"},
                  {"MS_SEIKYU", "913.6-NA"},
                  {"SY_SYOZAI", "Stack-2F"}}});
  const char* listFields[] = {"Kokoro", "Natsume", "Iwanami", "1927", "4003101111", "Novels"};
  struct Case {
    const char* path;
    const char* query;
    bool callNumberAlways;  // JSON names every field of a book without the setting too
    bool location;          // Dublin Core has no element for the shelf location
  } cases[] = {
      {"/list.atom", "PAGENUM=0&BOOKNAME=Kokoro", false, true},
      {"/list.rss", "PAGENUM=0&BOOKNAME=Kokoro", false, true},
      {"/list.json", "PAGENUM=0&BOOKNAME=Kokoro", true, true},
      {"/sru", "version=1.2&operation=searchRetrieve&recordSchema=dc&query=Kokoro", false, false},
  };
  for (const Case& c : cases) {
    const std::string before = site.Get(c.path, c.query).output;
    EXPECT_EQ(before.find("913.6-NA") != std::string::npos, c.callNumberAlways) << c.path << "\n"
                                                                                << before;
    EXPECT_EQ(before.find("Stack-2F"), std::string::npos) << c.path << "\n" << before;
    site.Write("liraweb.conf", std::string(kDefaultConf) + "EXPORT_HOLDINGS=1\r\n");
    const std::string output = site.Get(c.path, c.query).output;
    site.Write("liraweb.conf", kDefaultConf);
    for (const char* field : listFields)
      EXPECT_NE(output.find(field), std::string::npos) << c.path << " " << field << "\n" << output;
    EXPECT_NE(output.find("913.6-NA"), std::string::npos) << c.path << "\n" << output;
    EXPECT_EQ(output.find("Stack-2F") != std::string::npos, c.location) << c.path << "\n" << output;
  }
}

}  // namespace
}  // namespace module_e2e
