// The help of a search that found nothing: how many books the same text finds in each
// other field and in the any-field box, each as a link to that search.
#include <string>

#include "db/database_error.h"
#include "module/html_lines.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "platform/int_conversion.h"
#include "platform/text_lines.h"
#include "web/html_text.h"

namespace module {

using platform::TStringList;
using web::EscapeHtml;

std::string TMainMod::BuildOtherFieldHits() {
  // The searched texts, one after another, are the words tried in every field.
  std::string text;
  for (const std::string& value : SearchedTexts) {
    if (!value.empty()) text += (text.empty() ? "" : " ") + value;
  }
  struct Field {
    const char* name;
    std::uint8_t flag;
    std::string_view label;
  };
  const Field fields[] = {
      {"ANY", kSearchAny, texts::kFieldAny},
      {"BOOKNAME", kSearchBookName, texts::kFieldBookName},
      {"CHOSYA", kSearchChosya, texts::kFieldChosya},
      {"SYUPAN", kSearchSyupan, texts::kFieldSyupan},
      {"ISBN", kSearchIsbn, texts::kFieldIsbn},
      {"KENMEI", kSearchKenmei, texts::kFieldKenmei},
  };
  const bool anyField = platform::StrToIntDef(Conf->OptionalText("ANY_FIELD"), 0) == 1;
  const TStringList head = platform::ReadTextLines(FindSqlPath());
  TStringList lines;
  for (const Field& field : fields) {
    // The search just made found nothing there; the any-field box only where it is on.
    if (SearchFlags == field.flag || (field.flag == kSearchAny && !anyField)) continue;
    SearchCriteria criteria = RequestedSearch();
    criteria.BookName = criteria.Chosya = criteria.Syupan = criteria.Isbn = criteria.Kenmei =
        criteria.Any = criteria.Order = "";
    criteria.Relevance = false;
    // The links do not carry NoKanaFind, so each count is that of a search comparing the
    // author's reading too, as the link's search will.
    criteria.AuthorOnly = false;
    criteria.SearchFlags = field.flag;
    const std::pair<std::uint8_t, std::string*> fieldTexts[] = {
        {kSearchBookName, &criteria.BookName}, {kSearchChosya, &criteria.Chosya},
        {kSearchSyupan, &criteria.Syupan},     {kSearchIsbn, &criteria.Isbn},
        {kSearchKenmei, &criteria.Kenmei},     {kSearchAny, &criteria.Any},
    };
    for (const auto& [flag, value] : fieldTexts) {
      if (flag == field.flag) *value = text;
    }
    if (qMaster->Active()) qMaster->CloseQuery();
    qMaster->SetSqlLines(BuildSearchStatement(head, criteria));
    qMaster->OpenQuery();
    const std::int32_t count = qMaster->RowCount();
    qMaster->CloseQuery();
    if (count < 0) throw db::EDatabaseError(std::string(texts::kRowCountFailed));
    if (count == 0) continue;
    NMURL->InputString = text;
    std::string query =
        Request()->PathInfo() + "?PAGENUM=0&" + field.name + "=" + NMURL->GetEncodeString();
    for (const auto& [name, value] : {std::pair{"ORDER", &Order}, {"ORDERKIND", &OrderKind}}) {
      NMURL->InputString = *value;
      if (!value->empty()) query += std::string("&") + name + "=" + NMURL->GetEncodeString();
    }
    query += FilterQueryFields(Filters);
    lines.push_back("<li><a href=\"" + ScriptUrl + EscapeHtml(query) + "\">" +
                    std::string(field.label) + std::string(texts::kOtherFieldMiddle) +
                    std::to_string(count) + std::string(texts::kOtherFieldTail) + "</a></li>");
  }
  if (lines.empty()) return "";
  lines.insert(lines.begin(), "<ul class=\"other-fields\">");
  lines.push_back("</ul>");
  return JoinHtmlLines(lines);
}

}  // namespace module
