// The program's web module: one object serves the request of the process. It holds
// the configuration read at construction and the state that the search and detail
// actions leave for the template tags, and it serves the top page itself.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/web_module.h"
#include "config/kv_lira_web_conf.h"
#include "db/query.h"
#include "module/facet_filters.h"
#include "module/page_window.h"
#include "module/record_formats.h"
#include "module/search_statement.h"
#include "module/sru_response.h"
#include "platform/string_list.h"
#include "web/nmurl.h"
#include "web/page_producer.h"
#include "web/tag.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace module {

// The formats of one book and of a page of results written for other programs.
enum class RecordFormat { kRis, kBibtex, kMarcXml };
enum class FeedFormat { kAtom, kRss, kJson };

class TMainMod : public app::TWebModule {
 public:
  // Declares the three actions and the components, then loads "liraweb.conf". A
  // failure of the loading is logged under "Initialize" and raised again.
  explicit TMainMod(app::TWebApplication& owner);
  ~TMainMod() override;

  // Components, owned.
  std::unique_ptr<web::TPageProducer> PageProducer;
  std::unique_ptr<web::TNMURL> NMURL;
  std::unique_ptr<db::TQuery> qMaster;
  std::unique_ptr<db::TQuery> qFacet;  // the facet counts and shelf names, made at first use

  // Configuration.
  char Kintai = '\0';
  std::int32_t ListMax = 0;
  std::int32_t AcLimit = 0;
  // Search state, error texts and links of the request.
  double SearchTime = 0;
  std::uint8_t SearchFlags = 0;
  bool AbsPath = false;
  std::string HtmlPath;
  std::string QueryPath;
  std::string DbAlias;
  std::string ErrorName;
  std::string ErrorMessage;
  std::string ScriptUrl;
  std::int32_t PageNumber = 0;
  std::string OrderKind;
  std::string Order;
  std::string BookName, Chosya, Syupan, Isbn, Kenmei;
  std::string Any;  // the any-field box (ANY), read only where ANY_FIELD=1
  // The six texts above as the search compares them (under the loose comparison with
  // character references read, a text of punctuation alone emptied); set by the list
  // action, in the order of the search flags.
  std::array<std::string, 6> SearchedTexts;
  std::uint8_t LoanState = 0;
  // The filters of the request (FACETS=1 only), and what the facet tags read once a
  // request: the counts of the search's rows, the names of the shelf locations.
  FacetFilters Filters;
  std::optional<FacetCounts> SearchFacets;
  std::optional<std::map<std::int64_t, std::string>> ShelfNames;
  std::unique_ptr<config::KVLiraWebConf> Conf;
  std::unique_ptr<platform::TStringList> RequestFields;  // none until an action reads the request
  // Set when a record tag (COLUMN, LOANSTATE, DUEDATE, PERMALINK) found no row:
  // the detail page then answers the not-found page instead.
  bool RecordMissing = false;
  // Set when a paging tag (FIRSTROW, LASTROW, PAGECOUNT, PAGENAV) was answered: a list
  // page past the result's last page then answers the page-not-found notice instead.
  bool PagingTagShown = false;
  // Set when the search refused its sort values; ERR_KIND then says "bad-order".
  bool SortOrderRefused = false;
  // The number of the result row a row template is being expanded for (0 and below
  // for a negative page number); none outside a row template.
  std::optional<std::int64_t> TemplateRowNumber;
  // Set once the detail page has read the search its link carries (ResultListAddress).
  bool ResultListRead = false;

  // Fills the configuration members from the settings file and names the database.
  void LoadConfig(std::string_view fileName);

  // Copies the search form's fields of the request into the search state.
  virtual void ReadSearchFields(web::TWebRequest& request);
  // The Japanese label of a sort column, or empty text for an unknown one.
  virtual std::string SortFieldLabel(std::string_view order);
  // The Japanese label of a sort direction, or empty text for an unknown one.
  virtual std::string SortDirectionLabel(std::string_view orderKind);

