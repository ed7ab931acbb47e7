// The expected bytes of the search pages built from the default templates: the list
// page with its condition table, rows and page links, and the error page.
#pragma once

#include <string>
#include <string_view>

#include "tests/module/installation.h"

namespace module_e2e {

// Shift_JIS texts of the pages, written out so that a wrong encoding cannot pass.
inline constexpr std::string_view kBackText =
    "\x8c\x9f\x8d\xf5\x89\xe6\x96\xca\x82\xc9\x96\xdf\x82\xe9";  // 検索画面に戻る
// The loan state of the detail page (KASIDASI, LOANSTATE): 貸出可, 貸出中, 貸出不可.
inline const std::string kAvailable =
    "<font color=\"#0000FF\"><b> \x91\xdd\x8f\x6f\x89\xc2 </b></font>";
inline const std::string kLentOut =
    "<font color=\"#FF0000\"><b> \x91\xdd\x8f\x6f\x92\x86 </b></font>";
inline const std::string kNotForLoan =
    "<font color=\"#FF0000\"><b> \x91\xdd\x8f\x6f\x95\x73\x89\xc2 </b></font>";
inline constexpr std::string_view kMarkAvailable = "<font color=\"#0000FF\"> \x81\xa1 </font>";
inline constexpr std::string_view kMarkUnavailable = "<font color=\"#FF0000\"> \x81\xa3 </font>";
inline constexpr std::string_view kLabelBookName = "\x8f\x91\x96\xbc";        // 書名
inline constexpr std::string_view kLabelChosya = "\x92\x98\x8e\xd2\x96\xbc";  // 著者名
inline constexpr std::string_view kLabelOrder = "\x95\xc0\x8f\x87";           // 並順
inline constexpr std::string_view kDatabaseErrorName =
    "\x83\x66\x81\x5b\x83\x5e\x83\x78\x81\x5b\x83\x58\x83\x47\x83\x89\x81\x5b";  // データベースエラー

// One row of the condition table.
inline std::string Condition(std::string_view label, std::string_view value) {
  return "<tr><td>" + std::string(label) + "</td><td> = </td><td>" + std::string(value) +
         "</td></tr>\r\n";
}

// The default list template expanded.
inline std::string ListPage(int count, std::string_view conditions, std::string_view rows,
                            std::string_view prior = "", std::string_view next = "",
                            std::string_view scriptUrl = "../liraweb") {
  return "LIST " + std::to_string(count) + "[][]\r\n<table border=\"0\">\r\n" +
         std::string(conditions) + "</table>\r\n" + std::string(rows) + "[" + std::string(prior) +
         "][" + std::string(next) + "]\r\n<a href=\"" + std::string(scriptUrl) + "\">" +
         std::string(kBackText) + "</a>\r\n";
}

// The default error template expanded.
inline std::string ErrorPage(std::string_view name, std::string_view message,
                             std::string_view scriptUrl = "../liraweb") {
  return "ERROR " + std::string(name) + "\r\n" + std::string(message) + "\r\n<a href=\"" +
         std::string(scriptUrl) + "\">" + std::string(kBackText) + "</a>\r\n";
}

// The seven lines of one result row.
struct RowView {
  long long number;
  bool available;
  std::string cell, detailQuery, title, authorValue, author;
};
inline std::string Row(const RowView& row, std::string_view scriptUrl = "../liraweb") {
  const std::string url(scriptUrl);
  return "<tr>\r\n<td align=\"RIGHT\" width=\"25\">" + std::to_string(row.number) +
         "</td>\r\n<td>" + std::string(row.available ? kMarkAvailable : kMarkUnavailable) +
         "</td>\r\n<td>" + row.cell + "</td>\r\n<td><a href=\"" + url + "/data?" + row.detailQuery +
         "\">" + row.title + "  </a></td>\r\n<td><a href=\"" + url +
         "/list?PAGENUM=0&CHOSYA=" + row.authorValue + "&NoKanaFind=1\">" + row.author +
         "</a></td>\r\n</tr>\r\n";
}

// A book found by a search, shown in the list with only its title and key set.
inline Book Titled(const std::string& id, const std::string& title) {
  return {{"MS_BOOKID", id}, {"MS_SYOMEI", title}};
}

// The row of a book made by Titled, available, numbered n.
inline std::string TitledRow(long long n, const std::string& id, const std::string& title,
                             const std::string& encodedTitle,
                             std::string_view scriptUrl = "../liraweb") {
  return Row({n, true, "",
              "ID=" + id + "&RENT=0&BNAME=" + encodedTitle +
                  "++&BKANA=++&ANAME=++&AKANA=++&PUB=++&NDC=++&ISBN=++&SUB=++",
              title, "", ""},
             scriptUrl);
}

}  // namespace module_e2e
