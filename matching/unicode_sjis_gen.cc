// Build-time tool: the table of Unicode characters the program can search, each with its
// Shift_JIS (code page 932) form, and the table of every Shift_JIS character beyond ASCII
// with the Unicode character code page 932 reads it as (for the pages written in UTF-8),
// written as a header so that nothing is converted by iconv while the program runs. Every character
// iconv writes in the code page, at the code it writes; then the characters of the outside table
// (UTF-8, one pair a line: a character outside Shift_JIS, a blank, its form inside), whose forms
// iconv must write and whose characters it must not. Usage: unicode_sjis_gen <outside.txt>
// <header.h>
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string text) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(16, '\0');
  char* in = text.data();
  char* at = out.data();
  std::size_t inLeft = text.size(), outLeft = out.size();
  const bool ok =
      iconv(cd, &in, &inLeft, &at, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

std::optional<char32_t> OneCharacter(const std::string& utf32) {
  if (utf32.size() != 4) return std::nullopt;
  char32_t c = 0;
  for (int b = 3; b >= 0; --b) c = c << 8 | static_cast<unsigned char>(utf32[b]);
  return c;
}

std::string Utf32(char32_t c) {
  std::string bytes;
  for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>(c >> (8 * b) & 0xFF));
  return bytes;
}

// The code of one Shift_JIS character's bytes.
std::uint16_t Code(const std::string& sjis) {
  std::uint16_t code = 0;
  for (unsigned char b : sjis) code = static_cast<std::uint16_t>(code << 8 | b);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: unicode_sjis_gen <outside.txt> <header.h>\n";
    return 2;
  }
  // Every character iconv writes in code page 932, with the code it writes: each one
  // the code page holds, at its first code where it holds one twice, and the few it
  // writes as a look-alike (¢ as ￠).
  std::map<char32_t, std::uint16_t> forms;
  iconv_t toSjis = iconv_open("CP932", "UTF-32LE");
  if (toSjis == reinterpret_cast<iconv_t>(-1)) {
    std::cerr << "iconv has no CP932\n";
    return 1;
  }
  for (char32_t c = 0x20; c <= 0x10FFFF; ++c) {
    if ((c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF)) continue;
    std::string in = Utf32(c), out(8, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    iconv(toSjis, nullptr, nullptr, nullptr, nullptr);
    if (iconv(toSjis, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) continue;
    out.resize(out.size() - outLeft);
    if (!out.empty() && out.size() <= 2) forms[c] = Code(out);
  }
  iconv_close(toSjis);
  const std::size_t inside = forms.size();
  std::ifstream table(argv[1]);
  if (!table) {
    std::cerr << argv[1] << ": cannot open\n";
    return 1;
  }
  std::string line;
  for (int number = 1; std::getline(table, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.find(' ');
    const auto outside = Convert("UTF-32LE", "UTF-8", line.substr(0, blank));
    const auto character = outside ? OneCharacter(*outside) : std::nullopt;
    const auto form = blank == std::string::npos
                          ? std::nullopt
                          : Convert("CP932", "UTF-8", line.substr(blank + 1));
    if (!character || !form || form->empty() || form->size() > 2 || forms.count(*character) ||
        Convert("CP932", "UTF-32LE", *outside)) {
      std::cerr << argv[1] << ":" << number
                << ": not a character outside Shift_JIS, a blank and one character inside\n";
      return 1;
    }
    forms[*character] = Code(*form);
  }
  // Every character beyond ASCII that code page 932 reads: the half-width katakana and
  // each lead byte with each trail byte. Where the code page holds a character twice
  // (NEC and IBM kanji), each code reads as that character.
  std::map<std::uint16_t, char32_t> characters;
  for (unsigned code = 0x80; code <= 0xFCFC; ++code) {
    const unsigned lead = code < 0x100 ? code : code >> 8, trail = code & 0xFF;
    const bool single = code < 0x100 && code >= 0xA1 && code <= 0xDF;
    const bool pair = code >= 0x100 && ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0)) &&
                      ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC));
    if (!single && !pair) continue;
    const std::string sjis = single
                                 ? std::string(1, static_cast<char>(code))
                                 : std::string{static_cast<char>(lead), static_cast<char>(trail)};
    const auto utf32 = Convert("UTF-32LE", "CP932", sjis);
    const auto character = utf32 ? OneCharacter(*utf32) : std::nullopt;
    if (character) characters[static_cast<std::uint16_t>(code)] = *character;
  }
  std::ostringstream header;
  header << "// Generated by unicode_sjis_gen from code page 932 (" << inside << " characters) and "
         << argv[1] << "; do not edit.\n"
         << "#pragma once\n\n#include <cstdint>\n\nnamespace matching::unicode_sjis {\n\n";
  // One table: its entry type with two members, then the entries in key order.
  auto writeTable = [&](const char* type, const char* first, const char* second, const char* name,
                        const auto& entries) {
    header << "struct " << type << " {\n  " << first << ";\n  " << second << ";\n};\n\n"
           << "inline constexpr " << type << " " << name << "[] = {\n";
    for (const auto& [key, value] : entries) {
      char entry[40];
      std::snprintf(entry, sizeof entry, "    {0x%X, 0x%X},\n", static_cast<unsigned>(key),
                    static_cast<unsigned>(value));
      header << entry;
    }
    header << "};\n\n";
  };
  writeTable("Form", "char32_t character", "std::uint16_t sjis", "kForms", forms);
  writeTable("Character", "std::uint16_t sjis", "char32_t character", "kCharacters", characters);
  header << "}  // namespace matching::unicode_sjis\n";
  std::ofstream out(argv[2], std::ios::binary);
  out << header.str();
  return out ? 0 : 1;
}
