// How one book of the result is shown in its row: its loan state, the classification
// cell and the author text put into the author search link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace module {

enum LoanStateValue : std::uint8_t { kLoanAvailable = 0, kLoanLentOut = 1, kLoanNotForLoan = 2 };

// The first rule that holds wins: a borrower lends the book out; no tmark with a tfmsuu
// keeps it in the library; so does a kkubun whose first byte (NUL when empty) is kintai.
std::uint8_t DecideLoanState(std::string_view userId, std::string_view tmark,
                             std::string_view tfmsuu, std::string_view kkubun, char kintai);

// The leading run of ASCII letters, digits, "." and "," of the call number, cut to 6 bytes.
std::string ClassificationCell(std::string_view callNumber);

// The author cut to acLimit bytes without splitting a double-byte character (so it may
// hold acLimit + 1 bytes); 0 means no cut, a negative limit gives empty text.
std::string AuthorLinkValue(std::string_view author, std::int32_t acLimit);

}  // namespace module
