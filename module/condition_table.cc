// The table of search conditions shown above the result list.
#include <string>

#include "module/html_lines.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "web/html_text.h"

namespace module {

using platform::TStringList;
using web::EscapeHtml;

std::string TMainMod::SortFieldLabel(std::string_view order) {
  if (order == "MS_SYOKANA") return std::string(texts::kSortByTitle);
  if (order == "MS_CHOKANA") return std::string(texts::kSortByAuthor);
  if (order == "MS_SEIKYU") return std::string(texts::kSortByClassification);
  return {};
}

std::string TMainMod::SortDirectionLabel(std::string_view orderKind) {
  if (orderKind == "ASC") return std::string(texts::kSortAscending);
  if (orderKind == "DESC") return std::string(texts::kSortDescending);
  return {};
}

std::string TMainMod::SearchValueHtml(const std::string& value) const {
  // Only a value holding a reference asks for the alias's mode, which starts the engine.
  const bool reference = value.find("&#") != std::string::npos;
  return reference && qMaster->LikeMatch() == db::MatchMode::kLoose
             ? web::EscapeHtmlKeepingReferences(value)
             : EscapeHtml(value);
}

std::string TMainMod::BuildConditionTable() {
  // The values come from the request, so they are written as character references.
  const std::pair<std::string_view, const std::string*> rows[] = {
      {texts::kConditionBookName, &BookName}, {texts::kConditionChosya, &Chosya},
      {texts::kConditionSyupan, &Syupan},     {texts::kConditionIsbn, &Isbn},
      {texts::kConditionKenmei, &Kenmei},     {texts::kConditionAny, &Any},
  };
  TStringList lines = {"<table border=\"0\">"};
  for (const auto& [head, value] : rows) {
    if (!value->empty())
      lines.push_back(std::string(head) + SearchValueHtml(*value) + "</td></tr>");
  }
  if (RelevanceOrdered()) {
    lines.push_back(std::string(texts::kConditionOrder) + std::string(texts::kSortByRelevance) +
                    "</td></tr>");
  } else if (!Order.empty()) {
    lines.push_back(std::string(texts::kConditionOrder) + SortFieldLabel(Order) +
                    SortDirectionLabel(OrderKind) + "</td></tr>");
  }
  lines.push_back("</table>");
  return JoinHtmlLines(lines);
}

}  // namespace module
