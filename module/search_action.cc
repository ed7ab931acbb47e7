// The search: "/list" reads the search form, runs the statement built from the search
// SQL file and answers with the result list or an error page.
#include <optional>
#include <string>
#include <string_view>

#include "config/error_log.h"
#include "db/database_error.h"
#include "matching/character_references.h"
#include "matching/sjis_fold.h"
#include "module/action_guard.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/page_window.h"
#include "module/search_statement.h"
#include "platform/clock.h"
#include "platform/int_conversion.h"
#include "platform/program_file.h"
#include "platform/sjis.h"
#include "platform/text_compare.h"
#include "platform/text_lines.h"
#include "web/html_text.h"

namespace module {

using app::TWebActionItem;
using config::WriteErrorLogEntry;
using db::EDatabaseError;
using platform::FieldValue;
using platform::ProgramFileName;
using platform::ReadTextLines;
using platform::StrToIntDef;
using platform::TryStrToInt;
using platform::TStringList;
using web::EscapeHtml;
using web::TWebRequest;
using web::TWebResponse;

namespace {

// Lower-cases the ASCII letters of a Shift_JIS text; a trail byte that looks like a
// capital letter belongs to its double-byte character and is left alone.
std::string LowerCaseSjis(std::string_view text) {
  std::string lower;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = platform::CharLength(text, i);
    char c = text[i];
    if (length == 1 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    lower.push_back(c);
    if (length == 2) lower.push_back(text[i + 1]);
    i += length;
  }
  return lower;
}

// True when the text is a decimal number as the page number is written: blanks, an
// optional sign, then digits. The shared conversion also reads hexadecimal, which a
// page number never is.
bool IsDecimalNumberText(std::string_view text) {
  const std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  text.remove_prefix(start);
  if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

void TMainMod::ReadSearchFields(TWebRequest& request) {
  const std::string method = request.Method();
  TStringList fields;
  if (method == "POST") {
    fields = request.ContentFieldList();
  } else if (method == "GET") {
    fields = request.QueryFieldList();
  } else {
    return;
  }
  const std::string pageText = FieldValue(fields, "PAGENUM");
  if (auto page = IsDecimalNumberText(pageText) ? TryStrToInt(pageText) : std::nullopt) {
    PageNumber = *page;
  } else {
    PageNumber = 0;
    WriteErrorLogEntry("PageNumber", std::to_string(PageNumber));
  }
  BookName = FieldValue(fields, "BOOKNAME");
  Chosya = FieldValue(fields, "CHOSYA");
  Syupan = FieldValue(fields, "SYUPAN");
  Isbn = FieldValue(fields, "ISBN");
  Kenmei = FieldValue(fields, "KENMEI");
  Order = FieldValue(fields, "ORDER");
  OrderKind = FieldValue(fields, "ORDERKIND");
  if (StrToIntDef(Conf->OptionalText("ANY_FIELD"), 0) == 1) Any = FieldValue(fields, "ANY");
  if (FacetsOn()) Filters = ReadFacetFilters(fields);
  const std::string* texts[] = {&BookName, &Chosya, &Syupan, &Isbn, &Kenmei, &Any};
  for (int i = 0; i < 6; ++i) {
    if (!texts[i]->empty()) SearchFlags |= static_cast<std::uint8_t>(1 << i);
  }
}

void TMainMod::MakeScriptUrl(TWebRequest& request) {
  // The host and script name come from the request's header and the server; written
  // as character references they cannot end the link's attribute.
  ScriptUrl = AbsPath ? "../" + LowerCaseSjis(ProgramFileName())
                      : "http://" + EscapeHtml(request.Host()) + EscapeHtml(request.ScriptName());
}

bool TMainMod::SortColumnListed() const {
  return IsListedSortColumn(Order, Conf->OptionalText("ORDER_COLUMNS"));
}

bool TMainMod::RelevanceOrdered() const {
  return StrToIntDef(Conf->OptionalText("RELEVANCE_ORDER"), 0) == 1 &&
         platform::SameTextIgnoringCase(Order, "RELEVANCE");
}

SearchCriteria TMainMod::RequestedSearch() const {
  SearchCriteria criteria{SearchedTexts[0], SearchedTexts[1], SearchedTexts[2],
                          SearchedTexts[3], SearchedTexts[4], Order,
                          OrderKind,        SearchFlags,      false};
  criteria.AuthorOnly = StrToIntDef(FieldValue(*RequestFields, "NoKanaFind"), 0) != 0;
  criteria.LooseMatch = qMaster->LikeMatch() == db::MatchMode::kLoose;
  criteria.EveryWord = platform::SameTextIgnoringCase(Conf->OptionalText("WORDS"), "AND");
  criteria.Any = SearchedTexts[5];
  criteria.Relevance = RelevanceOrdered();
  criteria.Filters = FilterCondition(Filters, Kintai);
  return criteria;
}

bool TMainMod::ShowEngineMessages() const {
  return StrToIntDef(Conf->OptionalText("SHOW_ENGINE_MESSAGES"), 1) != 0;
}

std::string TMainMod::DatabaseFailureText(std::string_view label) const {
  const std::string message = CurrentFailureMessage();
  if (ShowEngineMessages()) return message;
  WriteErrorLogEntry(label, message);
  return std::string(texts::kCatalogueUnavailable);
}

std::optional<TStringList> TMainMod::PrepareSearch(TWebRequest& request) {
  CopyRequestFields(request);
  ReadSearchFields(request);
  MakeScriptUrl(request);
  auto refuse = [&](std::string_view name, std::string_view message) {
    ErrorName = name;
    ErrorMessage = message;
    return std::nullopt;
  };
  // An empty search asks nothing of the engine, as before.
  const bool loose = SearchFlags != 0 && qMaster->LikeMatch() == db::MatchMode::kLoose;
  const std::string* searchTexts[] = {&BookName, &Chosya, &Syupan, &Isbn, &Kenmei, &Any};
  // Under the loose comparison the search reads what the patron typed: a character
  // the form's Shift_JIS lacks (sent as a numeric reference) as its Shift_JIS form,
  // and a text of blanks, separators and punctuation as nothing to look for (it would
  // find every book), as if not typed. The pages show the texts as sent.
  for (std::size_t i = 0; i < SearchedTexts.size(); ++i) {
    SearchedTexts[i] = loose ? matching::ReadCharacterReferences(*searchTexts[i]) : *searchTexts[i];
    if (loose && matching::LooseTextPassedOver(SearchedTexts[i])) {
      SearchedTexts[i].clear();
      SearchFlags &= static_cast<std::uint8_t>(~(1 << i));
    }
  }
  if (SearchFlags == 0) return refuse(texts::kRuntimeError, texts::kEnterSearchKeyword);
  // Sort values are written into the statement as they are, so anything that is not
  // a plain column name and direction is refused before any SQL runs. An installation
  // that lists its sort columns refuses any other column alike.
  if (!RelevanceOrdered() && (!IsSafeSortOrder(Order, OrderKind) || !SortColumnListed())) {
    SortOrderRefused = true;
    return refuse(texts::kDatabaseError, texts::kInvalidSortOrder);
  }
  // Either driver would end the statement text at a NUL byte inside a search text,
  // dropping the conditions and the sort order after it.
  for (const std::string* text : searchTexts) {
    if (text->find('\0') != std::string::npos)
      return refuse(texts::kDatabaseError, texts::kNulInSearchText);
  }
  const SearchCriteria criteria = RequestedSearch();
  // Many words or a long text would cost the database more than the time limit
  // allows, ending on a failure; the visitor is told what to change instead.
  if (!SearchFitsLimits(criteria))
    return refuse(texts::kSearchTooLarge, texts::kSearchTooLargeHint);
  // The filters' conditions restated, so that the index decides them where it can.
  qMaster->SetRowFilters(FilterParts(Filters, Kintai));
  return BuildSearchStatement(ReadTextLines(FindSqlPath()), criteria);
}

void TMainMod::MainModRequestListAction(TWebActionItem&, TWebRequest& request,
                                        TWebResponse& response, bool&) {
  RunLogged("ListView", [&] {
    const std::uint64_t start = platform::TickCount();
    auto showError = [&](std::string_view name, std::string_view message) {
      ErrorName = name;
      ErrorMessage = message;
      return ProduceTemplate("error.html");
    };
    const std::optional<TStringList> statement = PrepareSearch(request);
    if (!statement) {
      // A site that lists its sort columns says with the status that the request, not
      // the catalogue, is at fault.
      if (SortOrderRefused && !Conf->OptionalText("ORDER_COLUMNS").empty())
        response.SetStatusCode(400);
      response.SetContent(ProduceTemplate("error.html"));
      return;
    }

    std::string page;
    try {
      qMaster->SetSqlLines(*statement);
      // A filtered list that shows the facets has the rows the filters leave counted
      // for them in the same pass, where the database can.
      if (FacetsOn() && !Filters.Empty() && ListShowsFacets())
        qMaster->SetCountAlong(kFacetCountSets);
      qMaster->OpenQuery();
      NoteIndexPassedBy();
      // -1 is a count the database could not give: a failure, not a number of books.
      if (qMaster->RowCount() < 0) throw EDatabaseError(std::string(texts::kRowCountFailed));
      if (qMaster->RowCount() != 0) {
        PageProducer->SetHTMLFile(HtmlPath + "list.html");
        SearchTime = static_cast<double>(platform::TickCount() - start) * 0.001;
        page = PageProducer->ProduceContent();
        // Only a list that tells where the page stands can say that it stands past the
        // result's end; one without the paging tags keeps its old page.
        const std::int64_t pageCount = PageCount(ListMax, qMaster->RowCount());
        if (PagingTagShown && pageCount > 0 && PageNumber >= pageCount) {
          response.SetStatusCode(404);
          page = showError(texts::kPageNotFound, std::string(texts::kPageNotFoundHead) +
                                                     std::to_string(qMaster->RowCount()) +
                                                     std::string(texts::kPageNotFoundMiddle) +
                                                     std::to_string(pageCount) +
                                                     std::string(texts::kPageNotFoundTail));
        }
      } else {
        page = showError(texts::kNoBooksFound, texts::kNoBooksFoundHint);
      }
    } catch (const EDatabaseError&) {
      page = showError(texts::kDatabaseError, DatabaseFailureText("ListView"));
    } catch (const std::exception&) {
      page = showError(texts::kDatabaseError, CurrentFailureMessage());
    }
    if (qMaster->Active()) qMaster->CloseQuery();
    response.SetContent(std::move(page));
  });
}

}  // namespace module
