// Splits and decodes the input as a query string ("&" alone separates, quotes kept) and as
// the parameters of a template tag (blanks separate and are skipped, quotes removed).
#include <string>

#include "platform/exception.h"
#include "tests/fuzz/fuzz_check.h"
#include "web/field_list.h"
#include "web/nmurl.h"

using namespace platform;
using namespace web;

namespace {

bool HasAny(std::string_view text, std::string_view bytes) {
  return text.find_first_of(bytes) != std::string_view::npos;
}

// The fields of a query string that needs neither decoding nor quote handling: the
// non-empty stretches between "&".
TStringList PlainRequestFields(std::string_view text) {
  TStringList fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) fields.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

void CheckDecode(std::string_view text) {
  try {
    const std::string decoded = DecodeFieldText(text);
    fuzz::Check(decoded.size() <= text.size(), "decoding never lengthens a text");
    if (!HasAny(text, "%+")) fuzz::Check(decoded == text, "a text without escapes stays");
  } catch (const EConvertError&) {
    fuzz::Check(text.find('%') != std::string_view::npos, "only an escape fails to decode");
  }
  // Whatever the link writer encodes, the field decoder gives back.
  TNMURL url;
  fuzz::Check(DecodeFieldText(url.URLEncode(text)) == text, "decode(encode(text)) == text");
}

void CheckRequestForm(std::string_view text) {
  TStringList fields;
  try {
    SplitFieldList("&", "", text, fields, false);
  } catch (const EConvertError&) {
    return;
  }
  for (const std::string& field : fields) fuzz::Check(!field.empty(), "no empty request field");
  if (!HasAny(text, std::string_view("%+\"\r\n\0", 6))) {
    fuzz::Check(fields == PlainRequestFields(text), "plain query splits at every &");
  }
}

void CheckTagForm(std::string_view text) {
  TStringList fields, kept;
  try {
    SplitFieldList(" ", " ", text, fields, true);
    SplitFieldList(" ", " ", text, kept, false);
  } catch (const EConvertError&) {
    return;
  }
  fuzz::Check(fields.size() == kept.size(), "quotes never add or remove a tag parameter");
  for (std::size_t i = 0; i < fields.size() && i < kept.size(); ++i) {
    // Either the field as it stands, or the same field less the quote pair around its value.
    const std::string& whole = kept[i];
    const std::size_t equals = whole.find('=');
    const std::size_t start = equals == std::string::npos ? 0 : equals + 1;
    const bool enclosed = whole.size() - start >= 2 && HasAny(whole.substr(start, 1), "'\"") &&
                          whole.back() == whole[start];
    const std::string expected =
        enclosed ? whole.substr(0, start) + whole.substr(start + 1, whole.size() - start - 2)
                 : whole;
    fuzz::Check(fields[i] == expected, "a tag parameter loses only the quotes around its value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  CheckDecode(text);
  CheckRequestForm(text);
  CheckTagForm(text);
  return 0;
}
