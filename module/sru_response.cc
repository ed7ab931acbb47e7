#include "module/sru_response.h"

#include <utility>

#include "marc/marcxml_writer.h"

namespace module {

using marc::XmlText;

namespace {

struct Dialect {
  const char* responseNamespace;
  const char* diagnosticNamespace;
  const char* packingElement;  // recordPacking in 1.x, recordXMLEscaping in 2.0
};

Dialect DialectOf(const std::string& version) {
  if (version == "2.0") {
    return {"http://docs.oasis-open.org/ns/search-ws/sruResponse",
            "http://docs.oasis-open.org/ns/search-ws/diagnostic", "recordXMLEscaping"};
  }
  return {"http://www.loc.gov/zing/srw/", "http://www.loc.gov/zing/srw/diagnostic/",
          "recordPacking"};
}

std::string Element(const char* name, const std::string& text) {
  return std::string("<srw:") + name + ">" + text + "</srw:" + name + ">\n";
}

std::string RecordXml(const SruRecord& record, const SruAnswer& answer, const Dialect& dialect) {
  return "<srw:record>\n" + Element("recordSchema", XmlText(record.schema)) +
         Element(dialect.packingElement, answer.recordsAsString ? "string" : "xml") +
         Element("recordData", answer.recordsAsString ? XmlText(record.data) : record.data) +
         Element("recordPosition", std::to_string(record.position)) + "</srw:record>\n";
}

std::string DiagnosticsXml(const SruAnswer& answer, const Dialect& dialect) {
  if (answer.diagnostics.empty()) return {};
  std::string xml = "<srw:diagnostics>\n";
  for (const SruDiagnostic& diagnostic : answer.diagnostics) {
    xml += std::string("<diag:diagnostic xmlns:diag=\"") + dialect.diagnosticNamespace +
           "\">\n<diag:uri>info:srw/diagnostic/1/" + std::to_string(diagnostic.code) +
           "</diag:uri>\n";
    if (!diagnostic.details.empty())
      xml += "<diag:details>" + XmlText(diagnostic.details) + "</diag:details>\n";
    xml += "<diag:message>" + std::string(SruDiagnosticMessage(diagnostic.code)) +
           "</diag:message>\n</diag:diagnostic>\n";
  }
  return xml + "</srw:diagnostics>\n";
}

std::string Head(const char* element, const Dialect& dialect, const std::string& version) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<srw:") + element +
         " xmlns:srw=\"" + dialect.responseNamespace + "\">\n" + Element("version", version);
}

}  // namespace

std::string_view SruDiagnosticMessage(int code) {
  static const std::pair<int, std::string_view> messages[] = {
      {kSruSystemError, "Permanent system error"},
      {kSruUnsupportedOperation, "Unsupported operation"},
      {kSruUnsupportedVersion, "Unsupported version"},
      {kSruUnsupportedParameterValue, "Unsupported parameter value"},
      {kSruMandatoryParameter, "Mandatory parameter not supplied"},
      {kSruQuerySyntax, "Query syntax error"},
      {kSruUnsupportedIndex, "Unsupported index"},
      {kSruUnsupportedRelation, "Unsupported relation"},
      {kSruUnsupportedRelationModifier, "Unsupported relation modifier"},
      {kSruEmptyTerm, "Empty term unsupported"},
      {kSruMaskingUnsupported, "Masking character not supported"},
      {kSruAnchoringUnsupported, "Anchoring character not supported"},
      {kSruUnsupportedBoolean, "Unsupported boolean operator"},
      {kSruTooManyBooleans, "Too many boolean operators in query"},
      {kSruUnsupportedBooleanModifier, "Unsupported boolean modifier"},
      {kSruFirstRecordOutOfRange, "First record position out of range"},
      {kSruUnknownSchema, "Unknown schema for retrieval"},
      {kSruUnsupportedPacking, "Unsupported record packing"},
      {kSruSortUnsupported, "Sort not supported"},
  };
  for (const auto& [known, message] : messages) {
    if (known == code) return message;
  }
  return {};
}

std::string SearchRetrieveResponse(const SruAnswer& answer) {
  const Dialect dialect = DialectOf(answer.version);
  std::string xml = Head("searchRetrieveResponse", dialect, answer.version) +
                    Element("numberOfRecords", std::to_string(answer.numberOfRecords));
  if (!answer.records.empty()) {
    xml += "<srw:records>\n";
    for (const SruRecord& record : answer.records) xml += RecordXml(record, answer, dialect);
    xml += "</srw:records>\n";
  }
  if (answer.nextRecordPosition)
    xml += Element("nextRecordPosition", std::to_string(*answer.nextRecordPosition));
  return xml + DiagnosticsXml(answer, dialect) + "</srw:searchRetrieveResponse>\n";
}

std::string ExplainResponse(const SruAnswer& answer, const std::string& explainRecord) {
  const Dialect dialect = DialectOf(answer.version);
  const SruRecord record{"http://explain.z3950.org/dtd/2.0/", explainRecord, 1};
  return Head("explainResponse", dialect, answer.version) + RecordXml(record, answer, dialect) +
         DiagnosticsXml(answer, dialect) + "</srw:explainResponse>\n";
}

}  // namespace module
