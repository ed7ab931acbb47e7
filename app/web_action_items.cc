#include "app/web_action_items.h"

#include "app/web_app_error.h"
#include "platform/file_system.h"
#include "platform/japanese_texts.h"
#include "platform/text_compare.h"
#include "platform/text_format.h"

namespace app {

using platform::FormatText;
using platform::SameTextIgnoringCase;
using web::mtAny;
using web::TWebRequest;
using web::TWebResponse;

TWebActionItem::TWebActionItem(TWebActionItems& collection, std::string name)
    : Collection_(collection), Name_(std::move(name)), Mask_("") {}

void TWebActionItem::SetName(std::string_view name) {
  TWebActionItem* holder = Collection_.Find(name);
  if (holder && holder != this) {
    throw EWebAppError(FormatText(platform::texts::kDuplicateActionName, {name}));
  }
  Name_ = name;
}

void TWebActionItem::SetPathInfo(std::string_view pathInfo) {
  // The same backslash rule as for file paths: a trail byte 0x5C stays in its character.
  PathInfo_ = platform::NativePath(pathInfo);
  if (!PathInfo_.starts_with('/')) PathInfo_.insert(0, "/");
  Mask_ = TMask(PathInfo_);
}

void TWebActionItem::SetDefault(bool isDefault) {
  if (isDefault) {
    for (const auto& item : Collection_.Items_) item->Default_ = false;
  }
  Default_ = isDefault;
}

bool TWebActionItem::TryDispatch(TWebRequest& request, TWebResponse& response, bool useDefault) {
  if (!(useDefault && Default_)) {
    if (!Enabled_) return false;
    if (MethodType_ != mtAny && MethodType_ != request.MethodType()) return false;
    if (!Mask_.Matches(request.PathInfo())) return false;
  }
  if (!OnAction_) return false;
  bool handled = true;
  OnAction_(*this, request, response, handled);
  return handled;
}

TWebActionItem& TWebActionItems::Add() {
  std::string name;
  for (std::size_t number = Items_.size() + 1; name.empty() || Find(name); ++number) {
    name = "WebActionItem" + std::to_string(number);
  }
  Items_.push_back(std::unique_ptr<TWebActionItem>(new TWebActionItem(*this, std::move(name))));
  return *Items_.back();
}

TWebActionItem& TWebActionItems::Add(std::string_view name, std::string_view pathInfo,
                                     THTTPMethodEvent onAction, bool isDefault) {
  if (Find(name)) throw EWebAppError(FormatText(platform::texts::kDuplicateActionName, {name}));
  // Made with its name at once: a module declares its actions for every request it
  // serves, and a placeholder name would be made unique only to be replaced.
  Items_.push_back(std::unique_ptr<TWebActionItem>(new TWebActionItem(*this, std::string(name))));
  TWebActionItem& item = *Items_.back();
  item.SetPathInfo(pathInfo);
  item.SetOnAction(std::move(onAction));
  item.SetDefault(isDefault);
  return item;
}

TWebActionItem* TWebActionItems::Find(std::string_view name) const {
  for (const auto& item : Items_) {
    if (SameTextIgnoringCase(item->Name_, name)) return item.get();
  }
  return nullptr;
}

}  // namespace app
