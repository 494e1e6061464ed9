#include "measurements.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace rk350::tools {
namespace {

// The held samples of a record: their values and positions. Positions are
// kept because a fit or an edge needs each sample's time, and averaged
// records may have gaps. A record is taken once and every figure is computed
// from it; a record without gaps (the usual case) is viewed, not copied.
struct Held {
  std::span<const double> value;
  double first = 0.0;                // position of value[0] when there are no gaps
  std::vector<double> gapped;        // positions, only for a record with gaps
  std::vector<double> gappedValues;  // and its values
  Held() = default;
  Held(Held&&) = default;  // a move keeps the vectors' storage, which `value` views
  Held(const Held&) = delete;
  std::size_t Size() const { return value.size(); }
  double Position(std::size_t i) const { return gapped.empty() ? first + static_cast<double>(i) : gapped[i]; }
  // Neighbours in the list are neighbours in the record (no gap between).
  bool Adjacent(std::size_t i) const { return gapped.empty() || gapped[i] - gapped[i - 1] == 1.0; }
};

Held Gather(std::span<const double> volts) {
  Held h;
  std::size_t lo = 0, hi = volts.size();
  while (lo < hi && std::isnan(volts[lo])) ++lo;
  while (hi > lo && std::isnan(volts[hi - 1])) --hi;
  const auto inner = volts.subspan(lo, hi - lo);
  if (std::none_of(inner.begin(), inner.end(), [](double v) { return std::isnan(v); })) {
    h.value = inner;
    h.first = static_cast<double>(lo);
    return h;
  }
  for (std::size_t i = lo; i < hi; ++i)
    if (!std::isnan(volts[i])) {
      h.gapped.push_back(static_cast<double>(i));
      h.gappedValues.push_back(volts[i]);
    }
  h.value = h.gappedValues;
  return h;
}

// Where the signal passes `level` between held neighbours i-1 and i, in
// samples, interpolated.
double CrossingAt(const Held& h, std::size_t i, double level) {
  const double a = h.value[i - 1], b = h.value[i];
  return h.Position(i - 1) + (level - a) / (b - a);
}

// Passages through `middle` that first went beyond the hysteresis bounds
// `low`/`high`: a rising one needs the signal at or below `low` since the last
// falling one, and the other way round. Passages across a gap are not seen.
struct Crossings {
  std::vector<double> rising, falling;  // sample positions
};

Crossings FindCrossings(const Held& h, double low, double middle, double high) {
  Crossings c;
  bool wasLow = false, wasHigh = false;
  for (std::size_t i = 1; i < h.Size(); ++i) {
    const double a = h.value[i - 1], b = h.value[i];
    if (a <= low) wasLow = true;
    if (a >= high) wasHigh = true;
    if (!h.Adjacent(i)) continue;
    if (wasLow && a < middle && b >= middle) {
      c.rising.push_back(CrossingAt(h, i, middle));
      wasLow = false;
    } else if (wasHigh && a > middle && b <= middle) {
      c.falling.push_back(CrossingAt(h, i, middle));
      wasHigh = false;
    }
  }
  return c;
}

// Mean time from one level to the other over every complete edge: an edge
// starts where the signal last left the `from` level and ends where it first
// reaches the `to` level (rising when to > from).
std::optional<double> EdgeTime(const Held& h, double from, double to) {
  const bool rising = to > from;
  const auto beyondFrom = [&](double v) { return rising ? v <= from : v >= from; };
  const auto reachedTo = [&](double v) { return rising ? v >= to : v <= to; };
  std::optional<double> start;  // where the edge left `from`
  double sum = 0.0;
  std::size_t edges = 0;
  for (std::size_t i = 1; i < h.Size(); ++i) {
    const double a = h.value[i - 1], b = h.value[i];
    if (!h.Adjacent(i)) {
      start.reset();
      continue;
    }
    if (beyondFrom(a) && !beyondFrom(b)) start = CrossingAt(h, i, from);
    if (beyondFrom(b)) start.reset();
    if (start && !reachedTo(a) && reachedTo(b)) {
      sum += CrossingAt(h, i, to) - *start;
      ++edges;
      start.reset();
    }
  }
  if (edges == 0) return std::nullopt;
  return sum / static_cast<double>(edges);
}

// The level a pulse settles on in one half of the range: the values around
// the most frequent one, if they hold a good share of that half (a pulse
// spends most of its time there); else the extreme (a sine, a triangle, a
// staircase have no such level).
double SettledLevel(const Held& h, double lo, double hi, bool upper) {
  constexpr int kBins = 256;
  constexpr int kAround = 2;  // bins either side that count as the level (noise)
  const double span = hi - lo;
  if (!(span > 0)) return upper ? hi : lo;
  std::array<std::size_t, kBins> counts{};
  std::array<double, kBins> sums{};
  std::size_t inHalf = 0;
  const auto binOf = [&](double v) { return std::clamp(static_cast<int>((v - lo) / span * kBins), 0, kBins - 1); };
  for (double v : h.value) {
    const int bin = binOf(v);
    if ((bin >= kBins / 2) != upper) continue;
    ++counts[static_cast<std::size_t>(bin)];
    sums[static_cast<std::size_t>(bin)] += v;
    ++inHalf;
  }
  const int from = upper ? kBins / 2 : 0;
  const auto mode =
      static_cast<int>(std::max_element(counts.begin() + from, counts.begin() + from + kBins / 2) - counts.begin());
  std::size_t near = 0;
  double sum = 0.0;
  for (int b = std::max(from, mode - kAround); b <= std::min(from + kBins / 2 - 1, mode + kAround); ++b) {
    near += counts[static_cast<std::size_t>(b)];
    sum += sums[static_cast<std::size_t>(b)];
  }
  if (near == 0 || near * 10 < inHalf * 6) return upper ? hi : lo;
  return sum / static_cast<double>(near);
}

// Solves the symmetric positive definite system m x = b (n by n, row-major)
// by Cholesky; false when m is not positive definite.
bool SolveSymmetric(std::vector<double> m, std::vector<double>& b, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    double d = m[j * n + j];
    for (std::size_t k = 0; k < j; ++k) d -= m[j * n + k] * m[j * n + k];
    if (!(d > 0)) return false;
    d = std::sqrt(d);
    m[j * n + j] = d;
    for (std::size_t i = j + 1; i < n; ++i) {
      double s = m[i * n + j];
      for (std::size_t k = 0; k < j; ++k) s -= m[i * n + k] * m[j * n + k];
      m[i * n + j] = s / d;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < i; ++k) b[i] -= m[i * n + k] * b[k];
    b[i] /= m[i * n + i];
  }
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t k = i + 1; k < n; ++k) b[i] -= m[k * n + i] * b[k];
    b[i] /= m[i * n + i];
  }
  return true;
}

