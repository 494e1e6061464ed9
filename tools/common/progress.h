// A one-line progress display on a terminal for captures that take a while.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace rk350::capture {

class Progress {
 public:
  // Shows nothing when disabled, when the stream is not a terminal, or
  // during the first half second (quick captures stay quiet).
  Progress(std::FILE* stream, bool enabled);
  ~Progress();
  // fraction in 0..1, or negative when unknown; status says what happens.
  void Update(double fraction, const std::string& status);
  void Finish();

 private:
  std::FILE* stream_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

// The bar itself, for tests: "[#####.....]  50%  status".
std::string ProgressLine(double fraction, const std::string& status, int width);

}  // namespace rk350::capture
