#include "module/main_mod.h"

#include "app/web_application.h"
#include "config/error_log.h"
#include "config/lira_web_conf_loader.h"
#include "module/action_guard.h"
#include "platform/file_system.h"

namespace module {

using app::TWebActionItem;
using app::TWebApplication;
using app::TWebModule;
using config::LoadLiraWebConf;
using config::WriteErrorLogEntry;
using db::TQuery;
using platform::TStringList;
using web::TNMURL;
using web::TPageProducer;
using web::TTag;
using web::TWebRequest;
using web::TWebResponse;

TMainMod::TMainMod(TWebApplication& owner) : TWebModule(owner, "MainMod") {
  Actions().Add(
      "DefaultAction", "/",
      [this](auto& sender, auto& request, auto& response, bool& handled) {
        MainModDefaultActionAction(sender, request, response, handled);
      },
      true);
  Actions().Add("RequestList", "/list",
                [this](auto& sender, auto& request, auto& response, bool& handled) {
                  MainModRequestListAction(sender, request, response, handled);
                });
  Actions().Add("RequestData", "/data",
                [this](auto& sender, auto& request, auto& response, bool& handled) {
                  MainModRequestDataAction(sender, request, response, handled);
                });
  Actions().Add("OpenSearch", "/opensearch.xml",
                [this](auto& sender, auto& request, auto& response, bool& handled) {
                  MainModOpenSearchAction(sender, request, response, handled);
                });
  // Records and searches for other programs, each at a path of its own.
  using Export = std::function<void(TWebRequest&, TWebResponse&)>;
  auto record = [this](RecordFormat format) -> Export {
    return [this, format](auto& request, auto& response) {
      MainModRecordExportAction(format, request, response);
    };
  };
  auto feed = [this](FeedFormat format) -> Export {
    return [this, format](auto& request, auto& response) {
      MainModSearchFeedAction(format, request, response);
    };
  };
  const std::pair<const char*, Export> exports[] = {
      {"/data.ris", record(RecordFormat::kRis)},
      {"/data.bib", record(RecordFormat::kBibtex)},
      {"/data.marcxml", record(RecordFormat::kMarcXml)},
      {"/list.atom", feed(FeedFormat::kAtom)},
      {"/list.rss", feed(FeedFormat::kRss)},
      {"/list.json", feed(FeedFormat::kJson)}};
  for (const auto& [path, serve] : exports) {
    // A copy of the handler: clang does not capture a structured binding.
    Actions().Add(std::string("Export") + path, path,
                  [handler = serve](auto&, auto& request, auto& response, bool&) {
                    handler(request, response);
                  });
  }
  Actions().Add("SRU", "/sru", [this](auto& sender, auto& request, auto& response, bool& handled) {
    MainModSruAction(sender, request, response, handled);
  });
  PageProducer = std::make_unique<TPageProducer>();
  PageProducer->OnHTMLTag = [this](TPageProducer& sender, TTag tag, const std::string& tagString,
                                   const TStringList& tagParams, std::string& replaceText) {
    PageProducerHTMLTag(sender, tag, tagString, tagParams, replaceText);
  };
  NMURL = std::make_unique<TNMURL>();
  qMaster = std::make_unique<TQuery>("qMaster");

  RunLogged("Initialize", [this] { LoadConfig("liraweb.conf"); });
}

TMainMod::~TMainMod() {
  if (qMaster && qMaster->Active()) qMaster->CloseQuery();
}

void TMainMod::LoadConfig(std::string_view fileName) {
  Conf = LoadLiraWebConf(fileName);
  Conf->GetString("HTML_PATH", HtmlPath);
  Conf->GetString("DB_ALIAS", DbAlias);
  Conf->GetInteger("LIST_MAX", ListMax);
  Conf->GetChar("KINTAI", Kintai);
  Conf->GetString("QUERY_PATH", QueryPath);
  std::int32_t absPath = 0;
  Conf->GetInteger("ABS_PATH", absPath);
  Conf->GetInteger("AC_LIMIT", AcLimit);
  qMaster->SetDatabaseName(DbAlias);
  AbsPath = absPath != 0;
  // Named only once every setting was read: a 500 page answering a failure of the
  // settings is the fixed one, which depends on nothing of the installation.
  const std::string serverErrorPage = Conf->OptionalText("SERVER_ERROR_PAGE");
  if (!serverErrorPage.empty()) {
    Owner().ServerErrorTemplate = HtmlPath + serverErrorPage;
    Owner().ServerErrorTemplateFailed = [](const platform::Exception& failure) {
      try {
        WriteErrorLogEntry("ServerErrorPage", failure.Message());
      } catch (const platform::Exception&) {
        // The log is out of reach too; the fixed 500 page still reports the failure.
      }
    };
  }
}

void TMainMod::MainModDefaultActionAction(TWebActionItem&, TWebRequest&, TWebResponse& response,
                                          bool&) {
  RunLogged("DefaultAction", [&] { response.SetContent(ProduceTemplate("top.html")); });
}

void TMainMod::MainModOpenSearchAction(TWebActionItem& sender, TWebRequest& request,
                                       TWebResponse& response, bool& handled) {
  // An installation without the description keeps answering this path with its top
  // page, as it did before the path existed.
  if (!platform::FileExists(HtmlPath + "opensearch.xml")) {
    MainModDefaultActionAction(sender, request, response, handled);
    return;
  }
  RunLogged("OpenSearch", [&] {
    response.SetContent(ProduceTemplate("opensearch.xml"));
    response.SetContentType("application/opensearchdescription+xml");
  });
}

void TMainMod::CopyRequestFields(TWebRequest& request) {
  if (!RequestFields) RequestFields = std::make_unique<TStringList>();
  *RequestFields =
      request.Method() == "POST" ? request.ContentFieldList() : request.QueryFieldList();
}

std::string TMainMod::ProduceTemplate(std::string_view templateName) {
  PageProducer->SetHTMLFile(HtmlPath + std::string(templateName));
  return PageProducer->ProduceContent();
}

}  // namespace module
