#include "bench/heap_meter.h"

#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <new>

namespace {

// Single-threaded benchmarks, so plain counters suffice.
std::size_t liveBytes = 0;
std::size_t baseBytes = 0;
std::size_t peakBytes = 0;

void* Allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  liveBytes += malloc_usable_size(block);
  if (liveBytes > peakBytes) peakBytes = liveBytes;
  return block;
}

void Release(void* block) {
  if (block == nullptr) return;
  liveBytes -= malloc_usable_size(block);
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

namespace heap_meter {

void ResetPeak() { baseBytes = peakBytes = liveBytes; }

std::size_t PeakBytes() { return peakBytes - baseBytes; }

long MaxResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace heap_meter
