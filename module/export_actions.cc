// The catalogue for other programs: one book as RIS, BibTeX or MARCXML ("/data.ris",
// "/data.bib", "/data.marcxml") and a page of a search as Atom, RSS or JSON
// ("/list.atom", "/list.rss", "/list.json"). Every answer is UTF-8, converted from the
// catalogue's Shift_JIS through the build's tables.
#include <ctime>
#include <string>

#include "db/database_error.h"
#include "marc/marcxml_writer.h"
#include "matching/utf8_text.h"
#include "module/action_guard.h"
#include "module/feed_formats.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "module/page_window.h"
#include "module/record_formats.h"
#include "platform/int_conversion.h"

namespace module {

using db::EDatabaseError;
using matching::Utf8FromSjis;
using platform::FieldValue;
using platform::TStringList;
using web::TWebRequest;
using web::TWebResponse;

namespace {

void AnswerPlainText(TWebResponse& response, int status, const std::string& sjisText) {
  response.SetStatusCode(status);
  response.SetContentType("text/plain; charset=utf-8");
  response.SetContent(Utf8FromSjis(sjisText) + "\n");
}

}  // namespace

BookFields TMainMod::CurrentBookFields() {
  auto column = [&](const char* name) {
    return qMaster->HasField(name) ? Utf8FromSjis(qMaster->FieldText(name)) : std::string();
  };
  BookFields book;
  book.key = column("MS_BOOKID");
  book.title = column("MS_SYOMEI");
  book.titleReading = column("MS_SYOKANA");
  book.author = column("MS_CHOSYA");
  book.authorReading = column("MS_CHOKANA");
  book.publisher = column("MS_SYUPAN");
  book.year = column("MS_SYUNEN");
  book.isbn = column("MS_ISBN");
  book.subject = column("MS_KENMEI");
  book.callNumber = column("MS_SEIKYU");
  book.price = column("MS_KINGAKU");
  book.pages = column("MS_PAGE");
  book.size = column("MS_OOKISA");
  book.contents = column("MS_NAIYO");
  book.location = column("SY_SYOZAI");
  return book;
}

bool TMainMod::ExportsHoldings() const {
  return platform::StrToIntDef(Conf->OptionalText("EXPORT_HOLDINGS"), 0) == 1;
}

void TMainMod::MainModRecordExportAction(RecordFormat format, TWebRequest& request,
                                         TWebResponse& response) {
  RunHidingEngineMessages("RecordExport", [&] {
    CopyRequestFields(request);
    qMaster->LoadSqlFromFile(PropSqlPath());
    // The key as the detail page reads it, so that its query string serves both.
    NMURL->InputString = FieldValue(*RequestFields, "ID");
    const std::string bookId = NMURL->GetDecodeString();
    qMaster->SetParamText("BOOKID", bookId);
    qMaster->OpenQuery();
    if (qMaster->AtEnd()) {
      AnswerPlainText(
          response, 404,
          std::string(texts::kBookNotFoundHead) + bookId + std::string(texts::kBookNotFoundTail));
      qMaster->CloseQuery();
      return;
    }
    const BookFields book = CurrentBookFields();
    const std::string url = AsciiUrl(BookUrl(qMaster->FieldText("MS_BOOKID")));
    qMaster->CloseQuery();
    const std::string name = SafeKey(book.key);
    switch (format) {
      case RecordFormat::kRis:
        response.SetContentType("application/x-research-info-systems; charset=utf-8");
        response.SetContentDisposition("attachment; filename=\"" + name + ".ris\"");
        response.SetContent(RisRecord(book, url));
        break;
      case RecordFormat::kBibtex:
        response.SetContentType("application/x-bibtex; charset=utf-8");
        response.SetContentDisposition("attachment; filename=\"" + name + ".bib\"");
        response.SetContent(BibtexRecord(book, url));
        break;
      case RecordFormat::kMarcXml:
        response.SetContentType("application/marcxml+xml; charset=utf-8");
        response.SetContentDisposition("attachment; filename=\"" + name + ".xml\"");
        response.SetContent("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" +
                            marc::MarcXmlRecord(BookMarcRecord(book)));
        break;
    }
  });
}

void TMainMod::MainModSearchFeedAction(FeedFormat format, TWebRequest& request,
                                       TWebResponse& response) {
  RunHidingEngineMessages("SearchFeed", [&] {
    const std::optional<TStringList> statement = PrepareSearch(request);
    if (!statement) {
      AnswerPlainText(response, 400, ErrorName + ": " + ErrorMessage);
      return;
    }
    FeedPage page;
    page.answeredAt = std::time(nullptr);
    qMaster->SetSqlLines(*statement);
    qMaster->OpenQuery();
    NoteIndexPassedBy();
    // -1 is a count the database could not give: a failure, not a number of books.
    if (qMaster->RowCount() < 0) throw EDatabaseError(std::string(texts::kRowCountFailed));
    const RowWindow window = PageRowWindow(ListMax, PageNumber, qMaster->RowCount());
    qMaster->SkipRows(window.SkipRows);
    for (std::int64_t k = 0; k < window.RowLimit && !qMaster->AtEnd(); ++k) {
      page.items.push_back(
          {CurrentBookFields(), AsciiUrl(BookUrl(qMaster->FieldText("MS_BOOKID")))});
      qMaster->NextRow();
    }
    page.totalResults = qMaster->RowCount();
    page.startIndex = window.SkipRows + 1;
    page.itemsPerPage = ListMax;
    page.holdings = ExportsHoldings();
    qMaster->CloseQuery();
    for (const std::string& text : SearchedTexts) {
      if (!text.empty())
        page.searchTerms += (page.searchTerms.empty() ? "" : " ") + Utf8FromSjis(text);
    }
    page.title = Utf8FromSjis(std::string(texts::kFeedTitle)) + ": " + page.searchTerms;
    const std::string query = request.Query().empty() ? "" : "?" + request.Query();
    page.selfUrl = AsciiUrl(ProgramUrl() + request.PathInfo() + query);
    page.htmlUrl = AsciiUrl(ProgramUrl() + "/list" + query);
    switch (format) {
      case FeedFormat::kAtom:
        response.SetContentType("application/atom+xml; charset=utf-8");
        response.SetContent(AtomFeed(page));
        break;
      case FeedFormat::kRss:
        response.SetContentType("application/rss+xml; charset=utf-8");
        response.SetContent(RssFeed(page));
        break;
      case FeedFormat::kJson:
        response.SetContentType("application/json; charset=utf-8");
        response.SetContent(JsonFeed(page));
        break;
    }
  });
}

}  // namespace module
