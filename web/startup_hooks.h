// Work a linked layer needs done once when the program starts, before the request is
// served. A layer registers its hook while it is initialised; the application object
// runs them all from Initialize. Kept below the database layer so that it can register.
#pragma once

#include <functional>

// Adds hook to the ones Initialize runs, after those registered before it.
void RegisterStartupHook(std::function<void()> hook);

// Runs every registered hook in registration order; an exception from a hook passes
// to the caller and the later hooks do not run.
void RunStartupHooks();
