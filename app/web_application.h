// The application object: it knows the module class, makes a module when a request is
// served, and keeps the module in its pool afterwards, so that the module lives until
// the application object is destroyed -- after the response has been written.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/web_module.h"
#include "platform/exception.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace app {

class TWebApplication;

// A module class: makes a new module owned by the given application. Exceptions of
// the module's constructor pass on.
using TWebModuleClass = std::function<std::unique_ptr<TWebModule>(TWebApplication& owner)>;

// The module class of T, a TWebModule with a constructor taking the owner.
template <class T>
TWebModuleClass ModuleClassOf() {
  return [](TWebApplication& owner) -> std::unique_ptr<TWebModule> {
    return std::make_unique<T>(owner);
  };
}

class TWebApplication {
 public:
  TWebApplication() = default;
  TWebApplication(const TWebApplication&) = delete;
  TWebApplication& operator=(const TWebApplication&) = delete;
  // Destroys the pooled and active modules, newest first.
  virtual ~TWebApplication();

  // Runs the start-up hooks the linked layers registered; their exceptions pass on.
  void Initialize();

  // Stores the class modules are made from; makes no module.
  void RegisterModuleClass(TWebModuleClass moduleClass);
  const TWebModuleClass& ModuleClass() const { return ModuleClass_; }

  // Serves the request of this process.
  virtual void Run() = 0;

  // Takes a module, dispatches the request to it, sends the response when the request
  // was handled and not yet sent, and returns the module to the pool (also when an
  // exception passes on). Returns whether the request was handled.
  bool ServeRequest(web::TWebRequest& request, web::TWebResponse& response);

  // The first pooled module, or a new one made from the module class; it becomes
  // active. Raises EWebAppError without a module class (or when it makes none); a failing module
  // constructor passes its exception on and leaves the lists unchanged.
  TWebModule& AcquireModule();

  // Moves an active module to the pool; a module that is not active is left alone.
  void ReleaseModule(TWebModule& module);

  const std::vector<std::unique_ptr<TWebModule>>& ActiveModules() const { return ActiveModules_; }
  const std::vector<std::unique_ptr<TWebModule>>& PooledModules() const { return PooledModules_; }

  // The installation's template of the 500 page ("\\" separates folders), named by a
  // module whose settings were read; empty for the fixed page.
  std::string ServerErrorTemplate;
  // Told why ServerErrorTemplate could not be used (the fixed page is sent instead), so
  // that the module can log it; may be left unset. Must not raise.
  std::function<void(const platform::Exception& failure)> ServerErrorTemplateFailed;

 private:
  TWebModuleClass ModuleClass_;
  std::vector<std::unique_ptr<TWebModule>> ActiveModules_;
  std::vector<std::unique_ptr<TWebModule>> PooledModules_;
  std::mutex Lock_;  // guards both lists
};

}  // namespace app
