#include "progress.h"

#include <algorithm>
#include <cmath>

#if defined(_WIN32)
#include <io.h>
#define RK350_ISATTY _isatty
#define RK350_FILENO _fileno
#else
#include <unistd.h>
#define RK350_ISATTY isatty
#define RK350_FILENO fileno
#endif

namespace rk350::capture {

std::string ProgressLine(double fraction, const std::string& status, int width) {
  std::string line = "[";
  if (fraction >= 0) {
    const double f = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(std::floor(f * width));
    line += std::string(filled, '#') + std::string(width - filled, '.') + "] ";
    const std::string percent = std::to_string(static_cast<int>(std::floor(f * 100))) + "%";
    line += std::string(4 - std::min<std::size_t>(4, percent.size()), ' ') + percent;
  } else {
    line += std::string(width, '?') + "]     ";
  }
  return line + "  " + status;
}

Progress::Progress(std::FILE* stream, bool enabled)
    : stream_(stream),
      enabled_(enabled && RK350_ISATTY(RK350_FILENO(stream)) != 0),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

Progress::~Progress() { Finish(); }

void Progress::Update(double fraction, const std::string& status) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::milliseconds(500)) return;
  if (shown_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  shown_ = true;
  std::fprintf(stream_, "\r%s\033[K", ProgressLine(fraction, status, 30).c_str());
  std::fflush(stream_);
}

void Progress::Finish() {
  if (shown_) {
    std::fprintf(stream_, "\r\033[K");
    std::fflush(stream_);
    shown_ = false;
  }
}

}  // namespace rk350::capture
