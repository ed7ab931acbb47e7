#include "module/result_row.h"

#include "platform/sjis.h"

namespace module {

std::uint8_t DecideLoanState(std::string_view userId, std::string_view tmark,
                             std::string_view tfmsuu, std::string_view kkubun, char kintai) {
  if (!userId.empty()) return kLoanLentOut;
  if (tmark.empty() && !tfmsuu.empty()) return kLoanNotForLoan;
  char kind = kkubun.empty() ? '\0' : kkubun.front();
  return kind == kintai ? kLoanNotForLoan : kLoanAvailable;
}

std::string ClassificationCell(std::string_view callNumber) {
  std::size_t length = 0;
  while (length < callNumber.size() && length < 6) {
    char c = callNumber[length];
    bool kept = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                c == '.' || c == ',';
    if (!kept) break;
    ++length;
  }
  return std::string(callNumber.substr(0, length));
}

std::string AuthorLinkValue(std::string_view author, std::int32_t acLimit) {
  if (acLimit == 0) return std::string(author);
  std::size_t taken = 0;
  while (static_cast<std::int64_t>(taken) < acLimit && taken < author.size()) {
    taken += platform::CharLength(author, taken);
  }
  return std::string(author.substr(0, taken));
}

}  // namespace module