  // Sets ScriptUrl, the start of every link the module writes.
  void MakeScriptUrl(web::TWebRequest& request);
  // False when liraweb.conf says SHOW_ENGINE_MESSAGES=0: visitors are then not shown
  // the database's messages, which may name files, hosts, users and SQL.
  bool ShowEngineMessages() const;
  // False when liraweb.conf lists the sort columns (ORDER_COLUMNS) and ORDER names none
  // of them; true without the setting, which leaves ORDER to the database.
  bool SortColumnListed() const;
  // True when liraweb.conf says RELEVANCE_ORDER=1 and ORDER is RELEVANCE (any letter
  // case): the rows then come best match first.
  bool RelevanceOrdered() const;
  // The search the request asks for, as the statement is built from it.
  SearchCriteria RequestedSearch() const;
  // The message of the database failure being handled as a page shows it: the
  // failure's own, or, when engine messages are not shown, a plain notice while the
  // failure's message is logged under label.
  std::string DatabaseFailureText(std::string_view label) const;
  // Notes once in the log, for every process, why the catalogue's search index did not
  // answer the search just opened (another MATCH, not current, damaged), so that every
  // search reads every book. Never raises.
  void NoteIndexPassedBy();
  std::string FindSqlPath() const { return QueryPath + "Find.sql"; }
  std::string PropSqlPath() const { return QueryPath + "Prop.sql"; }

  // Sets replaceText to the previous-page ("PRIOR_PAGE") or next-page ("NEXT_PAGE")
  // link when it is due; leaves it untouched otherwise.
  void MakePageLink(std::string_view tagName, std::string& replaceText);
  // The rows of the current page, seven lines a book, each line ending in CR LF; moves
  // qMaster past the last row written. Raises the query's errors.
  std::string BuildResultRows();
  // The query string (without "?") of the current row's detail link, with LoanState.
  std::string BuildDetailQuery();
  // The rows of the current page, each the row template templateName (under HtmlPath)
  // expanded over it; moves qMaster past the last row written. Raises EFOpenError when
  // the template cannot be read, and the query's and the tags' errors.
  std::string BuildTemplateRows(std::string_view templateName);
  // Steps qMaster over the rows before the current page; the page's window of rows.
  RowWindow SeekPageStart();
  // The loan state of qMaster's current row by the rule of the result list.
  std::uint8_t CurrentLoanState();
  // The table of the non-empty search values and the sort order, lines ending in CR LF.
  std::string BuildConditionTable();
  // A search value as a page shows it: character references, except that under the
  // loose comparison a numeric one a browser sent for a character outside the form's
  // Shift_JIS is written through, so that the patron sees that character.
  std::string SearchValueHtml(const std::string& value) const;

  // For a search that found nothing: a list of links, one for each other field (and
  // the any-field box) that finds books with the same text, 「著者名で探すと 8 件」.
  // Empty when none does. Runs one count a field on qMaster, closing it first.
  std::string BuildOtherFieldHits();
  // True when liraweb.conf says FACETS=1: the filter fields are read and the facet
  // tags answer.
  bool FacetsOn() const;
  // True when the list page counts the facets (a FACET tag in its template).
  bool ListShowsFacets() const;
  // The values of one facet (AVAILABLE, DECADE, CLASS, LOCATION) that leave rows of the
  // current search, each a link adding its filter with the rows it leaves, the applied
  // value one that removes it; headed by label when given. Empty without a result.
  std::string BuildFacet(std::string_view name, std::string_view label);
  // The applied filters, each a link that removes it, headed by label when given.
  // Empty when none is applied.
  std::string BuildFacetApplied(std::string_view label);
  // The page-number navigation of the result list, named label: previous page, a window
  // of page numbers and next page. Empty when the result fits one page and this is
  // page 0. Raises the query's errors.
  std::string BuildPageNav(std::string_view label);

