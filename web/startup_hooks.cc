#include "web/startup_hooks.h"

#include <vector>

namespace web {

namespace {

// A function-local static, so that hooks registered from other translation units'
// static initialisers find the list built whatever the initialisation order.
std::vector<std::function<void()>>& Hooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}

}  // namespace

void RegisterStartupHook(std::function<void()> hook) { Hooks().push_back(std::move(hook)); }

void RunStartupHooks() {
  for (const auto& hook : Hooks()) hook();
}

}  // namespace web
