#include "app/web_dispatcher.h"

namespace app {

using web::TWebRequest;
using web::TWebResponse;

TCustomWebDispatcher::~TCustomWebDispatcher() = default;

bool TCustomWebDispatcher::DispatchRequest(TWebRequest& request, TWebResponse& response) {
  Request_ = &request;
  Response_ = &response;
  bool handled = false;
  if (BeforeDispatch_) BeforeDispatch_(*this, request, response, handled);
  handled = handled || response.Sent();
  TWebActionItem* defaultItem = nullptr;
  for (std::size_t i = 0; i < Actions_.Count() && !handled; ++i) {
    TWebActionItem& item = Actions_[i];
    handled = item.TryDispatch(request, response, false);
    if (item.Default()) defaultItem = &item;
  }
  if (!handled && defaultItem) handled = defaultItem->TryDispatch(request, response, true);
  if (handled && !response.Sent()) {
    if (AfterDispatch_) AfterDispatch_(*this, request, response, handled);
  }
  return handled;
}

}  // namespace app
