#include "test_module.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/exception.h"
#include "platform/string_list.h"

using namespace platform;
using namespace web;
using namespace app;

namespace {

std::string MethodLine(const char* page, TWebRequest& request) {
  return std::string(page) + " method=" + std::to_string(request.MethodType()) + " path=[" +
         request.PathInfo() + "]\r\n";
}

void ListFields(TWebActionItem&, TWebRequest& request, TWebResponse& response, bool&) {
  // The program's own rule: the body's fields only for a method of exactly "POST".
  const TStringList& fields =
      request.Method() == "POST" ? request.ContentFieldList() : request.QueryFieldList();
  std::string page = MethodLine("LIST", request);
  for (const std::string& line : fields) page += line + "\r\n";
  page += "BOOKNAME=" + FieldValue(fields, "bookname") + "\r\n";
  response.SetContent(page);
}

void Fail(TWebActionItem&, TWebRequest& request, TWebResponse&, bool&) {
  const std::string kind = FieldValue(request.QueryFieldList(), "KIND");
  const std::string message = FieldValue(request.QueryFieldList(), "MSG");
  if (kind == "alloc") throw std::bad_alloc();
  if (kind == "std") throw std::out_of_range(message);
  if (kind == "other") throw 42;
  throw Exception("ETestError", message);
}

void ShowVariables(TWebActionItem&, TWebRequest& request, TWebResponse& response, bool&) {
  std::string page;
  for (int index = 0; index < kRequestVariableCount; ++index) {
    const std::string text = request.VariableText(index);
    if (!text.empty()) page += std::to_string(index) + "=[" + text + "]\r\n";
  }
  page += "length=" + std::to_string(request.VariableNumber(rvContentLength)) + "\r\n";
  response.SetContent(page);
}

}  // namespace

TTestMod::TTestMod(TWebApplication& owner) : TWebModule(owner, "TestMod") {
  Actions().Add(
      "DefaultAction", "/",
      [](auto&, auto& request, auto& response, bool&) {
        response.SetContent(MethodLine("TOP", request));
      },
      true);
  Actions().Add("RequestList", "/list", ListFields);
  Actions().Add("RequestData", "/data", [](auto&, auto& request, auto& response, bool&) {
    response.SetContent(MethodLine("DATA", request));
  });
  Actions().Add("Fail", "fail", Fail);
  Actions().Add("Variables", "\\vars", ShowVariables);
  Actions().Add("Empty", "/empty", [](auto&, auto&, auto&, bool&) {});
  Actions().Add("SendSelf", "/sendself", [](auto&, auto&, auto& response, bool&) {
    response.SetContent("sent by the action\r\n");
    response.Send();
    response.SetContent("sent again\r\n");
  });
  if (std::getenv("TEST_MODULE_FAIL")) throw EFOpenError(std::getenv("TEST_MODULE_FAIL"));
}

TTestMod::~TTestMod() {
  struct stat output {};
  fstat(1, &output);
  const std::string marker = "destroyed after " + std::to_string(output.st_size) + " bytes\n";
  (void)!write(2, marker.data(), marker.size());
}
