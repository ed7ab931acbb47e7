#include "platform/request_end.h"

#include "platform/hook_list.h"

namespace platform {

namespace {

HookList& Hooks() {
  static HookList hooks;
  return hooks;
}

HookList& ServingStartHooks() {
  static HookList hooks;
  return hooks;
}

bool servingManyRequests = false;

}  // namespace

void RegisterRequestEndHook(std::function<void()> hook) { Hooks().Add(std::move(hook)); }

void RunRequestEndHooks() noexcept { Hooks().RunAll(); }

void RegisterServingStartHook(std::function<void()> hook) {
  ServingStartHooks().Add(std::move(hook));
}

void MarkServingManyRequests() {
  servingManyRequests = true;
  ServingStartHooks().RunAll();
}

bool ServingManyRequests() { return servingManyRequests; }

}  // namespace platform
