// The XML of SRU answers: searchRetrieve and explain responses with their records and
// diagnostics, in the structure and namespaces of SRU 1.1/1.2 (the zing/srw namespace)
// or 2.0 (the OASIS search-ws namespaces). Texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace module {

// A diagnostic of the SRU list (info:srw/diagnostic/1/<code>) with its details.
struct SruDiagnostic {
  int code;
  std::string details;
};

// The diagnostic codes this endpoint answers with.
enum SruDiagnosticCode : int {
  kSruSystemError = 1,
  kSruUnsupportedOperation = 4,
  kSruUnsupportedVersion = 5,
  kSruUnsupportedParameterValue = 6,
  kSruMandatoryParameter = 7,
  kSruQuerySyntax = 10,
  kSruUnsupportedIndex = 16,
  kSruUnsupportedRelation = 19,
  kSruUnsupportedRelationModifier = 20,
  kSruEmptyTerm = 27,
  kSruMaskingUnsupported = 28,
  kSruAnchoringUnsupported = 31,
  kSruUnsupportedBoolean = 37,
  kSruTooManyBooleans = 38,
  kSruUnsupportedBooleanModifier = 46,
  kSruFirstRecordOutOfRange = 61,
  kSruUnknownSchema = 66,
  kSruUnsupportedPacking = 71,
  kSruSortUnsupported = 80,
};

// The message of the list for one of the codes above.
std::string_view SruDiagnosticMessage(int code);

struct SruRecord {
  std::string schema;  // the schema's identifier
  std::string data;    // the record's XML
  std::int64_t position = 0;
};

struct SruAnswer {
  std::string version;  // "1.1", "1.2" or "2.0"
  std::int64_t numberOfRecords = 0;
  std::vector<SruRecord> records;
  std::optional<std::int64_t> nextRecordPosition;
  std::vector<SruDiagnostic> diagnostics;
  bool recordsAsString = false;  // recordPacking (1.x) or recordXMLEscaping (2.0) "string"
};

// The searchRetrieveResponse document.
std::string SearchRetrieveResponse(const SruAnswer& answer);
// The explainResponse document around the explain record; diagnostics are written
// after it.
std::string ExplainResponse(const SruAnswer& answer, const std::string& explainRecord);

}  // namespace module
