// Work that must be done once when the program starts, before the request is served:
// a hook is registered before the application runs (the test program registers one
// that fails), and the application object runs them all from Initialize. The database
// engine registers none: it starts at a query's first opening, so that a request that
// reads no database starts nothing.
#pragma once

#include <functional>

namespace web {

// Adds hook to the ones Initialize runs, after those registered before it.
void RegisterStartupHook(std::function<void()> hook);

// Runs every registered hook in registration order; an exception from a hook passes
// to the caller and the later hooks do not run.
void RunStartupHooks();

}  // namespace web
