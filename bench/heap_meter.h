// Measures the heap that a stretch of code uses at its worst. Linking heap_meter.cc
// into a benchmark replaces the global operator new and delete with counting ones.
#pragma once

#include <cstddef>

namespace heap_meter {

// Starts a measurement: the peak is counted from the bytes live now.
void ResetPeak();

// The most bytes live at once since ResetPeak, above what was live then.
std::size_t PeakBytes();

// The process's resident-set high-water mark in KiB (getrusage).
long MaxResidentKiB();

}  // namespace heap_meter
