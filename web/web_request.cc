#include "web/web_request.h"

#include "platform/int_conversion.h"
#include "platform/text_compare.h"
#include "web/field_list.h"

namespace web {

using platform::SameTextIgnoringCase;
using platform::TryStrToInt;
using platform::TStringList;

namespace {

TMethodType MethodTypeOf(std::string_view method) {
  if (SameTextIgnoringCase(method, "GET")) return mtGet;
  if (SameTextIgnoringCase(method, "PUT")) return mtPut;
  if (SameTextIgnoringCase(method, "POST")) return mtPost;
  if (SameTextIgnoringCase(method, "HEAD")) return mtHead;
  return mtAny;
}

// Request fields are separated by "&" alone, with no blanks skipped and quotes kept.
std::unique_ptr<TStringList> SplitRequestFields(std::string_view text) {
  auto list = std::make_unique<TStringList>();
  SplitFieldList("&", "", text, *list, false);
  return list;
}

}  // namespace

TWebRequest::~TWebRequest() = default;

std::int32_t TWebRequest::VariableNumber(int index) const {
  return TryStrToInt(VariableText(index)).value_or(-1);
}

void TWebRequest::ReadRequestHead() {
  MethodType_ = MethodTypeOf(Method());
  Content_ = ReadBody(ContentLength());
}

const TStringList& TWebRequest::QueryFieldList() {
  if (!QueryFields_) QueryFields_ = SplitRequestFields(Query());
  return *QueryFields_;
}

const TStringList& TWebRequest::ContentFieldList() {
  if (!ContentFields_) {
    const std::int32_t length = ContentLength();
    if (length <= 0) {
      ContentFields_ = std::make_unique<TStringList>();
    } else {
      // A body may arrive in pieces: it is read until it is whole or the input ends.
      std::string text = Content_;
      while (text.size() < static_cast<std::size_t>(length)) {
        const std::string more = ReadBody(length - static_cast<std::int32_t>(text.size()));
        if (more.empty()) break;
        text += more;
      }
      ContentFields_ = SplitRequestFields(text);
    }
  }
  return *ContentFields_;
}

}  // namespace web
