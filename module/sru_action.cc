// "/sru": the catalogue searched by other catalogues through SRU (1.1, 1.2 and 2.0):
// explain, and searchRetrieve with a CQL query mapped onto the program's own search
// statement (the search SQL file and its conditions, so the search index narrows it),
// the records in MARCXML or Dublin Core. Every refusal is an SRU diagnostic in the
// response, never an HTML page.
#include <optional>
#include <string>

#include "config/error_log.h"
#include "db/database_error.h"
#include "marc/marcxml_writer.h"
#include "matching/utf8_text.h"
#include "module/action_guard.h"
#include "module/cql_search.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/record_formats.h"
#include "module/search_statement.h"
#include "module/sru_response.h"
#include "platform/text_compare.h"
#include "platform/text_lines.h"

namespace module {

using app::TWebActionItem;
using db::EDatabaseError;
using marc::XmlText;
using matching::Utf8FromSjis;
using platform::FieldValue;
using platform::SameTextIgnoringCase;
using platform::TStringList;
using web::TWebRequest;
using web::TWebResponse;

namespace {

constexpr std::int64_t kDefaultRecords = 10;
constexpr std::int64_t kMostRecords = 100;
constexpr char kMarcXmlSchema[] = "info:srw/schema/1/marcxml-v1.1";
constexpr char kDublinCoreSchema[] = "info:srw/schema/1/dc-v1.1";

// A count parameter: digits alone (at most 9, so it fits), or the default when absent.
std::optional<std::int64_t> CountParameter(const std::string& text, std::int64_t absent) {
  if (text.empty()) return absent;
  if (text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoll(text);
}

std::string ExplainRecord(const std::string& version, const std::string& host,
                          const std::string& script) {
  const std::size_t colon = host.rfind(':');
  const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
  const std::string database = script.starts_with('/') ? script.substr(1) : script;
  return "<explain xmlns=\"http://explain.z3950.org/dtd/2.0/\">\n"
         "<serverInfo protocol=\"SRU\" version=\"" +
         version + "\">\n<host>" + XmlText(Utf8FromSjis(hasPort ? host.substr(0, colon) : host)) +
         "</host>\n<port>" + XmlText(Utf8FromSjis(hasPort ? host.substr(colon + 1) : "80")) +
         "</port>\n<database>" + XmlText(Utf8FromSjis(database + "/sru")) +
         "</database>\n</serverInfo>\n<databaseInfo>\n<title lang=\"ja\" primary=\"true\">" +
         Utf8FromSjis(std::string(texts::kFeedTitle)) + "</title>\n</databaseInfo>\n" +
         ExplainIndexInfo() + "<schemaInfo>\n<schema identifier=\"" + kMarcXmlSchema +
         "\" name=\"marcxml\"><title>MARCXML</title></schema>\n<schema identifier=\"" +
         kDublinCoreSchema +
         "\" name=\"dc\"><title>Dublin Core</title></schema>\n</schemaInfo>\n<configInfo>\n"
         "<default type=\"numberOfRecords\">" +
         std::to_string(kDefaultRecords) + "</default>\n<setting type=\"maximumRecords\">" +
         std::to_string(kMostRecords) +
         "</setting>\n<supports type=\"relation\">=</supports>\n"
         "<supports type=\"relation\">all</supports>\n<supports type=\"relation\">any</supports>\n"
         "</configInfo>\n</explain>\n";
}

}  // namespace

void TMainMod::MainModSruAction(TWebActionItem&, TWebRequest& request, TWebResponse& response,
                                bool&) {
  RunLogged("SRU", [&] {
    const std::string answer = AnswerSru(request);
    response.SetContentType("text/xml; charset=utf-8");
    response.SetContent(answer);
  });
}

std::string TMainMod::AnswerSru(TWebRequest& request) {
  CopyRequestFields(request);
  std::string version = FieldValue(*RequestFields, "version");
  const std::string operation = FieldValue(*RequestFields, "operation");
  const bool searching = operation.empty() ? !FieldValue(*RequestFields, "query").empty()
                                           : operation == "searchRetrieve";
  // SRU 2.0 has no operation parameter: a request without version and operation is
  // taken as 2.0, one naming an operation as 1.2.
  if (version.empty()) version = operation.empty() ? "2.0" : "1.2";
  SruAnswer answer;
  answer.version = version;
  if (version != "1.1" && version != "1.2" && version != "2.0") {
    answer.version = "1.2";
    answer.diagnostics.push_back({kSruUnsupportedVersion, Utf8FromSjis(version)});
  } else if (!operation.empty() && operation != "searchRetrieve" && operation != "explain") {
    answer.diagnostics.push_back({kSruUnsupportedOperation, Utf8FromSjis(operation)});
  }
  const char* packingName = answer.version == "2.0" ? "recordXMLEscaping" : "recordPacking";
  const std::string packing = FieldValue(*RequestFields, packingName);
  answer.recordsAsString = packing == "string";
  if (!packing.empty() && packing != "string" && packing != "xml")
    answer.diagnostics.push_back({kSruUnsupportedPacking, Utf8FromSjis(packing)});
  if (searching && answer.diagnostics.empty()) return SruSearchRetrieve(std::move(answer));
  if (searching) return SearchRetrieveResponse(answer);
  return ExplainResponse(answer,
                         ExplainRecord(answer.version, request.Host(), request.ScriptName()));
}

std::string TMainMod::SruSearchRetrieve(SruAnswer answer) {
  auto refuse = [&](int code, const std::string& details) {
    answer.diagnostics.push_back({code, details});
    return SearchRetrieveResponse(answer);
  };
  const std::string query = FieldValue(*RequestFields, "query");
  if (query.empty()) return refuse(kSruMandatoryParameter, "query");
  const auto start = CountParameter(FieldValue(*RequestFields, "startRecord"), 1);
  if (!start || *start < 1) return refuse(kSruUnsupportedParameterValue, "startRecord");
  const auto most = CountParameter(FieldValue(*RequestFields, "maximumRecords"), kDefaultRecords);
  if (!most) return refuse(kSruUnsupportedParameterValue, "maximumRecords");
  const std::string schemaName = FieldValue(*RequestFields, "recordSchema");
  const bool dublinCore = schemaName == "dc" || schemaName == kDublinCoreSchema;
  if (!schemaName.empty() && !dublinCore && schemaName != "marcxml" && schemaName != kMarcXmlSchema)
    return refuse(kSruUnknownSchema, Utf8FromSjis(schemaName));
  if (!FieldValue(*RequestFields, "sortKeys").empty())
    return refuse(kSruSortUnsupported, "sortKeys");

  const bool loose = qMaster->LikeMatch() == db::MatchMode::kLoose;
  const CqlSearch search =
      SearchOfCql(query, {loose, SameTextIgnoringCase(Conf->OptionalText("WORDS"), "AND")});
  if (search.diagnostic) return refuse(search.diagnostic->code, search.diagnostic->details);
  TStringList statement = platform::ReadTextLines(FindSqlPath());
  AppendConditions(statement, search.conditions, loose);
  try {
    qMaster->SetSqlLines(statement);
    qMaster->OpenQuery();
    NoteIndexPassedBy();
    // -1 is a count the database could not give: a failure, not a number of books.
    if (qMaster->RowCount() < 0) throw EDatabaseError(std::string(texts::kRowCountFailed));
    answer.numberOfRecords = qMaster->RowCount();
    // A position past the result reads no row at all.
    const bool pastTheEnd = *start > answer.numberOfRecords;
    if (answer.numberOfRecords > 0 && pastTheEnd) {
      answer.diagnostics.push_back({kSruFirstRecordOutOfRange, std::to_string(*start)});
    }
    if (!pastTheEnd) qMaster->SkipRows(*start - 1);
    const std::int64_t shown = std::min(*most, kMostRecords);
    for (std::int64_t k = 0; !pastTheEnd && k < shown && !qMaster->AtEnd(); ++k) {
      const BookFields book = CurrentBookFields();
      std::string data =
          dublinCore ? DublinCoreXml(book, AsciiUrl(BookUrl(qMaster->FieldText("MS_BOOKID"))),
                                     ExportsHoldings())
                     : marc::MarcXmlRecord(BookMarcRecord(book));
      answer.records.push_back(
          {dublinCore ? kDublinCoreSchema : kMarcXmlSchema, std::move(data), *start + k});
      qMaster->NextRow();
    }
    const std::int64_t next = *start + static_cast<std::int64_t>(answer.records.size());
    if (!answer.records.empty() && next <= answer.numberOfRecords) answer.nextRecordPosition = next;
  } catch (const EDatabaseError&) {
    // The failure is logged; the other catalogue is told in a diagnostic, with the
    // database's own message only where visitors may see it.
    answer.records.clear();
    answer.nextRecordPosition.reset();
    const std::string message = CurrentFailureMessage();
    config::WriteErrorLogEntry("SRU", message);
    answer.diagnostics.push_back(
        {kSruSystemError,
         Utf8FromSjis(ShowEngineMessages() ? message : std::string(texts::kCatalogueUnavailable))});
  }
  if (qMaster->Active()) qMaster->CloseQuery();
  return SearchRetrieveResponse(answer);
}

}  // namespace module
