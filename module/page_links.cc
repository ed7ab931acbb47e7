// The previous-page and next-page links of the result list, which repeat the search
// for the neighbouring page with the search fields carried in the query string.
#include <string>

#include "module/html_lines.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/page_window.h"
#include "web/html_text.h"

namespace module {

using platform::TStringList;
using web::EscapeHtml;

std::string TMainMod::CarriedFields() { return CarriedFieldsWith(Filters); }

std::string TMainMod::CarriedFieldsWith(const FacetFilters& filters) {
  const std::pair<const char*, const std::string*> carried[] = {
      {"BOOKNAME", &BookName}, {"CHOSYA", &Chosya}, {"SYUPAN", &Syupan}, {"ISBN", &Isbn},
      {"KENMEI", &Kenmei},     {"ANY", &Any},       {"ORDER", &Order},   {"ORDERKIND", &OrderKind},
  };
  std::string text;
  for (const auto& [name, value] : carried) {
    if (value->empty()) continue;
    NMURL->InputString = *value;
    text += std::string("&") + name + "=" + NMURL->GetEncodeString();
  }
  return text + FilterQueryFields(filters);
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

std::string TMainMod::BuildPageNav(std::string_view label) {
  const std::int64_t pageCount = PageCount(ListMax, qMaster->RowCount());
  if (pageCount == 0 || (pageCount == 1 && PageNumber == 0)) return "";
  TStringList lines;
  lines.push_back("<nav class=\"pager\" aria-label=\"" + EscapeHtml(label) + "\">");
  lines.push_back("<ul>");
  // Previous and next are the original page links, so they lead where those lead.
  // Past the last page the previous page is no page either: the numbers lead back.
  std::string prior;
  if (PageNumber < pageCount) MakePageLink("PRIOR_PAGE", prior);
  if (!prior.empty()) lines.push_back("<li class=\"prev\">" + prior + "</li>");
  for (std::int64_t page : PageNumberWindow(PageNumber, pageCount, 2)) {
    const std::string number = std::to_string(page + 1);
    if (page == kPageGap) {
      lines.push_back("<li class=\"gap\">" + std::string(texts::kPagerGap) + "</li>");
    } else if (page == PageNumber) {
      lines.push_back("<li class=\"current\"><span aria-current=\"page\">" + number +
                      "</span></li>");
    } else {
      // The carried fields come from the request and are written as text; the script's
      // address already is (MakeScriptUrl), so it is not escaped twice.
      const std::string query =
          Request()->PathInfo() + "?PAGENUM=" + std::to_string(page) + CarriedFields();
      lines.push_back("<li><a href=\"" + ScriptUrl + EscapeHtml(query) + "\">" + number +
                      "</a></li>");
    }
  }
  std::string next;
  MakePageLink("NEXT_PAGE", next);
  if (!next.empty()) lines.push_back("<li class=\"next\">" + next + "</li>");
  lines.push_back("</ul>");
  lines.push_back("</nav>");
  return JoinHtmlLines(lines);
}

}  // namespace module
