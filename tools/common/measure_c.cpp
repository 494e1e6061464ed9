#include "measure_c.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "measurements.h"
#include "summary.h"

namespace {

// What the module's documented conditions say about a figure it left out.
const char* ReasonFor(const rk350::tools::Measurements& m, const std::string& key) {
  if (m.count == 0) return "no position of the record holds a sample";
  if ((key == "frequency" || key == "period") && !m.frequency)
    return "no periodic signal: two full periods of one length and a swing are needed";
  return nullptr;
}

}  // namespace

uint32_t rk350_measure_count(void) { return static_cast<uint32_t>(rk350::tools::Quantities().size()); }

int32_t rk350_measure(const double* volts, uint32_t length, double sample_interval, double full_scale,
                      rk350_measure_figure* figures, uint32_t capacity) {
  if ((volts == nullptr && length > 0) || figures == nullptr || !(sample_interval > 0) ||
      !std::isfinite(sample_interval) || !(full_scale >= 0) || !std::isfinite(full_scale))
    return -1;
  try {
    const double rate = 1.0 / sample_interval;
    // One step of the 8-bit converter, as the summary assumes.
    const auto m = rk350::tools::Measure(std::span<const double>(volts, length), rate, full_scale / 128.0);
    const auto table = rk350::tools::Quantities();
    uint32_t n = 0;
    for (; n < capacity && n < table.size(); ++n) {
      const auto& q = table[n];
      rk350_measure_figure& f = figures[n];
      f = rk350_measure_figure{};
      f.key = q.key;
      f.label = q.label;
      f.unit = q.unit;
      f.uncertainty = std::numeric_limits<double>::quiet_NaN();
      const auto value = q.read(m);
      f.measured = value ? 1 : 0;
      f.value = value.value_or(std::numeric_limits<double>::quiet_NaN());
      if (!value) {
        f.reason = ReasonFor(m, q.key);
        continue;
      }
      // The period is known to the same share as the frequency.
      if (std::strcmp(q.key, "frequency") == 0) f.uncertainty = m.frequency->uncertainty;
      if (std::strcmp(q.key, "period") == 0) f.uncertainty = *value * m.frequency->uncertainty / m.frequency->hertz;
      const std::string text = rk350::capture::FormatFigure(q, m, rate).value_or("");
      std::snprintf(f.text, sizeof f.text, "%s", text.c_str());
    }
    return static_cast<int32_t>(n);
  } catch (...) {
    return -1;  // no exception crosses into a C caller
  }
}
