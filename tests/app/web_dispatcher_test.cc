#include "app/web_dispatcher.h"

#include <gtest/gtest.h>

#include "app/web_app_error.h"
#include "fake_request.h"
#include "web/cgi_response.h"

using namespace web;
using namespace app;

namespace {

// A dispatcher whose actions record their names in the order they run.
class DispatcherTest : public testing::Test {
 protected:
  THTTPMethodEvent Record(std::string name, bool handles = true) {
    return
        [this, name, handles](TWebActionItem& sender, TWebRequest&, TWebResponse&, bool& handled) {
          EXPECT_EQ(sender.Name(), name);
          Ran += name + ";";
          handled = handles;
        };
  }
  bool Dispatch(const std::string& path, const std::string& method = "GET") {
    FakeRequest request({{rvPathInfo, path}, {rvMethod, method}});
    TCGIResponse response(request);
    Ran.clear();
    return Dispatcher.DispatchRequest(request, response);
  }
  TCustomWebDispatcher Dispatcher;
  std::string Ran;
};

TEST_F(DispatcherTest, FirstMatchingActionRunsElseTheDefault) {
  Dispatcher.Actions().Add("DefaultAction", "/", Record("DefaultAction"), true);
  Dispatcher.Actions().Add("RequestList", "/list", Record("RequestList"));
  Dispatcher.Actions().Add("RequestData", "/data", Record("RequestData"));
  Dispatcher.Actions().Add("Twin", "/DATA", Record("Twin"));
  struct Case {
    const char* path;
    const char* ran;
  } cases[] = {{"/", "DefaultAction;"},      {"", "DefaultAction;"},
               {"/list", "RequestList;"},    {"/LIST", "RequestList;"},
               {"/list/", "DefaultAction;"}, {"/list2", "DefaultAction;"},
               {"/data", "RequestData;"},    {"/list?x=1", "DefaultAction;"}};
  for (const auto& c : cases) {
    EXPECT_TRUE(Dispatch(c.path)) << c.path;
    EXPECT_EQ(Ran, c.ran) << c.path;
  }
}

TEST_F(DispatcherTest, MethodEnabledAndHandledDecideWhichActionAnswers) {
  auto& postOnly = Dispatcher.Actions().Add("PostOnly", "/a", Record("PostOnly"));
  postOnly.SetMethodType(mtPost);
  Dispatcher.Actions().Add("Declines", "/a", Record("Declines", false));
  auto& disabled = Dispatcher.Actions().Add("Disabled", "/a", Record("Disabled"));
  disabled.SetEnabled(false);
  Dispatcher.Actions().Add("Fallback", "/a", Record("Fallback"));
  EXPECT_TRUE(Dispatch("/a", "post"));
  EXPECT_EQ(Ran, "PostOnly;");
  EXPECT_TRUE(Dispatch("/a", "GET"));
  EXPECT_EQ(Ran, "Declines;Fallback;");
  // Without a default, a path no action answers is not handled.
  EXPECT_FALSE(Dispatch("/b"));
  EXPECT_EQ(Ran, "");
}

TEST_F(DispatcherTest, DefaultRunsWhateverItsPathMethodAndEnabled) {
  auto& fallback = Dispatcher.Actions().Add("Fallback", "/only", Record("Fallback"), true);
  fallback.SetMethodType(mtHead);
  fallback.SetEnabled(false);
  EXPECT_TRUE(Dispatch("/other", "GET"));
  EXPECT_EQ(Ran, "Fallback;");
}

TEST_F(DispatcherTest, DefaultIsExclusiveWithinTheCollection) {
  auto& first = Dispatcher.Actions().Add("First", "/1", Record("First"), true);
  auto& second = Dispatcher.Actions().Add("Second", "/2", Record("Second"), true);
  EXPECT_FALSE(first.Default());
  EXPECT_TRUE(second.Default());
  first.SetDefault(true);
  EXPECT_FALSE(second.Default());
  EXPECT_TRUE(Dispatch("/3"));
  EXPECT_EQ(Ran, "First;");
}

TEST_F(DispatcherTest, EventsAroundTheDispatch) {
  Dispatcher.Actions().Add("Page", "/", Record("Page"), true);
  Dispatcher.SetBeforeDispatch(
      [this](TCustomWebDispatcher& sender, TWebRequest& request, TWebResponse&, bool& handled) {
        EXPECT_EQ(&sender, &Dispatcher);
        EXPECT_EQ(Dispatcher.Request(), &request);
        Ran += "before;";
        handled = request.PathInfo() == "/stop";
      });
  Dispatcher.SetAfterDispatch(
      [this](TCustomWebDispatcher&, TWebRequest& request, TWebResponse&, bool& handled) {
        Ran += "after;";
        handled = request.PathInfo() != "/refuse";
      });
  EXPECT_TRUE(Dispatch("/stop"));
  EXPECT_EQ(Ran, "before;after;");
  EXPECT_TRUE(Dispatch("/"));
  EXPECT_EQ(Ran, "before;Page;after;");
  EXPECT_FALSE(Dispatch("/refuse"));
  EXPECT_EQ(Ran, "before;Page;after;");
}

TEST_F(DispatcherTest, PathInfoIsNormalisedAndCompiledOnChange) {
  auto& item = Dispatcher.Actions().Add();
  EXPECT_EQ(item.Name(), "WebActionItem1");
  EXPECT_EQ(item.PathInfo(), "");
  item.SetOnAction(Record("WebActionItem1"));
  struct Case {
    const char* assigned;
    const char* stored;
  } cases[] = {{"list", "/list"},
               {"\\list\\x", "/list/x"},
               {"/data", "/data"},
               {"", "/"},                        // an empty path starts with no "/" either
               {"\x95\x5C\\a", "/\x95\x5C/a"}};  // 表's trail byte is kept
  for (const auto& c : cases) {
    item.SetPathInfo(c.assigned);
    EXPECT_EQ(item.PathInfo(), c.stored);
    EXPECT_TRUE(Dispatch(c.stored)) << c.stored;
  }
  EXPECT_FALSE(Dispatch("/list"));
}

TEST_F(DispatcherTest, NamesAreUniqueIgnoringCase) {
  auto& list = Dispatcher.Actions().Add("RequestList", "/list", nullptr);
  EXPECT_THROW(Dispatcher.Actions().Add("requestlist", "/x", nullptr), EWebAppError);
  auto& generated = Dispatcher.Actions().Add();
  EXPECT_EQ(generated.Name(), "WebActionItem2");
  EXPECT_THROW(generated.SetName("REQUESTLIST"), EWebAppError);
  list.SetName("requestLIST");  // renaming itself is fine
  EXPECT_EQ(Dispatcher.Actions().Find("REQUESTlist"), &list);
  EXPECT_EQ(Dispatcher.Actions().Count(), 2u);
  // An item without a handler handles nothing.
  EXPECT_FALSE(Dispatch("/list"));
}

}  // namespace