// Least-squares fit of c0 + sum over h of (a_h cos(h w t) + b_h sin(h w t))
// to the held samples, by Gauss-Newton on the coefficients and w together.
// Time runs over [-1, 1] across the record so the columns are of one size.
struct SineFit {
  double omega = 0.0;      // radians per sample
  double deviation = 0.0;  // of omega, from the residuals
};

std::optional<SineFit> FitSine(const Held& h, double omega0, double converterStep) {
  constexpr int kMaxHarmonics = 10;
  constexpr int kMaxIterations = 30;
  const double front = h.Position(0), back = h.Position(h.Size() - 1);
  const double centre = (front + back) / 2.0;
  const double half = std::max(1.0, (back - front) / 2.0);
  // Harmonics stay below half the sample rate.
  const int harmonics = std::clamp(static_cast<int>(std::nextafter(std::numbers::pi / omega0, 0.0)), 1, kMaxHarmonics);
  const std::size_t linear = 2 * static_cast<std::size_t>(harmonics) + 1;
  const std::size_t n = linear + 1;  // and the frequency
  if (h.Size() <= n) return std::nullopt;

  double w = omega0 * half;  // radians per unit of scaled time
  std::vector<double> coef(linear, 0.0);
  std::vector<double> row(n), normal(n * n), rhs(n);
  double residualSquares = 0.0;
  // The columns of sample i at the current w (the last one the derivative
  // by w, which needs the coefficients); returns the model's value.
  const auto columns = [&](std::size_t i) {
    const double t = (h.Position(i) - centre) / half;
    const double c1 = std::cos(w * t), s1 = std::sin(w * t);
    double c = 1.0, s = 0.0, model = coef[0], slope = 0.0;
    row[0] = 1.0;
    for (int k = 1; k <= harmonics; ++k) {
      const double cn = c * c1 - s * s1;
      s = s * c1 + c * s1;
      c = cn;
      const std::size_t a = 2 * static_cast<std::size_t>(k) - 1;
      row[a] = c;
      row[a + 1] = s;
      model += coef[a] * c + coef[a + 1] * s;
      slope += k * t * (coef[a + 1] * c - coef[a] * s);
    }
    row[linear] = slope;
    return model;
  };
  // The normal equations: of the coefficients alone (against the samples),
  // or of all parameters together (against the residuals).
  const auto accumulate = [&](bool withFrequency) {
    const std::size_t cols = withFrequency ? n : linear;
    std::fill(normal.begin(), normal.end(), 0.0);
    std::fill(rhs.begin(), rhs.end(), 0.0);
    residualSquares = 0.0;
    for (std::size_t i = 0; i < h.Size(); ++i) {
      const double model = columns(i);
      const double r = withFrequency ? h.value[i] - model : h.value[i];
      residualSquares += (h.value[i] - model) * (h.value[i] - model);
      for (std::size_t p = 0; p < cols; ++p) {
        rhs[p] += row[p] * r;
        for (std::size_t q = 0; q <= p; ++q) normal[p * cols + q] += row[p] * row[q];
      }
    }
    for (std::size_t p = 0; p < cols; ++p)
      for (std::size_t q = p + 1; q < cols; ++q) normal[p * cols + q] = normal[q * cols + p];
    return cols;
  };

  // The coefficients at the starting frequency, then steps on all together.
  std::size_t cols = accumulate(false);
  std::vector<double> step(rhs.begin(), rhs.begin() + static_cast<std::ptrdiff_t>(cols));
  if (!SolveSymmetric({normal.begin(), normal.begin() + static_cast<std::ptrdiff_t>(cols * cols)}, step, cols))
    return std::nullopt;
  coef = step;
  bool converged = false;
  for (int iteration = 0; iteration < kMaxIterations && !converged; ++iteration) {
    cols = accumulate(true);
    step = rhs;
    if (!SolveSymmetric(normal, step, n)) return std::nullopt;
    for (std::size_t p = 0; p < linear; ++p) coef[p] += step[p];
    w += step[linear];
    // Off by more than a fifth: the start was not near this signal's
    // fundamental (or the harmonics no longer fit below half the rate).
    if (!(std::fabs(w / half - omega0) < 0.2 * omega0)) return std::nullopt;
    converged = std::fabs(step[linear]) <= 1e-10 * std::fabs(w);
  }
  if (!converged) return std::nullopt;

  // How far w moves per volt of each sample's residual: g_i = u . J_i with
  // u the row of the inverse normal matrix that belongs to w.
  accumulate(true);
  std::vector<double> u(n, 0.0);
  u[linear] = 1.0;
  if (!SolveSymmetric(normal, u, n)) return std::nullopt;
  // White residuals give the textbook variance; an 8-bit record has at
  // least its quantisation noise.
  const double dof = static_cast<double>(h.Size() - n);
  const double noise = std::max(residualSquares / dof, converterStep * converterStep / 12.0);
  const double white = noise * u[linear];
  // Residuals that repeat from period to period (quantisation of a signal
  // sampled at nearly a whole number of samples per period) do not average
  // out within a period: sum each period's share first, then square.
  const double samplesPerPeriod = 2 * std::numbers::pi * half / w;
  double blocks = 0.0, share = 0.0, blockEnd = front + samplesPerPeriod;
  for (std::size_t i = 0; i < h.Size(); ++i) {
    if (h.Position(i) >= blockEnd) {
      blocks += share * share;
      share = 0.0;
      while (h.Position(i) >= blockEnd) blockEnd += samplesPerPeriod;
    }
    const double model = columns(i);
    double g = 0.0;
    for (std::size_t p = 0; p < n; ++p) g += u[p] * row[p];
    share += g * (h.value[i] - model);
  }
  blocks += share * share;
  // At nearly a whole number of samples per period (or per two to four
  // periods) the sampling instants sweep only a fraction of a sample
  // spacing through the waveform during the record: the quantiser sees the
  // same few phases again and again, and the record tells less than its
  // length suggests. The variance grows as the swept fraction shrinks.
  const double periods = (back - front) / samplesPerPeriod;
  double swept = 1.0;
  for (int r = 1; r <= 4; ++r) {
    const double perPattern = r * samplesPerPeriod;
    swept = std::min(swept, periods / r * std::fabs(perPattern - std::nearbyint(perPattern)));
  }
  // Noise beyond the quantisation's own, of a step or more, dithers the
  // quantiser: then every phase counts.
  if (converterStep > 0) {
    const double extra = residualSquares / dof - converterStep * converterStep / 12.0;
    swept = std::max(swept, std::sqrt(std::max(0.0, extra)) / converterStep);
  }
  swept = std::clamp(swept, 1e-3, 1.0);
  return SineFit{w / half, std::sqrt(std::max(white, blocks) / swept) / half};
}

