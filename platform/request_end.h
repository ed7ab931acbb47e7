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

// Adds hook to the ones MarkServingManyRequests runs: work that a CGI run pays for in
// the one request that needs it, done once before the first request of a long-lived
// process so that no request pays for it (loading a plug-in). A hook must not throw; what
// it could not do is left to the request that needs it, which reports the failure.
void RegisterServingStartHook(std::function<void()> hook);

// Marks the process as one that serves request after request (the FastCGI server does so
// before its first request) and runs the serving start hooks. Layers check what they
// keep for a next request only then, so that a CGI run pays nothing for it.
void MarkServingManyRequests();
bool ServingManyRequests();

}  // namespace platform
