// Work a long-lived process does after each request it served, so that the next request
// starts as a new process's would. A layer that keeps something between requests (the
// database engine its open databases) registers a hook; the FastCGI server runs the
// hooks after every request. A CGI process ends after its one request and runs none.
#pragma once

#include <functional>

namespace platform {

// Adds hook to the ones RunRequestEndHooks runs, after those registered before it.
void RegisterRequestEndHook(std::function<void()> hook);

// Runs every registered hook in registration order. A hook must not throw.
void RunRequestEndHooks() noexcept;

// Marks the process as one that serves request after request (the FastCGI server does so
// before its first request). Layers check what they keep for a next request only then,
// so that a CGI run pays nothing for it.
void MarkServingManyRequests();
bool ServingManyRequests();

}  // namespace platform
