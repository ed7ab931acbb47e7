#include "app/web_application.h"

#include <algorithm>

#include "app/web_app_error.h"
#include "platform/japanese_texts.h"
#include "web/startup_hooks.h"

namespace app {

using web::RunStartupHooks;
using web::TWebRequest;
using web::TWebResponse;

TWebApplication::~TWebApplication() {
  while (!ActiveModules_.empty()) ActiveModules_.pop_back();
  while (!PooledModules_.empty()) PooledModules_.pop_back();
}

void TWebApplication::Initialize() { RunStartupHooks(); }

void TWebApplication::RegisterModuleClass(TWebModuleClass moduleClass) {
  ModuleClass_ = std::move(moduleClass);
}

bool TWebApplication::ServeRequest(TWebRequest& request, TWebResponse& response) {
  TWebModule& module = AcquireModule();
  struct Release {
    TWebApplication& application;
    TWebModule& module;
    ~Release() { application.ReleaseModule(module); }
  } release{*this, module};
  const bool handled = module.DispatchRequest(request, response);
  if (handled && !response.Sent()) response.Send();
  return handled;
}

TWebModule& TWebApplication::AcquireModule() {
  std::lock_guard<std::mutex> guard(Lock_);
  std::unique_ptr<TWebModule> module;
  if (PooledModules_.empty()) {
    if (ModuleClass_) module = ModuleClass_(*this);
    if (!module) throw EWebAppError(std::string(platform::texts::kNoModuleClass));
  } else {
    module = std::move(PooledModules_.front());
    PooledModules_.erase(PooledModules_.begin());
  }
  ActiveModules_.push_back(std::move(module));
  return *ActiveModules_.back();
}

void TWebApplication::ReleaseModule(TWebModule& module) {
  std::lock_guard<std::mutex> guard(Lock_);
  auto active = std::find_if(ActiveModules_.begin(), ActiveModules_.end(),
                             [&](const auto& held) { return held.get() == &module; });
  if (active == ActiveModules_.end()) return;
  PooledModules_.push_back(std::move(*active));
  ActiveModules_.erase(active);
}

}  // namespace app