std::optional<FrequencyEstimate> EstimateFrequencyOf(const Held& h, double sampleRate, double converterStep,
                                                     double minimumSwing) {
  if (!(sampleRate > 0.0) || !std::isfinite(sampleRate)) return std::nullopt;
  if (h.Size() < 3) return std::nullopt;
  const auto [lo, hi] = std::minmax_element(h.value.begin(), h.value.end());
  const double swing = *hi - *lo;
  if (!(swing >= minimumSwing) || !std::isfinite(swing)) return std::nullopt;
  const double mid = (*hi + *lo) / 2.0;
  // A wide hysteresis: noise near the middle must not count as a period.
  const auto rising = FindCrossings(h, mid - swing / 4.0, mid, mid + swing / 4.0).rising;
  if (rising.size() < 3) return std::nullopt;

  // A periodic signal has periods of one length; noise does not.
  double shortest = rising[1] - rising[0];
  double longest = shortest;
  for (std::size_t i = 2; i < rising.size(); ++i) {
    const double period = rising[i] - rising[i - 1];
    shortest = std::min(shortest, period);
    longest = std::max(longest, period);
  }
  if (longest - shortest > 0.1 * longest + 1.0) return std::nullopt;

  // The crossings fall on sample instants within a converter step, so they
  // only start the fit, which uses every sample.
  const double span = rising.back() - rising.front();
  const double start = static_cast<double>(rising.size() - 1) / span;  // cycles per sample
  if (const auto fit = FitSine(h, 2 * std::numbers::pi * start, converterStep)) {
    const double hertz = fit->omega / (2 * std::numbers::pi) * sampleRate;
    // Never finer than the arithmetic: nine digits.
    const double uncertainty = std::max(3.0 * fit->deviation / (2 * std::numbers::pi) * sampleRate, hertz * 1e-9);
    return FrequencyEstimate{hertz, uncertainty};
  }
  // No fit: the crossings alone, each good to a sample.
  return FrequencyEstimate{start * sampleRate, start * sampleRate * 2.0 / span};
}

}  // namespace

