// A one-line progress display for long loads, redrawn in place on a terminal at most ten
// times a second: books so far and the share of the input read.
#pragma once

#include <cstdint>
#include <ostream>

namespace tools {

class ProgressMeter {
 public:
  // Draws on out when enabled; totalBytes is the size of all input (0 when unknown).
  ProgressMeter(std::ostream& out, bool enabled, std::uint64_t totalBytes);

  // Redraws the line when the last drawing is older than a tenth of a second.
  void Update(std::uint64_t bytesRead, std::uint64_t books);
  // Draws the final state and ends the line.
  void Finish(std::uint64_t bytesRead, std::uint64_t books);

 private:
  void Draw(std::uint64_t bytesRead, std::uint64_t books);

  std::ostream& out_;
  bool enabled_;
  std::uint64_t totalBytes_;
  std::int64_t lastDrawMs_ = -1000;
};

}  // namespace tools
