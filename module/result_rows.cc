// The rows of the result list: one table row per book of the current page, with its
// number, loan state mark, classification, detail link and author search link.
#include <string>

#include "module/html_lines.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/page_window.h"
#include "module/result_row.h"

namespace module {

using platform::TStringList;

RowWindow TMainMod::SeekPageStart() {
  const RowWindow window = PageRowWindow(ListMax, PageNumber, qMaster->RowCount());
  qMaster->SkipRows(window.SkipRows);
  return window;
}

std::uint8_t TMainMod::CurrentLoanState() {
  // Columns are read one statement at a time, in the order of the rules: as arguments
  // of one call they would be read in the compiler's order, and the error of a missing
  // column would name a different column with each compiler.
  const std::string userId = qMaster->FieldText("KA_USERID");
  const std::string tmark = qMaster->FieldText("MS_TMARK");
  const std::string tfmsuu = qMaster->FieldText("MS_TFMSUU");
  const std::string kkubun = qMaster->FieldText("MS_KKUBUN");
  return DecideLoanState(userId, tmark, tfmsuu, kkubun, Kintai);
}

std::string TMainMod::BuildResultRows() {
  const RowWindow window = SeekPageStart();
  TStringList lines;
  for (std::int64_t k = 0; k < window.RowLimit && !qMaster->AtEnd(); ++k) {
    // The lines are built in order, so a missing column is named alike by every compiler.
    LoanState = CurrentLoanState();
    const std::string mark(LoanState == kLoanAvailable ? texts::kRowMarkAvailable
                                                       : texts::kRowMarkUnavailable);
    lines.push_back("<tr>");
    lines.push_back("<td align=\"RIGHT\" width=\"25\">" + std::to_string(window.FirstNumber + k) +
                    "</td>");
    lines.push_back("<td>" + mark + "</td>");
    lines.push_back("<td>" + ClassificationCell(qMaster->FieldText("MS_SEIKYU")) + "</td>");
    const std::string detailQuery = BuildDetailQuery();
    lines.push_back("<td><a href=\"" + ScriptUrl + "/data?" + detailQuery + "\">" +
                    qMaster->FieldText("MS_SYOMEI") + "  </a></td>");
    const std::string author = qMaster->FieldText("MS_CHOSYA");
    lines.push_back("<td><a href=\"" + ScriptUrl +
                    "/list?PAGENUM=0&CHOSYA=" + NMURL->URLEncode(AuthorLinkValue(author, AcLimit)) +
                    "&NoKanaFind=1\">" + author + "</a></td>");
    lines.push_back("</tr>");
    qMaster->NextRow();
  }
  return JoinHtmlLines(lines);
}

std::string TMainMod::BuildDetailQuery() {
  // Every value but the key and the loan state carries two blanks, so that an empty
  // column arrives on the detail page as two blanks and is shown as "---".
  const std::pair<const char*, const char*> columns[] = {
      {"&BNAME=", "MS_SYOMEI"},  {"&BKANA=", "MS_SYOKANA"}, {"&ANAME=", "MS_CHOSYA"},
      {"&AKANA=", "MS_CHOKANA"}, {"&PUB=", "MS_SYUPAN"},    {"&NDC=", "MS_SEIKYU"},
      {"&ISBN=", "MS_ISBN"},     {"&SUB=", "MS_KENMEI"},
  };
  std::string query = "ID=" + NMURL->URLEncode(qMaster->FieldText("MS_BOOKID")) +
                      "&RENT=" + NMURL->URLEncode(std::to_string(LoanState));
  for (const auto& [key, column] : columns) {
    query += key + NMURL->URLEncode(qMaster->FieldText(column) + "  ");
  }
  return query;
}

}  // namespace module
