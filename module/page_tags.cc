// The tags added beside the original vocabulary: the detail page read from the
// catalogue row, the search form kept filled in, where the list page stands in the
// result, the kind of notice and the program's own URL. Every value taken from the
// catalogue or the request is written as text (character references).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/page_window.h"
#include "module/result_row.h"
#include "platform/text_compare.h"
#include "web/html_text.h"

namespace module {

using platform::FieldValue;
using platform::SameTextIgnoringCase;
using platform::TStringList;
using web::EscapeHtml;

namespace {

// An empty value is shown as "---", as the original detail tags show an empty column.
std::string DashWhenEmptyText(const std::string& value) { return value.empty() ? "---" : value; }

std::string PercentEncodeControlBytes(const std::string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7f) {
      encoded += {'%', kHex[c >> 4], kHex[c & 0x0f]};
    } else {
      encoded.push_back(static_cast<char>(c));
    }
  }
  return encoded;
}

std::string LoanStateText(std::uint8_t state) {
  switch (state) {
    case kLoanAvailable:
      return std::string(texts::kLoanAvailable);
    case kLoanLentOut:
      return std::string(texts::kLoanLentOut);
    default:
      return std::string(texts::kLoanNotForLoan);
  }
}

}  // namespace

bool TMainMod::RecordRowPresent() {
  if (!qMaster->Active()) return false;
  if (!qMaster->AtEnd()) return true;
  RecordMissing = true;
  return false;
}

std::string TMainMod::ProgramUrl() {
  return PercentEncodeControlBytes("http://" + Request()->Host() + Request()->ScriptName());
}

std::string TMainMod::BookUrl(const std::string& bookId, std::string_view path) {
  return ProgramUrl() + "/" + std::string(path) + "?ID=" + NMURL->URLEncode(bookId);
}

