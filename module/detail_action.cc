// The detail page: "/data" runs the statement of the detail SQL file with the book's
// key and expands the detail template over its row.
#include <string>

#include "module/action_guard.h"
#include "module/japanese_texts.h"
#include "module/main_mod.h"
#include "platform/clock.h"

namespace module {

using app::TWebActionItem;
using db::EDatabaseError;
using platform::FieldValue;
using web::TWebRequest;
using web::TWebResponse;

void TMainMod::RunHidingEngineMessages(std::string_view label, const std::function<void()>& steps) {
  try {
    RunLogged(label, steps);
  } catch (const EDatabaseError&) {
    // Logged whole by the action; the 500 page shows a plain notice instead when the
    // database's messages are not for visitors.
    if (ShowEngineMessages()) throw;
    throw EDatabaseError(std::string(texts::kCatalogueUnavailable));
  }
}

void TMainMod::MainModRequestDataAction(TWebActionItem&, TWebRequest& request,
                                        TWebResponse& response, bool&) {
  ServeDetailPage(request, response);
}

void TMainMod::ServeDetailPage(TWebRequest& request, TWebResponse& response) {
  RunHidingEngineMessages("PropertyView", [&] {
    const std::uint64_t start = platform::TickCount();
    CopyRequestFields(request);
    qMaster->LoadSqlFromFile(PropSqlPath());
    // The key was URL-encoded in the link on top of the request's own encoding.
    NMURL->InputString = FieldValue(*RequestFields, "ID");
    const std::string bookId = NMURL->GetDecodeString();
    qMaster->SetParamText("BOOKID", bookId);
    MakeScriptUrl(request);
    qMaster->OpenQuery();
    PageProducer->SetHTMLFile(HtmlPath + "page_.html");
    SearchTime = static_cast<std::int32_t>(platform::TickCount() - start) * 0.001;
    std::string page = PageProducer->ProduceContent();
    // Only a template that shows the catalogue's row (the record tags) has a book to
    // miss; one that shows the link's values keeps its page for any key.
    if (RecordMissing) {
      ErrorName = texts::kBookNotFound;
      ErrorMessage =
          std::string(texts::kBookNotFoundHead) + bookId + std::string(texts::kBookNotFoundTail);
      page = ProduceTemplate("error.html");
      response.SetStatusCode(404);
    }
    response.SetContent(std::move(page));
    if (qMaster->Active()) qMaster->CloseQuery();
  });
}

}  // namespace module
