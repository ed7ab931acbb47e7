#include "app/web_application.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/web_app_error.h"
#include "fake_request.h"
#include "web/cgi_response.h"
#include "web/startup_hooks.h"

using namespace platform;
using namespace web;
using namespace app;

namespace {

// Counts modules alive; its one default action fails for the path "/fail".
int liveModules = 0;

class CountedMod : public TWebModule {
 public:
  explicit CountedMod(TWebApplication& owner) : TWebModule(owner, "CountedMod") {
    ++liveModules;
    Actions().Add(
        "DefaultAction", "/",
        [](auto&, TWebRequest& request, TWebResponse& response, bool&) {
          if (request.PathInfo() == "/fail") throw std::runtime_error("failed");
          response.SetContent("page");
        },
        true);
  }
  ~CountedMod() override { --liveModules; }
};

class TestApplication : public TWebApplication {
 public:
  void Run() override {}
};

TEST(WebApplication, ModuleIsMadeOnceAndPooledUntilTheApplicationEnds) {
  {
    TestApplication application;
    application.RegisterModuleClass(ModuleClassOf<CountedMod>());
    EXPECT_EQ(liveModules, 0);  // registering makes none
    for (int round = 0; round < 2; ++round) {
      FakeRequest request({{rvProtocolVersion, "HTTP/1.1"}});
      TCGIResponse response(request);
      EXPECT_TRUE(application.ServeRequest(request, response));
      EXPECT_TRUE(response.Sent());
      EXPECT_EQ(request.Written,
                "Status: 200 OK\r\nContent-Type: text/html\r\n"
                "Content-Length: 4\r\nContent:\r\n\r\npage");
      EXPECT_EQ(application.ActiveModules().size(), 0u);
      EXPECT_EQ(application.PooledModules().size(), 1u);
      EXPECT_EQ(liveModules, 1);
    }
  }
  EXPECT_EQ(liveModules, 0);
}

TEST(WebApplication, ModuleReturnsToThePoolWhenTheActionFails) {
  TestApplication application;
  application.RegisterModuleClass(ModuleClassOf<CountedMod>());
  FakeRequest request({{rvPathInfo, "/fail"}});
  TCGIResponse response(request);
  EXPECT_THROW(application.ServeRequest(request, response), std::runtime_error);
  EXPECT_FALSE(response.Sent());
  EXPECT_EQ(request.Written, "");
  EXPECT_EQ(application.ActiveModules().size(), 0u);
  EXPECT_EQ(application.PooledModules().size(), 1u);
}

TEST(WebApplication, AcquireTakesFromThePoolFirst) {
  TestApplication application;
  application.RegisterModuleClass(ModuleClassOf<CountedMod>());
  TWebModule& first = application.AcquireModule();
  TWebModule& second = application.AcquireModule();
  EXPECT_NE(&first, &second);
  EXPECT_EQ(&first.Owner(), &application);
  EXPECT_EQ(application.ActiveModules().size(), 2u);
  application.ReleaseModule(second);
  application.ReleaseModule(first);
  EXPECT_EQ(&application.AcquireModule(), &second);
  EXPECT_EQ(application.PooledModules().size(), 1u);
}

TEST(WebApplication, FailuresToMakeAModuleLeaveTheListsAlone) {
  TestApplication application;
  EXPECT_THROW(application.AcquireModule(), EWebAppError);
  application.RegisterModuleClass(
      [](TWebApplication&) -> std::unique_ptr<TWebModule> { throw EConvertError("bad"); });
  EXPECT_THROW(application.AcquireModule(), EConvertError);
  EXPECT_TRUE(application.ActiveModules().empty());
  EXPECT_TRUE(application.PooledModules().empty());
}

TEST(WebApplication, InitializeRunsTheStartupHooks) {
  // Static: the hook stays registered for the rest of the process, so a repeated run
  // (--gtest_repeat) adds one more; each registered hook runs once per Initialize.
  static int runs = 0, registered = 0;
  RegisterStartupHook([] { ++runs; });
  ++registered;
  runs = 0;
  TestApplication application;
  application.Initialize();
  EXPECT_EQ(runs, registered);
}

}  // namespace