  // Action handlers: the top page, the search and the detail page. Each logs a failure
  // under its label ("DefaultAction", "ListView", "PropertyView") and raises it again.
  void MainModDefaultActionAction(app::TWebActionItem& sender, web::TWebRequest& request,
                                  web::TWebResponse& response, bool& handled);
  void MainModRequestListAction(app::TWebActionItem& sender, web::TWebRequest& request,
                                web::TWebResponse& response, bool& handled);
  void MainModRequestDataAction(app::TWebActionItem& sender, web::TWebRequest& request,
                                web::TWebResponse& response, bool& handled);
  // "/opensearch.xml": the template of that name under HtmlPath, an OpenSearch
  // description; the top page, as for any other path, when the installation has none.
  // A failure is logged under "OpenSearch" and raised again.
  void MainModOpenSearchAction(app::TWebActionItem& sender, web::TWebRequest& request,
                               web::TWebResponse& response, bool& handled);
  // "/data.ris", "/data.bib", "/data.marcxml": the book of ID (run through the detail
  // SQL file) as a download in that format, UTF-8; 404 with a plain notice when no
  // book has the key. A failure is logged under "RecordExport" and raised again.
  void MainModRecordExportAction(RecordFormat format, web::TWebRequest& request,
                                 web::TWebResponse& response);
  // "/list.atom", "/list.rss", "/list.json": the page of the search that "/list" would
  // show, with the same fields, as a feed; a search the list refuses answers 400 with
  // the list's notice as text. A failure is logged under "SearchFeed" and raised again.
  void MainModSearchFeedAction(FeedFormat format, web::TWebRequest& request,
                               web::TWebResponse& response);
  // "/sru": SRU 1.1, 1.2 and 2.0 explain and searchRetrieve, CQL mapped onto the
  // search; every refusal is an SRU diagnostic. A failure is logged under "SRU".
  void MainModSruAction(app::TWebActionItem& sender, web::TWebRequest& request,
                        web::TWebResponse& response, bool& handled);
  // Answers one template tag; a failure is logged under "ReplaceTag" and raised again.
  void PageProducerHTMLTag(web::TPageProducer& sender, web::TTag tag, const std::string& tagString,
                           const platform::TStringList& tagParams, std::string& replaceText);

 private:
  // The detail page's steps, logged under "PropertyView".
  void ServeDetailPage(web::TWebRequest& request, web::TWebResponse& response);
  // The tags added beside the original vocabulary (record, search form, paging, notice
  // kind, program URL); values are written as text. False for any other name.
  bool AnswerPageTag(std::string_view tagString, const platform::TStringList& tagParams,
                     std::string& replaceText);
  // The tags of pages a patron reads at a glance (row template, search and detail
  // links, the way back to the result list, the overdue mark, the page's place); values
  // are written as text. False for any other name.
  bool AnswerReaderTag(std::string_view tagString, const platform::TStringList& tagParams,
                       std::string& replaceText);
  // The address of the result list the detail page was reached from (its search and
  // page, as the row template's detail link carries them); empty when it carries none.
  std::string ResultListAddress(web::TWebRequest& request);
  // True when the open query stands on a row; notes RecordMissing when it has none.
  bool RecordRowPresent();
  // Creates RequestFields when there is none and fills it with the request's body
  // fields for a POST (exactly "POST"), else with its query fields.
  void CopyRequestFields(web::TWebRequest& request);
  // The search of the request read, checked and built as "/list" does: the statement,
  // or nullopt with ErrorName and ErrorMessage (and SortOrderRefused) set when the
  // search is refused before any statement runs.
  std::optional<platform::TStringList> PrepareSearch(web::TWebRequest& request);
  // The program's absolute address: "http://", the request's host and script name.
  std::string ProgramUrl();
  // The book's permalink, "<ProgramUrl>/<path>?ID=<key>" (path "data", or the path of
  // an export), the key URL-encoded as the result rows encode it.
  std::string BookUrl(const std::string& bookId, std::string_view path = "data");
  // The current row of qMaster as UTF-8 book fields; a column the statement does not
  // give is empty.
  BookFields CurrentBookFields();
  // True when liraweb.conf says EXPORT_HOLDINGS=1: the feeds and the SRU Dublin Core
  // record also carry the call number and the location.
  bool ExportsHoldings() const;
  // Runs the steps logged under label; a database failure then reaches the visitor as
  // it is, or as the plain notice when engine messages are not for visitors.
  void RunHidingEngineMessages(std::string_view label, const std::function<void()>& steps);
  // The SRU request's steps once the fields are read (sru_action.cc).
  std::string AnswerSru(web::TWebRequest& request);
  std::string SruSearchRetrieve(SruAnswer answer);
  // Expands the template of that name under HtmlPath.
  std::string ProduceTemplate(std::string_view templateName);
  // The text of the carried search fields of the page links: "&NAME=value" each, the
  // applied filters last.
  std::string CarriedFields();
  // The same with other filters in place of the applied ones.
  std::string CarriedFieldsWith(const FacetFilters& filters);
  // The counts of the current search by facet value, counted at the first call.
  const FacetCounts& CurrentFacetCounts();
  // SY_CODE to SY_SYOZAI, read at the first call.
  const std::map<std::int64_t, std::string>& ShelfLocationNames();
};

}  // namespace module
