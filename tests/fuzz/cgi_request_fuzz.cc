// Builds the CGI request from a fuzzed environment and body, as a web server would hand
// them over, and reads its variables, query fields and body fields.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/exception.h"
#include "platform/int_conversion.h"
#include "platform/text_compare.h"
#include "tests/fuzz/fuzz_check.h"
#include "web/cgi_request.h"
#include "web/field_list.h"

using namespace platform;
using namespace web;

namespace {

// The names the request reads, with the unprefixed fallbacks a server may use instead.
constexpr const char* kNames[] = {
    "REQUEST_METHOD",     "SERVER_PROTOCOL",   "URL",          "QUERY_STRING",
    "PATH_INFO",          "HTTP_HOST",         "HOST",         "HTTP_CONTENT_LENGTH",
    "CONTENT_LENGTH",     "HTTP_CONTENT_TYPE", "CONTENT_TYPE", "SCRIPT_NAME",
    "HTTP_USER_AGENT",    "SERVER_PORT",       "HTTP_COOKIE",  "REMOTE_ADDR",
    "HTTP_AUTHORIZATION", "PATH_TRANSLATED",
};

// The body goes through a pipe, whose buffer holds it whole.
constexpr std::size_t kMaxBody = 60000;

// An announced length far beyond the body reserves that much address space; the harness
// keeps it small so that a run measures parsing, not allocation.
constexpr std::int32_t kMaxAnnouncedLength = 1 << 20;

bool IsLengthName(std::string_view name) { return name.ends_with("CONTENT_LENGTH"); }

// The fields of text, or the one line "error" when a bad escape stops the splitting.
TStringList SplitOrError(std::string_view text) {
  TStringList fields;
  try {
    SplitFieldList("&", "", text, fields, false);
  } catch (const EConvertError&) {
    return {"error"};
  }
  return fields;
}

template <typename Fields>
TStringList FieldsOrError(Fields fields) {
  try {
    return fields();
  } catch (const EConvertError&) {
    return {"error"};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  for (const char* name : kNames) unsetenv(name);
  const int settings = input.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < settings; ++i) {
    const char* name = input.PickValueInArray(kNames);
    const std::string value = input.ConsumeRandomLengthString(300);
    if (IsLengthName(name) && TryStrToInt(value).value_or(0) > kMaxAnnouncedLength) continue;
    setenv(name, value.c_str(), 1);
  }
  std::string body = input.ConsumeRemainingBytesAsString();
  if (body.size() > kMaxBody) body.resize(kMaxBody);

  int pipeFds[2];
  fuzz::Check(pipe(pipeFds) == 0, "a pipe for the body");
  fuzz::Check(write(pipeFds[1], body.data(), body.size()) == static_cast<ssize_t>(body.size()),
              "the body fits the pipe");
  close(pipeFds[1]);
  {
    TCGIRequest request(pipeFds[0], -1);
    for (int index = -1; index <= kRequestVariableCount; ++index) {
      const std::string text = request.VariableText(index);
      fuzz::Check(request.VariableNumber(index) == TryStrToInt(text).value_or(-1),
                  "VariableNumber converts VariableText");
    }
    fuzz::Check(request.VariableText(rvContent) == request.Content(), "rvContent is the body");
    const std::int32_t length = request.ContentLength();
    const std::string& content = request.Content();
    fuzz::Check(content.size() <= static_cast<std::size_t>(std::max(length, 0)),
                "no more body than announced");
    fuzz::Check(body.starts_with(content), "the body is read from its start");
    fuzz::Check((request.MethodType() == mtPost) == SameTextIgnoringCase(request.Method(), "POST"),
                "the method type follows REQUEST_METHOD");

    const TStringList query = FieldsOrError([&] { return request.QueryFieldList(); });
    fuzz::Check(query == SplitOrError(request.Query()), "query fields split the query string");
    const TStringList fields = FieldsOrError([&] { return request.ContentFieldList(); });
    const std::string announced = length > 0 ? body.substr(0, length) : std::string();
    fuzz::Check(fields == (length > 0 ? SplitOrError(announced) : TStringList()),
                "body fields split the announced stretch of the body");
  }
  close(pipeFds[0]);
  return 0;
}