bool TMainMod::AnswerPageTag(std::string_view tagString, const TStringList& tagParams,
                             std::string& replaceText) {
  // The search value a tag names with NAME=, as the search action read it; a filter's
  // as its links write it.
  std::string filterValue;
  auto searchValue = [&]() -> const std::string* {
    const std::string name = FieldValue(tagParams, "NAME");
    if (auto value = FilterFieldValue(Filters, name)) {
      filterValue = *value;
      return &filterValue;
    }
    const std::pair<std::string_view, const std::string*> values[] = {
        {"BOOKNAME", &BookName}, {"CHOSYA", &Chosya}, {"SYUPAN", &Syupan},       {"ISBN", &Isbn},
        {"KENMEI", &Kenmei},     {"ORDER", &Order},   {"ORDERKIND", &OrderKind}, {"ANY", &Any},
    };
    for (const auto& [field, value] : values) {
      if (field == name) return value;
    }
    return nullptr;
  };
  // SELECTED and CHECKED: the search value equals VALUE (the sort direction in any
  // letter case, as the search accepts it), or is empty and the choice says DEFAULT=1.
  auto choiceHolds = [&]() {
    const std::string* value = searchValue();
    if (!value) return false;
    if (value->empty() && FieldValue(tagParams, "DEFAULT") == "1") return true;
    const std::string wanted = FieldValue(tagParams, "VALUE");
    return value == &OrderKind ? SameTextIgnoringCase(*value, wanted) : *value == wanted;
  };
  // Control bytes of a forged Host header are percent-encoded: an XML page (the OpenSearch
  // description) may hold none of them, not even as character references.
  // The paging tags read the record count of the open search; elsewhere they are empty.
  auto shownRows = [&]() -> std::optional<ShownRows> {
    PagingTagShown = true;
    if (!qMaster->Active()) return std::nullopt;
    return PageShownRows(ListMax, PageNumber, qMaster->RowCount());
  };

  if (tagString == "COLUMN") {
    const std::string column = FieldValue(tagParams, "NAME");
    if (column.empty() || !qMaster->Active()) return true;
    const std::string value = RecordRowPresent() ? qMaster->FieldText(column) : std::string();
    replaceText = EscapeHtml(DashWhenEmptyText(value));
  } else if (tagString == "LOANSTATE" || tagString == "DUEDATE") {
    if (!RecordRowPresent()) return true;
    const std::uint8_t state = CurrentLoanState();
    if (tagString == "LOANSTATE") {
      replaceText = LoanStateText(state);
    } else if (state == kLoanLentOut) {
      const std::string due = qMaster->FieldText("KA_KIGEN");
      if (!due.empty()) replaceText = EscapeHtml(FieldValue(tagParams, "LABEL") + due);
    }
  } else if (tagString == "SEARCHVALUE") {
    if (const std::string* value = searchValue()) replaceText = SearchValueHtml(*value);
  } else if (tagString == "SELECTED") {
    if (choiceHolds()) replaceText = "selected";
  } else if (tagString == "CHECKED") {
    if (choiceHolds()) replaceText = "checked";
  } else if (tagString == "FIRSTROW") {
    if (auto rows = shownRows()) replaceText = std::to_string(rows->First);
  } else if (tagString == "LASTROW") {
    if (auto rows = shownRows()) replaceText = std::to_string(rows->Last);
  } else if (tagString == "PAGECOUNT") {
    PagingTagShown = true;
    if (qMaster->Active()) replaceText = std::to_string(PageCount(ListMax, qMaster->RowCount()));
  } else if (tagString == "PAGENAV") {
    PagingTagShown = true;
    // A notice shows the navigation only for a page past the result's end, whose
    // page numbers lead back into it.
    const bool notice = !ErrorName.empty() && ErrorName != texts::kPageNotFound;
    if (!qMaster->Active() || notice) return true;
    const std::string label = FieldValue(tagParams, "LABEL");
    replaceText = BuildPageNav(label.empty() ? std::string(texts::kPagerLabel) : label);
  } else if (tagString == "ERR_KIND") {
    // One word a template can use as a class name to fit its text to the notice.
    const std::pair<std::string_view, std::string_view> kinds[] = {
        {texts::kRuntimeError, "no-keyword"}, {texts::kNoBooksFound, "no-hits"},
        {texts::kDatabaseError, "database"},  {texts::kBookNotFound, "not-found"},
        {texts::kPageNotFound, "no-page"},    {texts::kSearchTooLarge, "too-large"},
    };
    for (const auto& [name, kind] : kinds) {
      if (ErrorName == name) replaceText = kind;
    }
    if (SortOrderRefused) replaceText = "bad-order";
  } else if (tagString == "ERR_HEADING") {
    // The notice's name in a patron's words: "nothing typed" rather than a run-time error.
    replaceText = EscapeHtml(
        ErrorName == texts::kRuntimeError ? std::string(texts::kNoKeywordHeading) : ErrorName);
  } else if (tagString == "OTHER_FIELD_HITS") {
    // Only the notice of a search that found nothing offers the other fields.
    if (ErrorName == texts::kNoBooksFound) replaceText = BuildOtherFieldHits();
  } else if (tagString == "FACET") {
    replaceText = BuildFacet(FieldValue(tagParams, "NAME"), FieldValue(tagParams, "LABEL"));
  } else if (tagString == "FACET_APPLIED") {
    replaceText = BuildFacetApplied(FieldValue(tagParams, "LABEL"));
  } else if (tagString == "PROGRAM_URL") {
    replaceText = EscapeHtml(ProgramUrl());
  } else if (tagString == "PERMALINK") {
    // The book's own address: its key alone, encoded as the result rows encode it;
    // with FORMAT=ris, bib or marcxml the address of its download in that format.
    if (!RecordRowPresent()) return true;
    const std::string format = FieldValue(tagParams, "FORMAT");
    const bool exported = format == "ris" || format == "bib" || format == "marcxml";
    replaceText =
        EscapeHtml(BookUrl(qMaster->FieldText("MS_BOOKID"), exported ? "data." + format : "data"));
  } else {
    return AnswerReaderTag(tagString, tagParams, replaceText);
  }
  return true;
}

}  // namespace module
