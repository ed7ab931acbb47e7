// Request values written into pages: markup characters as references; under the loose
// search, a numeric reference a browser sent for a character is written through.
#include "web/html_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HtmlText, NumericReferencesAreWrittenThroughOnlyWhenWellFormed) {
  struct Case {
    const char* text;
    const char* kept;     // EscapeHtmlKeepingReferences
    const char* escaped;  // EscapeHtml
  } cases[] = {
      {"&#40407;", "&#40407;", "&amp;#40407;"},
      {"\x90\x58&#x9dd7;\x8a\x4f", "\x90\x58&#x9dd7;\x8a\x4f", "\x90\x58&amp;#x9dd7;\x8a\x4f"},
      {"&#X1F600;", "&#X1F600;", "&amp;#X1F600;"},
      {"&#60;script&#62;", "&#60;script&#62;", "&amp;#60;script&amp;#62;"},  // text, not markup
      {"<&#34;>'", "&lt;&#34;&gt;&#39;", "&lt;&amp;#34;&gt;&#39;"},
      {"&#40407", "&amp;#40407", "&amp;#40407"},              // no ";"
      {"&#;&#x;", "&amp;#;&amp;#x;", "&amp;#;&amp;#x;"},      // no digits
      {"&#0;&#8;", "&amp;#0;&amp;#8;", "&amp;#0;&amp;#8;"},   // control characters
      {"&#xD800;", "&amp;#xD800;", "&amp;#xD800;"},           // a surrogate
      {"&#x110000;", "&amp;#x110000;", "&amp;#x110000;"},     // past Unicode
      {"&#12345678;", "&amp;#12345678;", "&amp;#12345678;"},  // too many digits
      {"&amp;", "&amp;amp;", "&amp;amp;"},                    // a named reference is text
      {"&#38;#60;", "&#38;#60;", "&amp;#38;#60;"},            // "&" then text, shown as typed
  };
  for (const Case& c : cases) {
    EXPECT_EQ(web::EscapeHtmlKeepingReferences(c.text), c.kept) << c.text;
    EXPECT_EQ(web::EscapeHtml(c.text), c.escaped) << c.text;
  }
}

}  // namespace
