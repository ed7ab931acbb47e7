// The page producer the program uses: every tag of the template is answered by the
// OnHTMLTag event, which receives the tag's kind, name and parameters and sets its
// replacement. A tag that the event leaves alone, or any tag when no event is set,
// disappears from the page.
#pragma once

#include <functional>
#include <string>

#include "platform/string_list.h"
#include "web/custom_page_producer.h"
#include "web/tag.h"

namespace web {

class TPageProducer;

// Answers one tag: sets replaceText (which arrives empty) to the tag's replacement.
// An exception it raises ends the expansion and reaches the caller of ProduceContent.
using THTMLTagEvent =
    std::function<void(TPageProducer& sender, TTag tag, const std::string& tagString,
                       const platform::TStringList& tagParams, std::string& replaceText)>;

class TPageProducer : public TCustomPageProducer {
 public:
  // Called once for every tag; may be left unset.
  THTMLTagEvent OnHTMLTag;

  // The replacement that OnHTMLTag gives the tag, starting from empty text.
  std::string ResolveTag(const std::string& tagString,
                         const platform::TStringList& tagParams) override;

 protected:
  // Calls OnHTMLTag when it is set.
  virtual void FireTagEvent(TTag tag, const std::string& tagString,
                            const platform::TStringList& tagParams, std::string& replaceText);
};

}  // namespace web
