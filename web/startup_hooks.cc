#include "web/startup_hooks.h"

#include "platform/hook_list.h"

namespace web {

namespace {

platform::HookList& Hooks() {
  static platform::HookList hooks;
  return hooks;
}

}  // namespace

void RegisterStartupHook(std::function<void()> hook) { Hooks().Add(std::move(hook)); }

void RunStartupHooks() { Hooks().RunAll(); }

}  // namespace web
