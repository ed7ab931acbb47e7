#include "tools/isbn.h"

#include <cctype>

namespace tools {

std::string StripSeparators(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != '-' && c != ' ') digits.push_back(c);
  }
  return digits;
}

char CheckDigit10(std::string_view firstNine) {
  int sum = 0;
  for (int i = 0; i < 9; ++i) sum += (10 - i) * (firstNine[i] - '0');
  int check = (11 - sum % 11) % 11;
  return check == 10 ? 'X' : static_cast<char>('0' + check);
}

char CheckDigit13(std::string_view firstTwelve) {
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += (i % 2 == 0 ? 1 : 3) * (firstTwelve[i] - '0');
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

namespace {

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string Problem(std::string_view text) {
  std::string digits = StripSeparators(text);
  if (digits.size() == 10) {
    std::string_view body(digits.data(), 9);
    char last = static_cast<char>(std::toupper(static_cast<unsigned char>(digits[9])));
    if (!AllDigits(body) || !(std::isdigit(static_cast<unsigned char>(last)) || last == 'X'))
      return "an ISBN-10 has nine digits and a digit or X";
    char expected = CheckDigit10(body);
    if (last != expected) return std::string("the check digit should be ") + expected;
    return "";
  }
  if (digits.size() == 13) {
    if (!AllDigits(digits)) return "an ISBN-13 has thirteen digits";
    if (digits.compare(0, 3, "978") != 0 && digits.compare(0, 3, "979") != 0)
      return "an ISBN-13 begins with 978 or 979";
    char expected = CheckDigit13(std::string_view(digits.data(), 12));
    if (digits[12] != expected) return std::string("the check digit should be ") + expected;
    return "";
  }
  return "an ISBN has 10 or 13 digits";
}

std::string FormatJapanese13(std::string_view firstTwelve) {
  // After 978-4 come the registrant and the title number; the registrant's length
  // follows from its leading digits (ranges of the Japanese ISBN agency).
  std::string_view rest = firstTwelve.substr(4);  // eight digits
  int lead = (rest[0] - '0') * 10 + (rest[1] - '0');
  std::size_t registrant = lead < 20   ? 2
                           : lead < 70 ? 3
                           : lead < 85 ? 4
                           : lead < 90 ? 5
                           : lead < 95 ? 6
                                       : 7;
  std::string out(firstTwelve.substr(0, 3));
  out += '-';
  out += firstTwelve[3];
  out += '-';
  out += rest.substr(0, registrant);
  out += '-';
  out += rest.substr(registrant);
  out += '-';
  out += CheckDigit13(firstTwelve);
  return out;
}

}  // namespace tools
