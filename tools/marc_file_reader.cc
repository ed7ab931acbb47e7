#include "tools/marc_file_reader.h"

#include <libxml/xmlreader.h>
#include <yaz/marcdisp.h>
#include <yaz/wrbuf.h>
#include <yaz/yaz-iconv.h>

#include <cstring>

#include "marc/unicode_text.h"
#include "tools/catalog_error.h"

namespace tools {

namespace {

constexpr char kRecordTerminator = '\x1D';
constexpr std::size_t kLeaderSize = 24;
constexpr std::size_t kChunk = 1 << 20;

// YAZ writes a record in its line format with these separators (which MARC data cannot
// hold) so that the fields and subfields can be taken apart again without ambiguity.
constexpr const char* kSubfieldMark = "\x1F";
constexpr const char* kFieldEnd = "\x1E\n";

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

// Parses YAZ's line format of one record; a line in parentheses is YAZ's note about a
// fault it read past, and makes the record bad.
bool ParseLines(std::string_view text, marc::Record& record, std::string& problem) {
  // The fields and subfields of the record read before are written over rather than
  // made anew: their strings keep their memory, and a load reads millions of them.
  std::size_t fields = 0;
  std::size_t end = text.find('\n');
  record.leader.assign(text.substr(0, end));
  std::size_t at = end == std::string_view::npos ? text.size() : end + 1;
  while (at < text.size()) {
    if (text[at] == '\n') {
      ++at;
      continue;
    }
    if (text[at] == '(') {
      end = text.find('\n', at);
      problem = std::string(text.substr(at + 1, end - at - 2));
      record.fields.resize(fields);
      return false;
    }
    end = text.find(kFieldEnd, at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 2;
    marc::Field& field =
        fields < record.fields.size() ? record.fields[fields] : record.fields.emplace_back();
    ++fields;
    field.tag.assign(line.substr(0, 3));
    field.data.clear();
    field.indicators.assign("  ");
    std::size_t subfields = 0;
    if (field.IsControl()) {
      field.data.assign(line.substr(std::min<std::size_t>(4, line.size())));
    } else {
      std::size_t mark = line.find(kSubfieldMark[0]);
      field.indicators.assign(line.substr(4, std::min<std::size_t>(2, mark - 4)));
      while (mark != std::string_view::npos) {
        std::size_t next = line.find(kSubfieldMark[0], mark + 1);
        std::string_view piece = line.substr(mark + 1, next - mark - 1);
        // A code, one blank, the value.
        if (!piece.empty()) {
          marc::Subfield& subfield = subfields < field.subfields.size()
                                         ? field.subfields[subfields]
                                         : field.subfields.emplace_back();
          ++subfields;
          subfield.code = piece[0];
          subfield.value.assign(piece.substr(std::min<std::size_t>(2, piece.size())));
        }
        mark = next;
      }
    }
    field.subfields.resize(subfields);
  }
  record.fields.resize(fields);
  return true;
}

}  // namespace

class MarcFileReader::Yaz {
 public:
  Yaz() : marc(yaz_marc_create()), marc8(yaz_iconv_open("utf-8", "marc8s")), text(wrbuf_alloc()) {
    yaz_marc_xml(marc, YAZ_MARC_LINE);
    yaz_marc_subfield_str(marc, kSubfieldMark);
    yaz_marc_endline_str(marc, kFieldEnd);
  }
  ~Yaz() {
    if (xml != nullptr) xmlFreeTextReader(xml);
    wrbuf_destroy(text);
    if (marc8 != nullptr) yaz_iconv_close(marc8);
    yaz_marc_destroy(marc);
  }

  // Writes the record YAZ holds in line format and takes it apart.
  bool Take(marc::Record& record, std::string& problem) {
    wrbuf_rewind(text);
    if (yaz_marc_write_mode(marc, text) != 0) {
      problem = "YAZ cannot write the record it read";
      return false;
    }
    return ParseLines(std::string_view(wrbuf_buf(text), wrbuf_len(text)), record, problem);
  }

