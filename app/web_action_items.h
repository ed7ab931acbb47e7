// The actions of a dispatcher: each answers the request paths its PathInfo mask
// matches (optionally only for one method) by calling its handler. The collection
// keeps them in the order they were added, which is the order they are tried in.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/mask.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace app {

class TWebActionItem;
class TWebActionItems;

// An action's handler. handled is true on entry; leaving it true means the request
// counts as handled.
using THTTPMethodEvent = std::function<void(TWebActionItem& sender, web::TWebRequest& request,
                                            web::TWebResponse& response, bool& handled)>;

class TWebActionItem {
 public:
  TWebActionItem(const TWebActionItem&) = delete;
  TWebActionItem& operator=(const TWebActionItem&) = delete;

  const std::string& Name() const { return Name_; }
  // Renames the item. Raises EWebAppError when another item of the collection has the
  // name, compared without regard to letter case.
  void SetName(std::string_view name);

  const std::string& PathInfo() const { return PathInfo_; }
  // Stores the path with every backslash turned into "/" and a "/" put in front of a
  // path that lacks one (so an empty path becomes "/"), and compiles its mask.
  void SetPathInfo(std::string_view pathInfo);

  web::TMethodType MethodType() const { return MethodType_; }
  void SetMethodType(web::TMethodType methodType) { MethodType_ = methodType; }

  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool enabled) { Enabled_ = enabled; }

  bool Default() const { return Default_; }
  // Setting it clears it on every other item of the collection.
  void SetDefault(bool isDefault);

  const THTTPMethodEvent& OnAction() const { return OnAction_; }
  void SetOnAction(THTTPMethodEvent handler) { OnAction_ = std::move(handler); }

  // Runs the handler when the item answers the request: always when useDefault and the
  // item is the default; otherwise only when it is enabled, accepts the request's
  // method and its mask matches the whole path info. Returns whether the request was
  // handled (false without a handler). Exceptions of the handler pass on.
  bool TryDispatch(web::TWebRequest& request, web::TWebResponse& response, bool useDefault);

 private:
  friend class TWebActionItems;
  TWebActionItem(TWebActionItems& collection, std::string name);

  TWebActionItems& Collection_;  // the owner of the item
  std::string Name_;
  std::string PathInfo_;
  TMask Mask_;
  web::TMethodType MethodType_ = web::mtAny;
  bool Enabled_ = true;
  bool Default_ = false;
  THTTPMethodEvent OnAction_;
};

class TWebActionItems {
 public:
  TWebActionItems() = default;
  TWebActionItems(const TWebActionItems&) = delete;
  TWebActionItems& operator=(const TWebActionItems&) = delete;

  // Appends an item with a generated name ("WebActionItem1", ...) and no path.
  TWebActionItem& Add();

  // Appends an item with the given properties; raises EWebAppError for a name already
  // in use.
  TWebActionItem& Add(std::string_view name, std::string_view pathInfo, THTTPMethodEvent onAction,
                      bool isDefault = false);

  std::size_t Count() const { return Items_.size(); }
  TWebActionItem& operator[](std::size_t index) const { return *Items_.at(index); }

  // The item with that name, compared without regard to letter case; nullptr if none.
  TWebActionItem* Find(std::string_view name) const;

 private:
  friend class TWebActionItem;

  std::vector<std::unique_ptr<TWebActionItem>> Items_;
};

}  // namespace app
