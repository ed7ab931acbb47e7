// The previous-page and next-page links of the result list, which repeat the search
// for the neighbouring page with the search fields carried in the query string.
#include <string>

#include "module/main_mod.h"
#include "module/page_window.h"
#include "platform/japanese_texts.h"

std::string TMainMod::CarriedFields() {
  const std::pair<const char*, const std::string*> carried[] = {
      {"BOOKNAME", &BookName}, {"CHOSYA", &Chosya}, {"SYUPAN", &Syupan},       {"ISBN", &Isbn},
      {"KENMEI", &Kenmei},     {"ORDER", &Order},   {"ORDERKIND", &OrderKind},
  };
  std::string text;
  for (const auto& [name, value] : carried) {
    if (value->empty()) continue;
    NMURL->InputString = *value;
    text += std::string("&") + name + "=" + NMURL->GetEncodeString();
  }
  return text;
}

void TMainMod::MakePageLink(std::string_view tagName, std::string& replaceText) {
  std::optional<std::int32_t> page;
  std::string_view linkText;
  if (tagName == "NEXT_PAGE") {
    page = NextPageNumber(ListMax, PageNumber, qMaster->RowCount());
    linkText = texts::kNextPageLinkText;
  } else if (tagName == "PRIOR_PAGE") {
    page = PriorPageNumber(PageNumber);
    linkText = texts::kPriorPageLinkText;
  }
  if (!page) return;
  replaceText = "<a href=\"" + ScriptUrl + Request()->PathInfo() +
                "?PAGENUM=" + std::to_string(*page) + CarriedFields() + "\"" +
                std::string(linkText);
}