  yaz_marc_t marc;
  yaz_iconv_t marc8;
  WRBUF text;
  xmlTextReaderPtr xml = nullptr;
  std::string xmlError;  // the parser's first error message
  // The reader stands on a node not yet looked at: stepping over a record leaves it on
  // the node after the record, which may be the next record.
  bool xmlStanding = false;
  bool xmlBroken = false;  // the XML is not well formed; the file ends there
};

MarcFileReader::MarcFileReader(std::string path)
    : path_(std::move(path)), input_(path_, std::ios::binary), yaz_(std::make_unique<Yaz>()) {
  if (!input_) throw ECatalogError(path_ + ": cannot open the file");
  if (yaz_->marc8 == nullptr) throw ECatalogError("YAZ cannot convert MARC-8 to UTF-8");
  Fill(kChunk);
  std::size_t first = buffer_.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  xml_ = first != std::string::npos && buffer_[first] == '<';
  if (xml_) {
    input_.close();
    buffer_.clear();
    yaz_->xml = xmlReaderForFile(path_.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
    if (yaz_->xml == nullptr) throw ECatalogError(path_ + ": cannot open the file as XML");
    xmlTextReaderSetErrorHandler(
        yaz_->xml,
        [](void* arg, const char* message, xmlParserSeverities, xmlTextReaderLocatorPtr locator) {
          auto* yaz = static_cast<Yaz*>(arg);
          if (!yaz->xmlError.empty()) return;
          yaz->xmlError =
              "line " + std::to_string(xmlTextReaderLocatorLineNumber(locator)) + ": " + message;
          while (!yaz->xmlError.empty() && yaz->xmlError.back() == '\n') yaz->xmlError.pop_back();
        },
        yaz_.get());
  }
}

MarcFileReader::~MarcFileReader() = default;

void MarcFileReader::Fill(std::size_t count) {
  if (start_ > kChunk) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  while (buffer_.size() - start_ < count && input_) {
    std::size_t had = buffer_.size();
    std::size_t want = std::max(count - (had - start_), kChunk);
    buffer_.resize(had + want);
    input_.read(buffer_.data() + had, static_cast<std::streamsize>(want));
    buffer_.resize(had + static_cast<std::size_t>(input_.gcount()));
  }
}

MarcFileReader::Result MarcFileReader::Next(marc::Record& record, std::string& problem) {
  return xml_ ? NextMarcXml(record, problem) : NextIso2709(record, problem);
}

MarcFileReader::Result MarcFileReader::NextIso2709(marc::Record& record, std::string& problem) {
  Fill(kLeaderSize);
  // Blanks and line breaks between records are not records.
  while (start_ < buffer_.size() && std::strchr(" \r\n", buffer_[start_]) != nullptr) {
    ++start_;
    ++bytesRead_;
    Fill(kLeaderSize);
  }
  const std::size_t available = buffer_.size() - start_;
  if (available == 0) return Result::kEnd;
  ++recordNumber_;
  auto skip = [this](std::size_t count) {
    start_ += count;
    bytesRead_ += count;
  };
  // Past a record whose length cannot be trusted, reading goes on after the next record
  // terminator.
  auto skipToTerminator = [&]() {
    for (;;) {
      std::size_t end = buffer_.find(kRecordTerminator, start_);
      if (end != std::string::npos) return skip(end + 1 - start_);
      skip(buffer_.size() - start_);
      Fill(kChunk);
      if (buffer_.size() == start_) return;
    }
  };
  std::string_view head(buffer_.data() + start_, std::min(available, kLeaderSize));
  if (!AllDigits(head.substr(0, 5))) {
    problem =
        "bad leader: the record length '" + std::string(head.substr(0, 5)) + "' is not five digits";
    skipToTerminator();
    return Result::kBad;
  }
  const std::size_t length = std::stoul(std::string(head.substr(0, 5)));
  if (length < kLeaderSize + 2) {
    problem = "bad leader: a record length of " + std::to_string(length) + " is too short";
    skipToTerminator();
    return Result::kBad;
  }
  Fill(length);
  if (buffer_.size() - start_ < length) {
    problem = "truncated: the leader gives " + std::to_string(length) +
              " bytes and the file ends after " + std::to_string(buffer_.size() - start_);
    skip(buffer_.size() - start_);
    return Result::kBad;
  }
  std::string_view data(buffer_.data() + start_, length);
  if (data.back() != kRecordTerminator) {
    problem = "bad leader: the record length " + std::to_string(length) +
              " does not end at a record terminator";
    skipToTerminator();
    return Result::kBad;
  }
  skip(length);
  const char coding = data[9];
  if (coding != ' ' && coding != 'a') {
    problem = std::string("bad leader: position 9 '") + coding +
              "' is neither blank (MARC-8) nor a (UTF-8)";
    return Result::kBad;
  }
  yaz_marc_iconv(yaz_->marc, coding == ' ' ? yaz_->marc8 : nullptr);
  yaz_marc_reset(yaz_->marc);
  if (yaz_marc_read_iso2709(yaz_->marc, data.data(), static_cast<int>(data.size())) <= 0) {
    problem = "YAZ cannot read the record";
    return Result::kBad;
  }
  if (!yaz_->Take(record, problem)) return Result::kBad;
  // MARC-8 writes a character it cannot hold as its reference &#xHHHH;.
  if (coding == ' ') {
    for (marc::Field& field : record.fields) {
      field.data = marc::ReadReferences(field.data);
      for (marc::Subfield& subfield : field.subfields)
        subfield.value = marc::ReadReferences(subfield.value);
    }
  }
  return Result::kRecord;
}

MarcFileReader::Result MarcFileReader::NextMarcXml(marc::Record& record, std::string& problem) {
  xmlTextReaderPtr reader = yaz_->xml;
  // Past a fault of the XML itself nothing more can be read: the load reports the fault
  // once and ends the file there.
  if (yaz_->xmlBroken) return Result::kEnd;
  for (;;) {
    int read = yaz_->xmlStanding ? 1 : xmlTextReaderRead(reader);
    yaz_->xmlStanding = false;
    if (read == 0) return Result::kEnd;
    if (read < 0) {
      yaz_->xmlBroken = true;
      throw ECatalogError(path_ + ": not well-formed XML after record " +
                          std::to_string(recordNumber_) + ": " +
                          (yaz_->xmlError.empty() ? "the parser stopped" : yaz_->xmlError));
    }
    bytesRead_ = static_cast<std::uint64_t>(std::max(0L, xmlTextReaderByteConsumed(reader)));
    const xmlChar* name = xmlTextReaderConstLocalName(reader);
    if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT || name == nullptr ||
        std::strcmp(reinterpret_cast<const char*>(name), "record") != 0)
      continue;
    ++recordNumber_;
    xmlNodePtr node = xmlTextReaderExpand(reader);
    if (node == nullptr) {
      yaz_->xmlBroken = true;
      throw ECatalogError(path_ + ": not well-formed XML in record " +
                          std::to_string(recordNumber_) + ": " +
                          (yaz_->xmlError.empty() ? "the parser stopped" : yaz_->xmlError));
    }
    yaz_marc_iconv(yaz_->marc, nullptr);
    yaz_marc_reset(yaz_->marc);
    const bool ok = yaz_marc_read_xml(yaz_->marc, node) == 0;
    yaz_->xmlStanding = xmlTextReaderNext(reader) == 1;
    if (!ok) {
      problem =
          "YAZ cannot read the record (a leader, control fields and data fields with "
          "tags, indicators and subfield codes are expected)";
      return Result::kBad;
    }
    return yaz_->Take(record, problem) ? Result::kRecord : Result::kBad;
  }
}

}  // namespace tools
