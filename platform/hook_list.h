// An ordered list of functions run together: the start-up hooks of the web layer and the
// request-end hooks of a long-lived process. Each list is a function-local static of its
// owner, so that hooks registered from static initialisers of other translation units find
// it built whatever the initialisation order.
#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace platform {

class HookList {
 public:
  void Add(std::function<void()> hook) { hooks_.push_back(std::move(hook)); }
  // Runs the hooks in the order they were added; an exception from one passes to the
  // caller and the later ones do not run.
  void RunAll() const {
    for (const auto& hook : hooks_) hook();
  }

 private:
  std::vector<std::function<void()>> hooks_;
};

}  // namespace platform
