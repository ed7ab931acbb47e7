// Build-time tool: turns the UTF-8 table of the program's Japanese texts into a
// header of Shift_JIS (code page 932) byte strings, so that no conversion happens
// while the program runs. Usage: text_table_gen <table.txt> <header.h>
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char c = text[++i];
      out.push_back(c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool ToShiftJis(const std::string& utf8, std::string& sjis) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  sjis.assign(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* out = sjis.data();
  std::size_t outLeft = sjis.size();
  bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  sjis.resize(sjis.size() - outLeft);
  return ok;
}

// A C++ literal for any bytes: printable ASCII as itself, the rest as 3-digit octal
// escapes, which can never run into the next character as a hex escape could.
std::string Literal(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
      out.push_back(static_cast<char>(c));
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\%03o", c);
      out += escape;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: text_table_gen <table.txt> <header.h> [namespace]\n";
    return 2;
  }
  const std::string nameSpace = argc == 4 ? argv[3] : "texts";
  std::ifstream table(argv[1]);
  if (!table) {
    std::cerr << argv[1] << ": cannot open\n";
    return 1;
  }
  std::ostringstream header;
  header << "// Generated from " << argv[1] << "; do not edit.\n"
         << "#pragma once\n\n#include <string_view>\n\nnamespace " << nameSpace << " {\n\n";
  std::string line;
  int lineNumber = 0;
  while (std::getline(table, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      std::cerr << argv[1] << ":" << lineNumber << ": no tab between name and text\n";
      return 1;
    }
    std::string sjis;
    if (!ToShiftJis(Unescape(line.substr(tab + 1)), sjis)) {
      std::cerr << argv[1] << ":" << lineNumber << ": text has no Shift_JIS form\n";
      return 1;
    }
    header << "inline constexpr std::string_view " << line.substr(0, tab) << "{" << Literal(sjis)
           << ", " << sjis.size() << "};\n";
  }
  header << "\n}  // namespace " << nameSpace << "\n";
  std::ofstream out(argv[2], std::ios::binary);
  out << header.str();
  return out ? 0 : 1;
}
