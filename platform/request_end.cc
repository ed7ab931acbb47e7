#include "platform/request_end.h"

#include <vector>

namespace platform {

namespace {

std::vector<std::function<void()>>& Hooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}

bool servingManyRequests = false;

}  // namespace

void RegisterRequestEndHook(std::function<void()> hook) { Hooks().push_back(std::move(hook)); }

void RunRequestEndHooks() noexcept {
  for (const auto& hook : Hooks()) hook();
}

void MarkServingManyRequests() { servingManyRequests = true; }

bool ServingManyRequests() { return servingManyRequests; }

}  // namespace platform
