// Routes a request to the first of its actions that answers it, falling back to the
// default action, with optional events before and after. A web module is one.
#pragma once

#include <functional>

#include "app/web_action_items.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace app {

class TCustomWebDispatcher;

// An event around the dispatch, with the dispatcher as sender.
using THTTPDispatchEvent =
    std::function<void(TCustomWebDispatcher& sender, web::TWebRequest& request,
                       web::TWebResponse& response, bool& handled)>;

class TCustomWebDispatcher {
 public:
  TCustomWebDispatcher() = default;
  TCustomWebDispatcher(const TCustomWebDispatcher&) = delete;
  TCustomWebDispatcher& operator=(const TCustomWebDispatcher&) = delete;
  virtual ~TCustomWebDispatcher();

  TWebActionItems& Actions() { return Actions_; }

  // The request and response of the dispatch under way (or the last one); nullptr
  // before the first. Not owned.
  web::TWebRequest* Request() const { return Request_; }
  web::TWebResponse* Response() const { return Response_; }

  // Runs before the actions are tried; handled starts false and, left true, ends the
  // dispatch as handled.
  void SetBeforeDispatch(THTTPDispatchEvent event) { BeforeDispatch_ = std::move(event); }
  // Runs after an action handled the request without sending the response; handled
  // starts true and becomes the result of the dispatch.
  void SetAfterDispatch(THTTPDispatchEvent event) { AfterDispatch_ = std::move(event); }

  // Tries every action in order with its path and method, then the default action
  // whatever the path; returns whether the request was handled. Exceptions of the
  // handlers pass on.
  bool DispatchRequest(web::TWebRequest& request, web::TWebResponse& response);

 private:
  TWebActionItems Actions_;
  web::TWebRequest* Request_ = nullptr;
  web::TWebResponse* Response_ = nullptr;
  THTTPDispatchEvent BeforeDispatch_;
  THTTPDispatchEvent AfterDispatch_;
};

}  // namespace app
