// What drives the card's inputs: input 1 and 2 (the analog channels) and
// input 0 (the external trigger input). Each input has one source: a built-in
// test signal (DC, sine, square, step, noise), samples supplied by a host or
// test, the function generator's output, or nothing (unplugged, 0 V).
// Every source may add bounded uniform noise.
//
// Sources are pure functions of virtual time, so the card can compute any
// sample on demand instead of simulating a long wait sample by sample.
#pragma once

#include <cstdint>
#include <vector>

namespace rk350::card {

class GeneratorModel;

enum class SourceKind : uint8_t { kUnplugged, kDc, kSine, kSquare, kStep, kNoise, kSamples, kGenerator };

struct SignalSource {
  SourceKind kind = SourceKind::kUnplugged;
  double amplitude = 0;  // volts: peak of sine/square, height of a step, half-width of noise
  double frequency = 0;  // hertz (sine, square)
  double offset = 0;     // volts added to the signal (the level before a step)
  double phase = 0;      // radians (sine, square)
  double stepTime = 0;   // seconds of virtual time at which a step rises by `amplitude`
  double noise = 0;      // half-width in volts of uniform noise added to any source
};

// Bounds of a source over a time interval; `known` false when the source
// cannot tell (the generator), so the caller must look at every sample.
struct VoltBounds {
  double low = 0;
  double high = 0;
  bool known = false;
};

class SignalSources {
 public:
  static constexpr int kExternalInput = 0;
  static constexpr int kInputCount = 3;  // 0 external, 1 and 2 channels

  SignalSources();
  // Power-on wiring: the generator output looped to input 1, inputs 2 and
  // the external input unplugged.
  void Reset();

  // Ignored for an input outside 0..2.
  void Set(int input, const SignalSource& source);
  const SignalSource& Get(int input) const;
  // Samples in volts played from `startTime` at one per `interval` seconds;
  // `repeat` loops them, otherwise the last value holds (and the first one
  // holds before the start).
  void SetSamples(int input, const double* volts, uint32_t count, double interval, double startTime, bool repeat);

  // The source voltage at a time.
  double Volts(int input, double time) const;
  VoltBounds Bounds(int input, double from, double to) const;
  // The mean of the source, which AC coupling removes.
  double Mean(int input) const;

  void AttachGenerator(const GeneratorModel* generator) { generator_ = generator; }

 private:
  struct Samples {
    std::vector<double> values;
    double interval = 1;
    double startTime = 0;
    bool repeat = false;
    double low = 0, high = 0, mean = 0;
  };
  static double Noise(int input, double time);
  SignalSource sources_[kInputCount];
  Samples samples_[kInputCount];
  const GeneratorModel* generator_ = nullptr;
};

}  // namespace rk350::card
