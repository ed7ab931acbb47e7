// The facet tags: for the current search, each value of a facet with the number of rows
// it leaves, as links that add its filter, and the applied filters as links that remove
// them. The counts come from the search's own rows, read with the columns the facets
// need, the loan state decided as the result rows decide it.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "db/database_error.h"
#include "module/html_lines.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/result_row.h"
#include "platform/int_conversion.h"
#include "platform/text_lines.h"
#include "platform/exception.h"
#include "web/html_text.h"
#include "web/kept_templates.h"

namespace module {

using platform::TStringList;
using web::EscapeHtml;

namespace {

constexpr std::string_view kClassNames[] = {
    texts::kFacetClass0, texts::kFacetClass1, texts::kFacetClass2, texts::kFacetClass3,
    texts::kFacetClass4, texts::kFacetClass5, texts::kFacetClass6, texts::kFacetClass7,
    texts::kFacetClass8, texts::kFacetClass9,
};

// One value a facet list shows: its text (HTML), the filters its link leads to and,
// when it is no applied value, its count.
struct FacetValue {
  std::string text;
  FacetFilters link;
  bool applied = false;
  std::int64_t rows = 0;
};

}  // namespace

bool TMainMod::FacetsOn() const {
  return platform::StrToIntDef(Conf->OptionalText("FACETS"), 0) == 1;
}

bool TMainMod::ListShowsFacets() const {
  std::shared_ptr<const web::TScannedTemplate> list;
  try {
    list = web::ScannedTemplateFile(HtmlPath + "list.html");
  } catch (const platform::EFOpenError&) {
    return false;  // the page's own expansion raises it where it always did
  }
  return std::any_of(list->Tags().begin(), list->Tags().end(),
                     [](const web::TScannedTemplate::TTagPiece& tag) { return tag.TagString == "FACET"; });
}

const FacetCounts& TMainMod::CurrentFacetCounts() {
  if (SearchFacets) return *SearchFacets;
  SearchCriteria criteria = RequestedSearch();
  criteria.Order.clear();
  criteria.Relevance = false;
  const TStringList search = BuildSearchStatement(platform::ReadTextLines(FindSqlPath()), criteria);
  if (!qFacet) qFacet = std::make_unique<db::TQuery>("qFacet");
  // Opened while the list's own result is open, so on the same database connection it
  // reads the same committed state (one read transaction on either engine).
  qFacet->SetDatabaseName(DbAlias);
  qFacet->SetSqlLines(FacetRowsStatement(search));
  qFacet->SetRowFilters(FilterParts(Filters, Kintai));
  qFacet->OpenQuery();
  // Counted from what the search index keeps where it can, else row by row.
  std::optional<FacetCounts> counts = CountFacetsWithoutRows(*qFacet, Kintai);
  if (!counts) {
    counts.emplace();
    for (; !qFacet->AtEnd(); qFacet->NextRow()) {
      // Read one at a time, in the order the result rows read them.
      const std::string userId = qFacet->FieldText("KA_USERID");
      const std::string tmark = qFacet->FieldText("MS_TMARK");
      const std::string tfmsuu = qFacet->FieldText("MS_TFMSUU");
      const std::string kkubun = qFacet->FieldText("MS_KKUBUN");
      const std::uint8_t state = DecideLoanState(userId, tmark, tfmsuu, kkubun, Kintai);
      const std::string year = qFacet->FieldText("MS_SYUNEN");
      const std::string callNumber = qFacet->FieldText("MS_SEIKYU");
      CountFacetRow(*counts, state, year, callNumber, qFacet->FieldText("MS_SYOZAI"));
    }
  }
  qFacet->CloseQuery();
  SearchFacets = std::move(*counts);
  return *SearchFacets;
}

const std::map<std::int64_t, std::string>& TMainMod::ShelfLocationNames() {
  if (ShelfNames) return *ShelfNames;
  if (!qFacet) qFacet = std::make_unique<db::TQuery>("qFacet");
  qFacet->SetDatabaseName(DbAlias);
  qFacet->SetSqlLines({"SELECT SY_CODE, SY_SYOZAI FROM SYOZAI"});
  qFacet->SetRowFilters({});
  qFacet->OpenQuery();
  std::map<std::int64_t, std::string> names;
  for (; !qFacet->AtEnd(); qFacet->NextRow()) {
    const std::string code = qFacet->FieldText("SY_CODE");
    if (auto value = platform::TryStrToInt(code)) names[*value] = qFacet->FieldText("SY_SYOZAI");
  }
  qFacet->CloseQuery();
  ShelfNames = std::move(names);
  return *ShelfNames;
}

namespace {

// The facet list: a heading when label is given, then one item a value.
std::string FacetList(std::string_view listClass, std::string_view label,
                      const std::vector<std::string>& items) {
  if (items.empty()) return "";
  TStringList lines;
  if (!label.empty())
    lines.push_back("<h3 class=\"facet-name\">" + EscapeHtml(std::string(label)) + "</h3>");
  lines.push_back("<ul class=\"" + std::string(listClass) + "\">");
  for (const std::string& item : items) lines.push_back(item);
  lines.push_back("</ul>");
  return JoinHtmlLines(lines);
}

std::string DecadeText(std::int32_t decade) {
  return std::to_string(decade) + std::string(texts::kFacetDecadeTail);
}

}  // namespace

std::string TMainMod::BuildFacet(std::string_view name, std::string_view label) {
  // Only a list page has a search whose rows the values narrow.
  if (!FacetsOn() || !qMaster->Active() || !ErrorName.empty()) return "";
  const FacetCounts& counts = CurrentFacetCounts();
  std::vector<FacetValue> values;
  auto add = [&](std::string text, auto FacetFilters::*field, auto value, std::int64_t rows) {
    FacetValue shown{std::move(text), Filters, Filters.*field == value, rows};
    if (shown.applied) {
      shown.link.*field = {};
    } else {
      shown.link.*field = value;
    }
    values.push_back(std::move(shown));
  };
  if (name == "AVAILABLE") {
    if (counts.Available > 0)
      add(std::string(texts::kFacetAvailable), &FacetFilters::Available, true, counts.Available);
  } else if (name == "DECADE") {
    for (const auto& [decade, rows] : counts.Decades)
      add(DecadeText(decade), &FacetFilters::Decade, std::optional<std::int32_t>(decade), rows);
  } else if (name == "CLASS") {
    for (const auto& [digit, rows] : counts.Classes)
      add(std::string(kClassNames[digit - '0']), &FacetFilters::Class, std::optional<char>(digit),
          rows);
  } else if (name == "LOCATION") {
    const auto& names = ShelfLocationNames();
    for (const auto& [code, rows] : counts.Locations) {
      const auto known = names.find(code);
      add(EscapeHtml(known != names.end() ? known->second : std::to_string(code)),
          &FacetFilters::Location, std::optional<std::int64_t>(code), rows);
    }
  }
  std::vector<std::string> items;
  for (const FacetValue& value : values) {
    const std::string href = ScriptUrl + EscapeHtml(Request()->PathInfo() + "?PAGENUM=0" +
                                                    CarriedFieldsWith(value.link));
    const std::string count = " <span class=\"count\">" + std::to_string(value.rows) + "</span>";
    items.push_back(value.applied
                        ? "<li class=\"applied\"><a href=\"" + href + "\" aria-current=\"true\">" +
                              value.text + count + "<span class=\"remove\">" +
                              std::string(texts::kFacetRemove) + "</span></a></li>"
                        : "<li><a href=\"" + href + "\">" + value.text + count + "</a></li>");
  }
  return FacetList("facet", label, items);
}

std::string TMainMod::BuildFacetApplied(std::string_view label) {
  if (!FacetsOn() || SearchFlags == 0 || Filters.Empty()) return "";
  std::vector<std::string> items;
  auto add = [&](std::string text, auto FacetFilters::*field) {
    FacetFilters link = Filters;
    link.*field = {};
    const std::string href =
        ScriptUrl + EscapeHtml(Request()->PathInfo() + "?PAGENUM=0" + CarriedFieldsWith(link));
    items.push_back("<li><a href=\"" + href + "\">" + text + "<span class=\"remove\">" +
                    std::string(texts::kFacetRemove) + "</span></a></li>");
  };
  if (Filters.Available) add(std::string(texts::kFacetAvailable), &FacetFilters::Available);
  if (Filters.YearFrom)
    add(std::to_string(*Filters.YearFrom) + std::string(texts::kFacetYearFromTail),
        &FacetFilters::YearFrom);
  if (Filters.YearTo)
    add(std::to_string(*Filters.YearTo) + std::string(texts::kFacetYearToTail),
        &FacetFilters::YearTo);
  if (Filters.Decade) add(DecadeText(*Filters.Decade), &FacetFilters::Decade);
  if (Filters.Class) add(std::string(kClassNames[*Filters.Class - '0']), &FacetFilters::Class);
  if (Filters.Location) {
    const auto& names = ShelfLocationNames();
    const auto known = names.find(*Filters.Location);
    add(EscapeHtml(known != names.end() ? known->second : std::to_string(*Filters.Location)),
        &FacetFilters::Location);
  }
  return FacetList("facet-applied", label, items);
}

}  // namespace module
