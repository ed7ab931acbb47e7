#include "tools/progress_meter.h"

#include <chrono>

namespace tools {

namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ProgressMeter::ProgressMeter(std::ostream& out, bool enabled, std::uint64_t totalBytes)
    : out_(out), enabled_(enabled), totalBytes_(totalBytes) {}

void ProgressMeter::Update(std::uint64_t bytesRead, std::uint64_t books) {
  if (!enabled_) return;
  std::int64_t now = NowMs();
  if (now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  Draw(bytesRead, books);
}

void ProgressMeter::Finish(std::uint64_t bytesRead, std::uint64_t books) {
  if (!enabled_) return;
  Draw(bytesRead, books);
  out_ << '\n' << std::flush;
}

void ProgressMeter::Draw(std::uint64_t bytesRead, std::uint64_t books) {
  out_ << "\r" << books << " books";
  if (totalBytes_ > 0) {
    std::uint64_t percent = bytesRead >= totalBytes_ ? 100 : bytesRead * 100 / totalBytes_;
    out_ << ", " << percent << "% read";
  }
  out_ << std::flush;
}

}  // namespace tools
