// Checks of the conditions that code relies on and that nothing else checks: the bounds
// of the template window, the position of a Shift_JIS walk, the order of a posting list.
// A broken condition stops the program at once, naming the file, the line and the
// condition on standard error, rather than letting it read or write past what it holds.
// The checks are on unless the build is configured with -DLIRAWEB_ASSERTIONS=OFF; keep
// each one a comparison or two, never a loop of its own.
#pragma once

#include <cstdio>
#include <cstdlib>

#ifndef LIRAWEB_ASSERTIONS
#define LIRAWEB_ASSERTIONS 1
#endif

namespace platform {

// Reports a broken invariant and aborts; reached only through LIRAWEB_ASSERT.
[[noreturn]] inline void AssertionFailed(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace platform

#if LIRAWEB_ASSERTIONS
#define LIRAWEB_ASSERT(condition)                    \
  (__builtin_expect(static_cast<bool>(condition), 1) \
       ? static_cast<void>(0)                        \
       : ::platform::AssertionFailed(__FILE__, __LINE__, #condition))
#else
#define LIRAWEB_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#endif
