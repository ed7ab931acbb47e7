#include "web/page_producer.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

#include "platform/exception.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "web/copy_parser.h"

using namespace platform;
using namespace web;

namespace {

using namespace std::string_literals;

// Answers every tag with "[name|param;param...]" so that the output shows exactly how
// the tag was read.
void ShowTag(TPageProducer&, TTag, const std::string& tagString, const TStringList& tagParams,
             std::string& replaceText) {
  replaceText = "[" + tagString + "|";
  for (std::size_t i = 0; i < tagParams.size(); ++i) {
    if (i > 0) replaceText += ";";
    replaceText += tagParams[i];
  }
  replaceText += "]";
}

std::string Expand(std::string_view text, bool stripQuotes = true) {
  TPageProducer producer;
  producer.OnHTMLTag = ShowTag;
  producer.StripParamQuotes = stripQuotes;
  return producer.ProduceFromText(text);
}

// A folder of its own for each test, removed afterwards.
class TemplateFolder {
 public:
  // Writes the file and returns its path written with "\" before the file name, as
  // the program's settings write it.
  std::string Write(const std::string& name, const std::string& bytes) const {
    test_support::WriteBytes(folder_ / name, bytes);
    return folder_.Path() + "\\" + name;
  }

 private:
  test_support::TempDir folder_{"page_producer_test_"};
};

TEST(PageProducer, TagSyntax) {
  struct Case {
    std::string text;
    std::string expanded;
  } cases[] = {
      {"<  #  NAME  a=1 >", "[NAME|a=1]"},
      {"<\r\n#\tNAME\r\n>", "[NAME|]"},
      {"<#TOTAL_FIND_COUNT>", "[TOTAL_FIND_COUNT|]"},
      {"<#A_1b-c>", "[A_1b|-c]"},
      {"<#1abc>", "[1|abc]"},
      {"<#\x82\xA0X>", "[\x82|\xA0X]"},
      {"<#>rest", "[>|]rest"},
      {"<#X>>", "[X|]>"},
      {"<#X a>b>", "[X|a]b>"},
      {"x<#NAME a=1", "x[NAME|a=1]"},
      {"x<#", "x[|]"},
      {"a < b", "a <b"},
      {"a <\r\n\r\nb", "a <b"},
      {"<<#X>", "<<#X>"},
      {"<a href=\"x\">", "<a href=\"x\">"},
      {"<!-- <#X> -->", "<!-- [X|] -->"},
      {"a<", "a<"},
      {"a <", "a <"},
      {"a\0<#X>b"s, "a"},
      {"<#A> mid <#B>  \r\n", "[A|] mid [B|]  \r\n"},
      {"  \r\n\tlead", "  \r\n\tlead"},
      {"<#T name=\"a b\" x=1>", "[T|name=a b;x=1]"},
      {"<#T a=1+2%41>", "[T|a=1 2A]"},
      {"<#T   a=1   b=2   >", "[T|a=1;b=2]"},
      {"<#T  \r\n  >", "[T|]"},
      {"<#T a%3Eb>", "[T|a>b]"},
      {"\x82\xA0\x83\x5C<#X>\x83\x5C", "\x82\xA0\x83\x5C[X|]\x83\x5C"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.text), c.expanded) << c.text;
}

TEST(PageProducer, QuotesStayInParametersWhenStrippingIsOff) {
  EXPECT_EQ(Expand("<#T name=\"a b\" x='1'>", false), "[T|name=\"a b\";x='1']");
  EXPECT_EQ(Expand("<#T name=\"a b\" x='1'>", true), "[T|name=a b;x=1]");
}

TEST(PageProducer, ReservedNamesGetTheirKindInAnyLetterCase) {
  struct Case {
    std::string name;
    TTag kind;
  } cases[] = {
      {"LINK", TTag::Link},         {"link", TTag::Link},
      {"Image", TTag::Image},       {"tAbLe", TTag::Table},
      {"imagemap", TTag::ImageMap}, {"OBJECT", TTag::Object},
      {"embed", TTag::Embed},       {"LINKS", TTag::Custom},
      {"IMAGE_MAP", TTag::Custom},  {"TOTAL_FIND_COUNT", TTag::Custom},
  };
  for (const auto& c : cases) {
    TPageProducer producer;
    TTag seen = TTag::Custom;
    std::string seenName;
    producer.OnHTMLTag = [&](TPageProducer&, TTag tag, const std::string& tagString,
                             const TStringList&, std::string&) {
      seen = tag;
      seenName = tagString;
    };
    producer.ProduceFromText("<#" + c.name + " p=1>");
    EXPECT_EQ(seen, c.kind) << c.name;
    EXPECT_EQ(seenName, c.name);
  }
}

TEST(PageProducer, UnansweredTagsDisappearAndTheBaseProducerRewritesThem) {
  TPageProducer silent;
  EXPECT_EQ(silent.ProduceFromText("a<#X y=1>b"), "ab");
  silent.OnHTMLTag = [](TPageProducer&, TTag, const std::string&, const TStringList&,
                        std::string&) {};
  EXPECT_EQ(silent.ProduceFromText("a<#X y=1>b"), "ab");
  TCustomPageProducer plain;
  EXPECT_EQ(plain.ProduceFromText("a<  #X y=1>b"), "a<#X>b");
  TCustomContentProducer none;
  EXPECT_EQ(none.ProduceFromText("a"), "");
}

TEST(PageProducer, HTMLDocLinesEndWithCrLfAndGiveWayToHTMLFile) {
  TemplateFolder folder;
  TPageProducer producer;
  producer.OnHTMLTag = ShowTag;
  producer.SetHTMLDoc({"<html>", "<#X>", ""});
  EXPECT_EQ(producer.ProduceContent(), "<html>\r\n[X|]\r\n\r\n");
  producer.SetHTMLFile("");
  EXPECT_EQ(producer.HTMLDoc().size(), 3u);

  const std::string path = folder.Write("top.html", "<#TOP>\n");
  producer.SetHTMLFile(path);
  EXPECT_TRUE(producer.HTMLDoc().empty());
  EXPECT_EQ(producer.ProduceContent(), "[TOP|]\n");

  producer.SetHTMLDoc({"doc"});
  EXPECT_EQ(producer.HTMLFile(), "");
  EXPECT_EQ(producer.ProduceContent(), "doc\r\n");
}

TEST(PageProducer, AnotherLetterCaseNamesAnotherTemplateFile) {
  TemplateFolder folder;
  const std::string lower = folder.Write("page.html", "lower");
  const std::string upper = folder.Write("PAGE.html", "upper");
  TPageProducer producer;
  producer.SetHTMLFile(lower);
  producer.SetHTMLFile(upper);
  EXPECT_EQ(producer.HTMLFile(), upper);
  EXPECT_EQ(producer.ProduceContent(), "upper");
}

TEST(PageProducer, MissingTemplateFailsWithItsPathAsGiven) {
  TPageProducer producer;
  producer.SetHTMLFile("tpl\\missing.html");
  try {
    producer.ProduceContent();
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    // "ファイル tpl\missing.html は開けません"
    EXPECT_EQ(e.Message(),
              "\x83\x74\x83\x40\x83\x43\x83\x8b tpl\\missing.html "
              "\x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1");
  }
}

// Lines of every length up to the longest that fits the window, with blanks, CR LF,
// Shift_JIS bytes and ordinary HTML, but no "<#" and no "<" before a blank.
std::string TemplateWithoutTags(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> lineLength(0, TCopyParser::WindowSize - 2);
  const std::string pieces[] = {"<td class=\"x\">", " ",     "\t", "\x82\xA0", "\x83\x5C", "#",
                                "word_1",           "</td>", ">",  "%41",      "\xFF",     "\r"};
  std::uniform_int_distribution<std::size_t> piece(0, std::size(pieces) - 1);
  std::string text;
  while (text.size() < size) {
    std::string line;
    const auto length = static_cast<std::size_t>(lineLength(random));
    while (line.size() < length) line += pieces[piece(random)];
    line.resize(length);
    if (!line.empty() && line.back() == '<') line.back() = '>';
    text += line + "\n";
  }
  return text;
}

TEST(PageProducer, TemplateWithoutTagsIsCopiedExactlyAcrossManyWindows) {
  TemplateFolder folder;
  for (unsigned seed : {1u, 2u, 3u}) {
    const std::string text = TemplateWithoutTags(600 * 1024, seed);
    TPageProducer producer;
    producer.OnHTMLTag = ShowTag;
    producer.SetHTMLFile(folder.Write("big.html", text));
    EXPECT_TRUE(producer.ProduceContent() == text) << "seed " << seed;
  }
}

TEST(PageProducer, TagsAnywhereAroundTheWindowEndAreReplaced) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> lineLength(0, 300);
  std::string text;
  std::string expected;
  int tag = 0;
  while (text.size() < 200 * 1024) {
    const std::string words(static_cast<std::size_t>(lineLength(random)), 'w');
    const std::string name = "T" + std::to_string(tag++);
    text += words + "<#" + name + " n=" + std::to_string(tag) + ">" + words + "\r\n";
    expected += words + "[" + name + "|n=" + std::to_string(tag) + "]" + words + "\r\n";
  }
  EXPECT_TRUE(Expand(text) == expected);
}

