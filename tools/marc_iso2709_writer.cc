#include "tools/marc_iso2709_writer.h"

#include <yaz/marcdisp.h>
#include <yaz/wrbuf.h>
#include <yaz/yaz-iconv.h>

#include <cstdio>
#include <unordered_map>

#include "marc/unicode_text.h"
#include "tools/catalog_error.h"

namespace tools {

namespace {

// Converts text with an open YAZ conversion, flushing its state at the end.
std::string Convert(yaz_iconv_t cd, std::string_view text) {
  std::string out(text.size() * 8 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* next = out.data();
  std::size_t outLeft = out.size();
  yaz_iconv(cd, nullptr, nullptr, nullptr, nullptr);
  yaz_iconv(cd, &in, &inLeft, &next, &outLeft);
  yaz_iconv(cd, nullptr, nullptr, &next, &outLeft);
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

struct Iso2709Writer::Yaz {
  yaz_marc_t marc = yaz_marc_create();
  yaz_iconv_t marc8 = nullptr;
  yaz_iconv_t fromMarc8 = nullptr;
  WRBUF out = wrbuf_alloc();
  std::unordered_map<char32_t, bool> encodable;  // characters MARC-8 holds, as found

  // YAZ leaves out a character that MARC-8 cannot hold; such a character is written as
  // its reference &#xHHHH;, the convention for lossless MARC-8, which the loader reads.
  std::string ForMarc8(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t at = i;
      const char32_t c = marc::NextUtf8(text, i).value_or(0xFFFD);
      auto known = encodable.find(c);
      if (known == encodable.end()) {
        std::string one(text.substr(at, i - at));
        known = encodable.emplace(c, Convert(fromMarc8, Convert(marc8, one)) == one).first;
      }
      if (known->second && c != '&') {
        out.append(text.substr(at, i - at));
      } else {
        char reference[16];
        std::snprintf(reference, sizeof reference, "&#x%04X;", static_cast<unsigned>(c));
        out += reference;
      }
    }
    return out;
  }
};

Iso2709Writer::Iso2709Writer(bool marc8) : marc8_(marc8), yaz_(new Yaz) {
  yaz_marc_xml(yaz_->marc, YAZ_MARC_ISO2709);
  if (marc8) {
    yaz_->marc8 = yaz_iconv_open("marc8", "utf-8");
    yaz_->fromMarc8 = yaz_iconv_open("utf-8", "marc8s");
    if (yaz_->marc8 == nullptr || yaz_->fromMarc8 == nullptr) {
      delete yaz_;
      throw ECatalogError("YAZ cannot convert UTF-8 to MARC-8");
    }
    yaz_marc_iconv(yaz_->marc, yaz_->marc8);
  }
}

Iso2709Writer::~Iso2709Writer() {
  if (yaz_->marc8 != nullptr) yaz_iconv_close(yaz_->marc8);
  if (yaz_->fromMarc8 != nullptr) yaz_iconv_close(yaz_->fromMarc8);
  wrbuf_destroy(yaz_->out);
  yaz_marc_destroy(yaz_->marc);
  delete yaz_;
}

void Iso2709Writer::Append(const marc::Record& record, std::string& out) {
  yaz_marc_t marc = yaz_->marc;
  yaz_marc_reset(marc);
  std::string leader = record.leader;
  leader.resize(24, ' ');
  leader[9] = marc8_ ? ' ' : 'a';
  int sizes[6];
  yaz_marc_set_leader(marc, leader.c_str(), &sizes[0], &sizes[1], &sizes[2], &sizes[3], &sizes[4],
                      &sizes[5]);
  for (const marc::Field& field : record.fields) {
    if (field.IsControl()) {
      const std::string data = marc8_ ? yaz_->ForMarc8(field.data) : field.data;
      yaz_marc_add_controlfield(marc, field.tag.c_str(), data.data(), data.size());
      continue;
    }
    yaz_marc_add_datafield(marc, field.tag.c_str(), field.indicators.data(),
                           field.indicators.size());
    for (const marc::Subfield& subfield : field.subfields) {
      // YAZ takes a subfield as its code followed by its value.
      std::string codeData =
          subfield.code + (marc8_ ? yaz_->ForMarc8(subfield.value) : subfield.value);
      yaz_marc_add_subfield(marc, codeData.data(), codeData.size());
    }
  }
  wrbuf_rewind(yaz_->out);
  if (yaz_marc_write_mode(marc, yaz_->out) != 0)
    throw ECatalogError("YAZ cannot write the record as ISO 2709");
  out.append(wrbuf_buf(yaz_->out), wrbuf_len(yaz_->out));
}

}  // namespace tools
