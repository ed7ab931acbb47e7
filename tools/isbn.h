// ISBN check digits for the catalogue tools: the loader refuses a number whose check
// digit is wrong, and the generator makes numbers that pass.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// Answers the ISBN's digits without hyphens and blanks (an ISBN-10 may end in X).
std::string StripSeparators(std::string_view text);

// Answers the check digit ('0'..'9' or 'X') that the first nine digits of an ISBN-10 need.
char CheckDigit10(std::string_view firstNine);

// Answers the check digit that the first twelve digits of an ISBN-13 need.
char CheckDigit13(std::string_view firstTwelve);

// Answers an empty text when text is a well-formed ISBN-10 or ISBN-13 (hyphens allowed)
// with a correct check digit, else the reason it is not one.
std::string Problem(std::string_view text);

// Writes the twelve digits of a Japanese ISBN (978-4-...) with its check digit and the
// hyphens of the Japanese registrant ranges, e.g. 978-4-10-101013-7.
std::string FormatJapanese13(std::string_view firstTwelve);

}  // namespace tools