TEST(PageProducer, ParametersMaySpanManyWindows) {
  std::string text = "<#LIST";
  TStringList expected;
  for (int i = 0; i < 5000; ++i) {
    text += " p" + std::to_string(i) + "=1\n";
    expected.push_back("p" + std::to_string(i) + "=1");
  }
  text += ">after";
  TPageProducer producer;
  TStringList seen;
  producer.OnHTMLTag = [&](TPageProducer&, TTag, const std::string&, const TStringList& params,
                           std::string& replaceText) {
    seen = params;
    replaceText = "R";
  };
  EXPECT_EQ(producer.ProduceFromText(text), "Rafter");
  EXPECT_EQ(seen, expected);
}

std::string LineTooLongAt(int line) {
  // "<line> 行で行が長すぎます"
  return std::to_string(line) +
         " \x8d\x73\x82\xc5\x8d\x73\x82\xaa\x92\xb7\x82\xb7\x82\xac\x82\xdc\x82\xb7";
}

TEST(PageProducer, LongLineFailsWithItsLineNumber) {
  const std::size_t longest = TCopyParser::WindowSize - 2;
  struct Case {
    std::string text;
    std::string message;  // empty when the template expands
  } cases[] = {
      {"one\ntwo\n" + std::string(5000, 'x') + "\nend", LineTooLongAt(3)},
      {std::string(longest + 1, 'x') + "\nmore", LineTooLongAt(1)},
      {std::string(longest, 'x') + "\nmore", ""},
      {"a\n" + std::string(longest, 'x') + "\nmore", ""},
      {"a\r\nb\r\n" + std::string(longest + 1, 'x') + "\r\nmore", LineTooLongAt(3)},
      // The last stretch of the file, shorter than the window, may hold any line.
      {"ab\n" + std::string(TCopyParser::WindowSize - 3, 'x'), ""},
      {std::string(TCopyParser::WindowSize - 1, 'x'), ""},
  };
  for (const auto& c : cases) {
    try {
      const std::string expanded = Expand(c.text);
      EXPECT_EQ(c.message, "") << "expanded a template of " << c.text.size() << " bytes";
      EXPECT_TRUE(expanded == c.text);
    } catch (const EParserError& e) {
      EXPECT_EQ(e.ClassName(), "EParserError");
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(PageProducer, FailuresInsideTagsEndTheExpansion) {
  EXPECT_THROW(Expand("<#X a=%zz>"), EConvertError);
  TPageProducer producer;
  producer.OnHTMLTag = [](TPageProducer&, TTag, const std::string&, const TStringList&,
                          std::string&) { throw EConvertError("bad"); };
  EXPECT_THROW(producer.ProduceFromText("a<#X>b"), EConvertError);
}

// A template scanned once is expanded again and again (the rows of a list, the pages of
// a long-lived process): each expansion answers the same tags in the same order and
// fails where a scan of the bytes would, after the tags before the long line.
TEST(PageProducer, ScannedTemplateExpandsAsItsTextDoes) {
  const std::string longLine(TCopyParser::WindowSize, 'x');
  struct Case {
    std::string text;
    std::vector<std::string> answered;  // tags answered, in order
    std::string failure;                // class of the error raised; empty for none
  } cases[] = {
      {"a<#X p=1> b <#Y>\r\nc", {"X", "Y"}, ""},
      {"a<#X>\n" + longLine + "\n<#Y>", {"X"}, "EParserError"},
      {"<#X>\n<#THROW>\n" + longLine + "\n", {"X", "THROW"}, "EConvertError"},
      {"<#X a=%zz>\n" + longLine + "\n", {}, "EConvertError"},
      {"<#X " + longLine + ">", {}, "EParserError"},
      {"", {}, ""},
  };
  for (const Case& c : cases) {
    const TScannedTemplate scanned = TScannedTemplate::ScanText(c.text);
    std::vector<std::string> pages;
    for (int run = 0; run < 2; ++run) {
      std::vector<std::string> answered;
      TPageProducer producer;
      producer.OnHTMLTag = [&answered](TPageProducer& sender, TTag tag, const std::string& name,
                                       const TStringList& params, std::string& replaceText) {
        answered.push_back(name);
        if (name == "THROW") throw EConvertError("thrown");
        ShowTag(sender, tag, name, params, replaceText);
      };
      std::string failure;
      try {
        pages.push_back(producer.ProduceFromScanned(scanned));
      } catch (const Exception& error) {
        failure = error.ClassName();
      }
      EXPECT_EQ(answered, c.answered) << c.text.substr(0, 20) << ", run " << run;
      EXPECT_EQ(failure, c.failure) << c.text.substr(0, 20) << ", run " << run;
    }
    if (c.failure.empty()) {
      ASSERT_EQ(pages.size(), 2u);
      EXPECT_EQ(pages[0], pages[1]);
      EXPECT_EQ(pages[0], Expand(c.text));
    }
  }
}

TEST(CopyParser, CollectUntilKeepsTheExactTextAndCountsLines) {
  std::istringstream input("NAME \r\n a = \"b\"\n >tail");
  std::string output;
  TCopyParser parser(input, &output);
  EXPECT_EQ(parser.Token(), TCopyParser::SymbolToken);
  EXPECT_EQ(parser.TokenText(), "NAME");
  EXPECT_EQ(parser.CollectUntil('>'), " \r\n a = \"b\"\n ");
  EXPECT_EQ(parser.Token(), '>');
  EXPECT_EQ(parser.LineNumber(), 3);
  parser.AdvanceToken(true);
  EXPECT_EQ(parser.TokenText(), "tail");
  parser.AdvanceToken(true);
  EXPECT_EQ(parser.Token(), TCopyParser::EndToken);
  EXPECT_EQ(parser.TokenText(), "");
  EXPECT_EQ(output, "");
}

// CopyUntil against the token-by-token copy it replaces: the same bytes out, the same
// token and line at every stop, over many windows.
TEST(CopyParser, CopyUntilMatchesCopyingTokenByToken) {
  struct Case {
    std::string text;
    const char* what;
  } cases[] = {
      {"", "empty"},
      {"<", "only the stop"},
      {"  word <x> y\n<\n", "blanks and symbols before each stop"},
      {"ab\0cd<ef"s, "a zero byte ends the text"},
      {TemplateWithoutTags(64 * 1024, 11), "many windows, no stop"},
  };
  std::string mixed = TemplateWithoutTags(64 * 1024, 12);
  for (std::size_t i = 17; i < mixed.size(); i += 97 + i % 1013) mixed[i] = '<';
  std::vector<Case> all(std::begin(cases), std::end(cases));
  all.push_back({mixed, "many windows, stops anywhere"});

  for (const auto& c : all) {
    std::istringstream referenceInput(c.text);
    std::string referenceOutput;
    TCopyParser reference(referenceInput, &referenceOutput);
    std::istringstream textInput(c.text);
    std::string textOutput;
    TCopyParser parser(textInput, &textOutput);
    for (int stop = 0;; ++stop) {
      while (reference.Token() != '<' && reference.Token() != TCopyParser::EndToken) {
        reference.EmitToken();
        reference.AdvanceToken(true);
      }
      parser.CopyUntil('<');
      ASSERT_EQ(parser.Token(), reference.Token()) << c.what << ", stop " << stop;
      ASSERT_EQ(parser.LineNumber(), reference.LineNumber()) << c.what << ", stop " << stop;
      if (reference.Token() == TCopyParser::EndToken) break;
      // Past the stop, as the page producer goes on after a "<" that starts no tag.
      reference.AdvanceToken(true);
      parser.AdvanceToken(true);
    }
    EXPECT_TRUE(textOutput == referenceOutput) << c.what;
  }
}

}  // namespace
