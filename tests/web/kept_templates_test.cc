// A process that serves request after request keeps its templates scanned: every change
// made to a template file between two requests must be seen by the second, and a file
// that did not change must not be read again.
#include "web/kept_templates.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "platform/exception.h"
#include "platform/request_end.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "web/page_producer.h"

namespace {

using namespace web;

// The page of the template at path, each tag answered by its name in brackets; the
// class name of the error when it cannot be made.
std::string Page(const std::string& path) {
  TPageProducer producer;
  producer.OnHTMLTag = [](TPageProducer&, TTag, const std::string& tagString,
                          const platform::TStringList&,
                          std::string& replaceText) { replaceText = "[" + tagString + "]"; };
  producer.SetHTMLFile(path);
  try {
    return producer.ProduceContent();
  } catch (const platform::Exception& error) {
    return error.ClassName();
  }
}

TEST(KeptTemplates, EveryChangeBetweenTwoRequestsIsSeen) {
  platform::MarkServingManyRequests();
  test_support::TempDir folder("kept_templates_test_");
  const std::string spare = folder / "spare.html";
  struct Change {
    const char* what;
    std::function<void(const std::string& path)> make;
    std::string expected;
  } changes[] = {
      {"rewritten in place, same size",
       [](const std::string& path) { test_support::WriteBytes(path, "new <#B>\r\n"); },
       "new [B]\r\n"},
      {"replaced by another file of the same size",
       [&](const std::string& path) {
         test_support::WriteBytes(spare, "rep <#C>\r\n");
         ASSERT_EQ(std::rename(spare.c_str(), path.c_str()), 0);
       },
       "rep [C]\r\n"},
      {"removed", [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); },
       "EFOpenError"},
      {"replaced by a folder",
       [](const std::string& path) {
         ASSERT_EQ(unlink(path.c_str()), 0);
         ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
       },
       "EFOpenError"},
  };
  for (bool settled : {false, true}) {
    auto pathOf = [&](const Change& change) {
      return folder / (std::string(settled ? "settled " : "fresh ") + change.what);
    };
    for (const Change& change : changes) test_support::WriteBytes(pathOf(change), "old <#A>\r\n");
    // Past the time within which a file changed before it was read is read anew.
    if (settled) std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    for (const Change& change : changes) {
      const std::string path = pathOf(change);
      ASSERT_EQ(Page(path), "old [A]\r\n") << change.what;
      // A settled file is kept from the first request to the next; a fresh one is not.
      EXPECT_EQ(ScannedTemplateFile(path) == ScannedTemplateFile(path), settled) << change.what;
      ASSERT_EQ(Page(path), "old [A]\r\n") << change.what;
      change.make(path);
      EXPECT_EQ(Page(path), change.expected) << change.what << (settled ? ", settled" : ", fresh");
    }
  }
}

}  // namespace