std::optional<FrequencyEstimate> EstimateFrequency(std::span<const double> volts, double sampleRate,
                                                   double converterStep, double minimumSwing) {
  return EstimateFrequencyOf(Gather(volts), sampleRate, converterStep, minimumSwing);
}

Measurements Measure(std::span<const double> volts, double sampleRate, double converterStep) {
  Measurements m;
  const Held h = Gather(volts);
  m.count = h.Size();
  if (h.Size() == 0) return m;
  const auto [lo, hi] = std::minmax_element(h.value.begin(), h.value.end());
  m.minimum = *lo;
  m.maximum = *hi;
  m.peakToPeak = m.maximum - m.minimum;
  long double sum = 0.0L, squares = 0.0L;
  for (double v : h.value) {
    sum += v;
    squares += static_cast<long double>(v) * v;
  }
  const long double n = static_cast<long double>(h.Size());
  const long double mean = sum / n;
  m.mean = static_cast<double>(mean);
  m.rms = static_cast<double>(std::sqrt(squares / n));
  // The variance from the sums can come out a hair below zero for a constant.
  m.acRms = static_cast<double>(std::sqrt(std::max(0.0L, squares / n - mean * mean)));
  m.top = SettledLevel(h, m.minimum, m.maximum, true);
  m.base = SettledLevel(h, m.minimum, m.maximum, false);

  m.frequency = EstimateFrequencyOf(h, sampleRate, converterStep, kLeastFrequencySwing);
  if (m.frequency) m.period = 1.0 / m.frequency->hertz;
  const double amplitude = m.top - m.base;
  if (!(amplitude > 0) || !(sampleRate > 0) || !std::isfinite(sampleRate)) return m;

  m.riseTime = EdgeTime(h, m.base + 0.1 * amplitude, m.base + 0.9 * amplitude);
  m.fallTime = EdgeTime(h, m.base + 0.9 * amplitude, m.base + 0.1 * amplitude);
  if (m.riseTime) *m.riseTime /= sampleRate;
  if (m.fallTime) *m.fallTime /= sampleRate;
  m.overshoot = (m.maximum - m.top) / amplitude * 100.0;

  // Share of each complete period (rising crossing to rising crossing) spent
  // above the middle level.
  const double mid = m.base + amplitude / 2.0;
  const auto c = FindCrossings(h, mid - amplitude / 10.0, mid, mid + amplitude / 10.0);
  double shares = 0.0;
  std::size_t periods = 0;
  auto fall = c.falling.begin();
  for (std::size_t i = 1; i < c.rising.size(); ++i) {
    fall = std::upper_bound(fall, c.falling.end(), c.rising[i - 1]);
    if (fall == c.falling.end() || *fall >= c.rising[i]) continue;
    shares += (*fall - c.rising[i - 1]) / (c.rising[i] - c.rising[i - 1]);
    ++periods;
  }
  if (periods > 0) m.dutyCycle = shares / static_cast<double>(periods) * 100.0;
  return m;
}

