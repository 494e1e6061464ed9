#include "card/signal_sources.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "card/generator_model.h"

namespace rk350::card {

namespace {
bool ValidInput(int input) { return input >= 0 && input < SignalSources::kInputCount; }

// A stateless hash (splitmix64) so that noise is a function of time and
// reproducible however the samples are asked for.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double Fraction(double x) { return x - std::floor(x); }
}  // namespace

SignalSources::SignalSources() { Reset(); }

void SignalSources::Reset() {
  for (int i = 0; i < kInputCount; ++i) {
    sources_[i] = SignalSource{};
    samples_[i] = Samples{};
  }
  sources_[1].kind = SourceKind::kGenerator;
}

void SignalSources::Set(int input, const SignalSource& source) {
  if (!ValidInput(input)) return;
  sources_[input] = source;
}

const SignalSource& SignalSources::Get(int input) const { return sources_[ValidInput(input) ? input : 0]; }

void SignalSources::SetSamples(int input, const double* volts, uint32_t count, double interval, double startTime,
                               bool repeat) {
  if (!ValidInput(input)) return;
  Samples& s = samples_[input];
  s.values.assign(volts, volts + (volts != nullptr ? count : 0));
  s.interval = interval > 0 ? interval : 1;
  s.startTime = startTime;
  s.repeat = repeat;
  s.low = s.high = s.mean = 0;
  if (!s.values.empty()) {
    const auto [lo, hi] = std::minmax_element(s.values.begin(), s.values.end());
    s.low = *lo;
    s.high = *hi;
    double sum = 0;
    for (double v : s.values) sum += v;
    s.mean = sum / static_cast<double>(s.values.size());
  }
  SignalSource source;
  source.kind = SourceKind::kSamples;
  sources_[input] = source;
}

double SignalSources::Noise(int input, double time) {
  // Keyed by the time in picoseconds: distinct for every sample instant.
  const auto key = static_cast<uint64_t>(std::llround(time * 1e12)) ^ (static_cast<uint64_t>(input) << 60);
  const uint64_t h = Mix(key);
  return static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0;  // uniform in [-1, 1)
}

double SignalSources::Volts(int input, double time) const {
  if (!ValidInput(input)) return 0;
  const SignalSource& s = sources_[input];
  double v = 0;
  switch (s.kind) {
    case SourceKind::kUnplugged:
      break;
    case SourceKind::kDc:
      v = s.offset;
      break;
    case SourceKind::kSine:
      v = s.offset + s.amplitude * std::sin(2 * std::numbers::pi * s.frequency * time + s.phase);
      break;
    case SourceKind::kSquare:
      v = s.offset +
          (Fraction(s.frequency * time + s.phase / (2 * std::numbers::pi)) < 0.5 ? s.amplitude : -s.amplitude);
      break;
    case SourceKind::kStep:
      v = time >= s.stepTime ? s.offset + s.amplitude : s.offset;
      break;
    case SourceKind::kNoise:
      v = s.offset + s.amplitude * Noise(input, time);
      break;
    case SourceKind::kSamples: {
      const Samples& d = samples_[input];
      if (d.values.empty()) break;
      const double position = std::floor((time - d.startTime) / d.interval);
      const auto n = static_cast<int64_t>(d.values.size());
      int64_t index = 0;
      if (position >= static_cast<double>(INT64_MAX / 2)) {
        index = d.repeat ? 0 : n - 1;
      } else if (position > 0) {
        const auto p = static_cast<int64_t>(position);
        index = d.repeat ? p % n : std::min(p, n - 1);
      }
      v = d.values[static_cast<size_t>(index)];
      break;
    }
    case SourceKind::kGenerator:
      v = generator_ != nullptr ? generator_->OutputVolts(time) : 0;
      break;
  }
  if (s.noise != 0) v += s.noise * Noise(input + 8, time);
  return v;
}

VoltBounds SignalSources::Bounds(int input, double from, double to) const {
  VoltBounds b;
  if (!ValidInput(input)) return b;
  const SignalSource& s = sources_[input];
  b.known = true;
  switch (s.kind) {
    case SourceKind::kUnplugged:
      break;
    case SourceKind::kDc:
      b.low = b.high = s.offset;
      break;
    case SourceKind::kSine:
    case SourceKind::kSquare:
    case SourceKind::kNoise:
      b.low = s.offset - std::fabs(s.amplitude);
      b.high = s.offset + std::fabs(s.amplitude);
      break;
    case SourceKind::kStep: {
      const double before = s.offset, after = s.offset + s.amplitude;
      if (to < s.stepTime) {
        b.low = b.high = before;
      } else if (from >= s.stepTime) {
        b.low = b.high = after;
      } else {
        b.low = std::min(before, after);
        b.high = std::max(before, after);
      }
      break;
    }
    case SourceKind::kSamples:
      b.low = samples_[input].low;
      b.high = samples_[input].high;
      break;
    case SourceKind::kGenerator:
      b.known = false;
      break;
  }
  b.low -= std::fabs(s.noise);
  b.high += std::fabs(s.noise);
  return b;
}

double SignalSources::Mean(int input) const {
  if (!ValidInput(input)) return 0;
  const SignalSource& s = sources_[input];
  switch (s.kind) {
    case SourceKind::kSamples:
      return samples_[input].mean;
    case SourceKind::kGenerator:
    case SourceKind::kUnplugged:
      return 0;
    default:
      return s.offset;
  }
}

}  // namespace rk350::card
