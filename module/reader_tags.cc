// The tags of pages a patron reads at a glance: result rows written from the
// installation's row template, links to the books of a row's author or subject, the
// detail page's way back to the result list it came from and its overdue mark, and the
// search words and page number a page title names. Values are written as text.
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "config/error_log.h"
#include "module/main_mod.h"
#include "module/result_row.h"
#include "web/html_text.h"
#include "web/kept_templates.h"

namespace module {

using platform::FieldValue;
using platform::TStringList;
using web::EscapeHtml;
using web::TPageProducer;

namespace {

// The search fields a link to other books may fill from a column of the row.
constexpr std::string_view kLinkedSearchFields[] = {"BOOKNAME", "CHOSYA", "SYUPAN", "ISBN",
                                                    "KENMEI"};

// True for a date written as the catalogue writes due dates: YYYY-MM-DD.
bool IsCatalogueDate(std::string_view date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (date[i] < '0' || date[i] > '9') return false;
  }
  return true;
}

// Today in the program's local time (the TZ of the process, as the log dates its
// entries), written as the catalogue writes due dates.
std::string TodayAsCatalogueDate() {
  const std::tm now = config::CurrentLocalTime();
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &now);
  return text;
}

}  // namespace

std::string TMainMod::BuildTemplateRows(std::string_view templateName) {
  // Scanned once for all the rows.
  const std::shared_ptr<const web::TScannedTemplate> rowTemplate =
      web::ScannedTemplateFile(HtmlPath + std::string(templateName));
  // The page's own producer is in the middle of the list template; the rows get their
  // own, answering the same tags.
  TPageProducer rowProducer;
  rowProducer.OnHTMLTag = PageProducer->OnHTMLTag;
  struct RowNumberReset {
    std::optional<std::int64_t>& number;
    ~RowNumberReset() { number.reset(); }
  } reset{TemplateRowNumber};
  const RowWindow window = SeekPageStart();
  std::string rows;
  for (std::int64_t k = 0; k < window.RowLimit && !qMaster->AtEnd(); ++k) {
    TemplateRowNumber = window.FirstNumber + k;
    rows += rowProducer.ProduceFromScanned(*rowTemplate);
    qMaster->NextRow();
  }
  return rows;
}

std::string TMainMod::ResultListAddress(web::TWebRequest& request) {
  // Only the row template's detail link carries the page number; an old link or a
  // permalink has no result list to go back to.
  if (!RequestFields || FieldValue(*RequestFields, "PAGENUM").empty()) return "";
  if (!ResultListRead) {
    ReadSearchFields(request);
    ResultListRead = true;
  }
  if (SearchFlags == 0) return "";
  return ScriptUrl + EscapeHtml("/list?PAGENUM=" + std::to_string(PageNumber) + CarriedFields());
}

bool TMainMod::AnswerReaderTag(std::string_view tagString, const TStringList& tagParams,
                               std::string& replaceText) {
  const bool inRow = TemplateRowNumber.has_value();
  if (tagString == "RESULT_ROWS") {
    // A row template that names itself would expand without end.
    if (inRow || !qMaster->Active()) return true;
    const std::string name = FieldValue(tagParams, "TEMPLATE");
    replaceText = BuildTemplateRows(name.empty() ? "list_row.html" : name);
  } else if (tagString == "ROWNUMBER") {
    if (inRow) replaceText = std::to_string(*TemplateRowNumber);
  } else if (tagString == "LOANWORDS") {
    if (!RecordRowPresent()) return true;
    const std::uint8_t state = CurrentLoanState();
    const char* choice = state == kLoanAvailable ? "AVAILABLE"
                         : state == kLoanLentOut ? "LENTOUT"
                                                 : "NOTFORLOAN";
    replaceText = EscapeHtml(FieldValue(tagParams, choice));
  } else if (tagString == "DETAILLINK") {
    // The book's address with the search and page of the list, so that the detail
    // page can lead back to them (BACKLINK); the detail page itself reads only ID.
    if (!inRow) return true;
    replaceText =
        ScriptUrl + EscapeHtml("/data?ID=" + NMURL->URLEncode(qMaster->FieldText("MS_BOOKID")) +
                               "&PAGENUM=" + std::to_string(PageNumber) + CarriedFields());
  } else if (tagString == "SEARCHLINK") {
    const std::string field = FieldValue(tagParams, "NAME");
    const std::string column = FieldValue(tagParams, "COLUMN");
    bool known = false;
    for (std::string_view name : kLinkedSearchFields) known = known || name == field;
    if (!known || column.empty() || !RecordRowPresent()) return true;
    std::string value = qMaster->FieldText(column);
    // The author is searched as the rows' own author link searches it: cut to AC_LIMIT
    // and in the author column alone, not in its reading.
    const bool author = field == "CHOSYA";
    if (author) value = AuthorLinkValue(value, AcLimit);
    if (value.empty()) return true;
    replaceText = ScriptUrl + EscapeHtml("/list?PAGENUM=0&" + field + "=" +
                                         NMURL->URLEncode(value) + (author ? "&NoKanaFind=1" : ""));
  } else if (tagString == "BACKLINK") {
    const std::string address = ResultListAddress(*Request());
    if (!address.empty()) {
      replaceText =
          "<a href=\"" + address + "\">" + EscapeHtml(FieldValue(tagParams, "LABEL")) + "</a>";
    }
  } else if (tagString == "OVERDUE") {
    if (!RecordRowPresent() || CurrentLoanState() != kLoanLentOut) return true;
    // A due date in another form is not compared: no mark rather than a wrong one.
    const std::string due = qMaster->FieldText("KA_KIGEN");
    if (IsCatalogueDate(due) && due < TodayAsCatalogueDate()) {
      replaceText = EscapeHtml(FieldValue(tagParams, "LABEL"));
    }
  } else if (tagString == "SEARCHWORDS") {
    const std::string* values[] = {&Any, &BookName, &Chosya, &Syupan, &Isbn, &Kenmei};
    for (const std::string* value : values) {
      if (value->empty()) continue;
      if (!replaceText.empty()) replaceText += ' ';
      replaceText += SearchValueHtml(*value);
    }
  } else if (tagString == "PAGENUMBER") {
    if (qMaster->Active()) replaceText = std::to_string(std::int64_t{PageNumber} + 1);
  } else {
    return false;
  }
  return true;
}

}  // namespace module
