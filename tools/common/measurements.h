// The figures a bench scope shows for one channel's record, computed over the
// positions that hold samples (NaN marks one that does not), and their
// statistics over the last records. One module for every tool: the capture
// summary, the scope's page and its SCPI measurements.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rk350::tools {

// A frequency fitted to the whole record, with the uncertainty its samples
// support.
struct FrequencyEstimate {
  double hertz = 0.0;
  double uncertainty = 0.0;  // Hz, three standard deviations of the fit
};

struct Measurements {
  std::size_t count = 0;  // positions holding a sample
  double minimum = 0.0;   // V
  double maximum = 0.0;   // V
  double mean = 0.0;      // V
  double peakToPeak = 0.0;
  double rms = 0.0;    // V, including the mean
  double acRms = 0.0;  // V, standard deviation around the mean
  // The levels pulses settle on (the most frequent values near the extremes)
  // and their difference; for a sine they lie near the extremes.
  double top = 0.0, base = 0.0;
  std::optional<FrequencyEstimate> frequency;  // periodic signals only
  std::optional<double> period;                // s
  std::optional<double> dutyCycle;             // percent of the period above the middle level
  std::optional<double> riseTime;              // s, 10 % to 90 % of base..top, mean over the edges
  std::optional<double> fallTime;              // s, 90 % to 10 %
  std::optional<double> overshoot;             // percent of top - base, above the top
};

// `converterStep` (V, 0 when unknown) bounds the noise the frequency's
// uncertainty assumes from below: an 8-bit record is never better known than
// its quantisation.
Measurements Measure(std::span<const double> volts, double sampleRate, double converterStep = 0.0);

// Frequency by a least-squares fit of a sine with its harmonics (up to the
// tenth, below half the sample rate) to every held sample, started from the
// mid-level crossings. Needs two full periods of one length and a swing of
// at least `minimumSwing` volts, so noise, DC and a single edge give none.
inline constexpr double kLeastFrequencySwing = 1e-6;  // V
std::optional<FrequencyEstimate> EstimateFrequency(std::span<const double> volts, double sampleRate,
                                                   double converterStep = 0.0,
                                                   double minimumSwing = kLeastFrequencySwing);

// The decimal places a value with this uncertainty supports once divided by
// `scale` (1e3 for kHz): the last digit shown is worth at least the
// uncertainty. At least 0.
int DecimalsFor(double uncertainty, double scale);

// One row per figure: its key in JSON, its name for people, its unit and
// how to read it; the summary, the page and SCPI list the figures from here.
struct Quantity {
  const char* key;    // "acRms"
  const char* label;  // "AC RMS"
  const char* unit;   // "V", "Hz", "s", "%"
  std::optional<double> (*read)(const Measurements&);
  const char* scpi = nullptr;  // its SCPI query's header (":MEASure:VPP"); null: none
};
std::span<const Quantity> Quantities();
const Quantity* FindQuantity(const std::string& key);

// Minimum, mean, maximum and standard deviation of each figure over the last
// `depth` records that had it.
struct Spread {
  std::size_t count = 0;
  double minimum = 0.0, mean = 0.0, maximum = 0.0, deviation = 0.0;
};

class MeasurementHistory {
 public:
  explicit MeasurementHistory(std::size_t depth = 100) : depth_(depth == 0 ? 1 : depth) {}
  void Add(const Measurements& m);
  void Reset() { records_.clear(); }
  std::size_t Records() const { return records_.size(); }
  std::size_t Depth() const { return depth_; }
  Spread Of(const Quantity& quantity) const;

 private:
  std::size_t depth_;
  std::deque<Measurements> records_;
};

}  // namespace rk350::tools
