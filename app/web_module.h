// The base of the program's web module: a dispatcher that belongs to the application
// object and owns the components placed on it.
//
// A module declares its actions and components in its constructor:
//
//   class TMainMod : public TWebModule {
//    public:
//     explicit TMainMod(TWebApplication& owner) : TWebModule(owner, "MainMod") {
//       Actions().Add("DefaultAction", "/", [this](auto&, auto&, auto& response, bool&) {
//         ...
//       }, true);
//       PageProducer = std::make_unique<TPageProducer>();
//     }
//     std::unique_ptr<TPageProducer> PageProducer;  // a component, owned
//   };
//
// Components are std::unique_ptr members, so they are destroyed with the module.
#pragma once

#include <string>
#include <string_view>

#include "app/web_dispatcher.h"

namespace app {

class TWebApplication;

class TWebModule : public TCustomWebDispatcher {
 public:
  // A module named name (the module component's name) owned by owner.
  TWebModule(TWebApplication& owner, std::string_view name) : Owner_(owner), Name_(name) {}

  TWebApplication& Owner() const { return Owner_; }
  const std::string& Name() const { return Name_; }

 private:
  TWebApplication& Owner_;
  std::string Name_;
};

}  // namespace app