int DecimalsFor(double uncertainty, double scale) {
  if (!(uncertainty > 0) || !(scale > 0) || !std::isfinite(uncertainty)) return 0;
  // The last digit is worth the power of ten at or above the uncertainty.
  const double place = std::ceil(std::log10(uncertainty / scale) - 1e-9);
  return place >= 0 ? 0 : static_cast<int>(-place);
}

namespace {

std::optional<double> Always(double v) { return v; }

const Quantity kQuantities[] = {
    {"frequency", "frequency", "Hz",
     [](const Measurements& m) { return m.frequency ? std::optional(m.frequency->hertz) : std::nullopt; },
     ":MEASure:FREQuency"},
    {"period", "period", "s", [](const Measurements& m) { return m.period; }, ":MEASure:PERiod"},
    {"peakToPeak", "p-p", "V", [](const Measurements& m) { return m.count ? Always(m.peakToPeak) : std::nullopt; },
     ":MEASure:VPP"},
    {"minimum", "min", "V", [](const Measurements& m) { return m.count ? Always(m.minimum) : std::nullopt; },
     ":MEASure:VMIN"},
    {"maximum", "max", "V", [](const Measurements& m) { return m.count ? Always(m.maximum) : std::nullopt; },
     ":MEASure:VMAX"},
    {"mean", "mean", "V", [](const Measurements& m) { return m.count ? Always(m.mean) : std::nullopt; },
     ":MEASure:VAVerage"},
    {"rms", "RMS", "V", [](const Measurements& m) { return m.count ? Always(m.rms) : std::nullopt; }, ":MEASure:VRMS"},
    {"acRms", "AC RMS", "V", [](const Measurements& m) { return m.count ? Always(m.acRms) : std::nullopt; },
     ":MEASure:VACRms"},
    {"dutyCycle", "duty cycle", "%", [](const Measurements& m) { return m.dutyCycle; }, ":MEASure:DUTYcycle"},
    {"riseTime", "rise time", "s", [](const Measurements& m) { return m.riseTime; }, ":MEASure:RISetime"},
    {"fallTime", "fall time", "s", [](const Measurements& m) { return m.fallTime; }, ":MEASure:FALLtime"},
    {"overshoot", "overshoot", "%", [](const Measurements& m) { return m.count ? m.overshoot : std::nullopt; },
     ":MEASure:OVERshoot"},
};

}  // namespace

std::span<const Quantity> Quantities() { return kQuantities; }

const Quantity* FindQuantity(const std::string& key) {
  for (const auto& q : kQuantities)
    if (key == q.key) return &q;
  return nullptr;
}

void MeasurementHistory::Add(const Measurements& m) {
  records_.push_back(m);
  while (records_.size() > depth_) records_.pop_front();
}

Spread MeasurementHistory::Of(const Quantity& quantity) const {
  Spread s;
  long double sum = 0.0L, squares = 0.0L;
  for (const auto& m : records_) {
    const auto v = quantity.read(m);
    if (!v || !std::isfinite(*v)) continue;
    if (s.count == 0 || *v < s.minimum) s.minimum = *v;
    if (s.count == 0 || *v > s.maximum) s.maximum = *v;
    sum += *v;
    squares += static_cast<long double>(*v) * *v;
    ++s.count;
  }
  if (s.count == 0) return s;
  const long double n = static_cast<long double>(s.count);
  s.mean = static_cast<double>(sum / n);
  s.deviation = static_cast<double>(std::sqrt(std::max(0.0L, squares / n - (sum / n) * (sum / n))));
  return s;
}

}  // namespace rk350::tools
