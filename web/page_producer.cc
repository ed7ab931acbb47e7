#include "web/page_producer.h"

namespace web {

using platform::TStringList;

std::string TPageProducer::ResolveTag(const std::string& tagString, const TStringList& tagParams) {
  std::string replaceText;
  FireTagEvent(TagKind(tagString), tagString, tagParams, replaceText);
  return replaceText;
}

void TPageProducer::FireTagEvent(TTag tag, const std::string& tagString,
                                 const TStringList& tagParams, std::string& replaceText) {
  if (OnHTMLTag) OnHTMLTag(*this, tag, tagString, tagParams, replaceText);
}

}  // namespace web
