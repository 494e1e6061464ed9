#include "summary.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "measurements.h"

namespace rk350::capture {
namespace {

struct Prefix {
  double factor;
  const char* name;
};

Prefix PrefixFor(double value, bool allowSmall) {
  static const Prefix kPrefixes[] = {{1e9, "G"},  {1e6, "M"},         {1e3, "k"}, {1, ""},
                                     {1e-3, "m"}, {1e-6, "\xC2\xB5"}, {1e-9, "n"}};
  const double magnitude = std::fabs(value);
  Prefix chosen{1, ""};
  if (magnitude > 0) {
    for (const auto& p : kPrefixes) {
      if (!allowSmall && p.factor < 1e-3) break;
      chosen = p;
      if (magnitude >= p.factor * 0.9995) break;
    }
  }
  return chosen;
}

std::string Scaled(double value, const char* unit, int digits, bool allowSmall) {
  const Prefix chosen = PrefixFor(value, allowSmall);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g %s%s", digits, value / chosen.factor, chosen.name, unit);
  return buffer;
}

std::string Pad(std::string text, std::size_t width) {
  // Width counts characters, and the micro sign takes two bytes.
  std::size_t shown = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++shown;
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

}  // namespace

std::string FormatRecordWarning(const Record& record) {
  std::string parts;
  auto add = [&](const std::string& part) { parts += (parts.empty() ? "" : "; ") + part; };
  // Channels read together have the same empty positions: say it once.
  std::string names;
  std::size_t empty = 0;
  for (const auto& ch : record.channels) {
    const std::size_t n = Record::EmptyCount(ch);
    if (n == 0) continue;
    if (n != empty && !names.empty()) {
      add(names + ": " + std::to_string(empty) + " of " + std::to_string(record.Length()) +
          " positions hold no sample");
      names.clear();
    }
    names += (names.empty() ? "" : " and ") + ch.name;
    empty = n;
  }
  if (!names.empty()) {
    add(names + ": " + std::to_string(empty) + " of " + std::to_string(record.Length()) +
        " positions hold no sample (left out of the figures, empty in the CSV, shaded in the plot)");
    if (!record.cardTriggerReason.empty()) add(record.cardTriggerReason);
  }
  for (const auto& ch : record.channels) {
    if (ch.overrange)
      add(ch.name + " overranged: the signal reaches the end of the " +
          (ch.fullScale > 0 ? "\xC2\xB1" + FormatVolts(ch.fullScale) + " " : std::string()) +
          "range and may be clipped");
  }
  return parts.empty() ? std::string() : "warning: " + parts + "\n";
}

std::string FormatVolts(double volts) { return Scaled(volts, "V", 4, true); }
std::string FormatHertz(double hertz) { return Scaled(hertz, "Hz", 7, false); }
std::string FormatSeconds(double seconds) { return Scaled(seconds, "s", 4, true); }

std::string FormatMeasured(double value, double uncertainty, const char* unit) {
  const Prefix p = PrefixFor(value, true);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f %s%s", tools::DecimalsFor(uncertainty, p.factor), value / p.factor, p.name,
                unit);
  return buffer;
}

std::string FormatFrequency(const tools::FrequencyEstimate& f) { return FormatMeasured(f.hertz, f.uncertainty, "Hz"); }
std::string FormatPeriod(const tools::FrequencyEstimate& f) {
  // The period is known to the same share as the frequency.
  const double period = 1.0 / f.hertz;
  return FormatMeasured(period, period * f.uncertainty / f.hertz, "s");
}

std::optional<std::string> FormatFigure(const tools::Quantity& quantity, const tools::Measurements& m,
                                        double sampleRate) {
  const auto value = quantity.read(m);
  if (!value) return std::nullopt;
  const std::string key = quantity.key;
  if (key == "frequency") return FormatFrequency(*m.frequency);
  if (key == "period") return FormatPeriod(*m.frequency);
  if (key == "dutyCycle") return Scaled(*value, "%", 3, false);
  if (key == "overshoot") return Scaled(*value, "%", 2, false);
  if (key == "riseTime" || key == "fallTime") {
    // An edge within one sample interval is faster than the record can tell.
    const double interval = 1.0 / sampleRate;
    return *value <= interval ? "< " + FormatSeconds(interval) : FormatSeconds(*value);
  }
  return FormatVolts(*value);
}

std::string FormatSummary(const Record& record) {
  std::string table = Pad("channel", 9) + Pad("range", 10) + Pad("min", 11) + Pad("max", 11) + Pad("mean", 11) +
                      Pad("p-p", 11) + Pad("rms", 11) + Pad("ac rms", 11) + "frequency\n";
  std::string pulses;
  for (const auto& ch : record.channels) {
    // One step of the 8-bit converter: the figures are never known better.
    const auto m = tools::Measure(ch.volts, record.sampleRate, ch.fullScale / 128.0);
    const auto shown = [&](const char* key) {
      return FormatFigure(*tools::FindQuantity(key), m, record.sampleRate).value_or("-");
    };
    table += Pad(ch.name, 9);
    table += Pad(ch.fullScale > 0 ? "\xC2\xB1" + FormatVolts(ch.fullScale) : "-", 10);
    for (const char* key : {"minimum", "maximum", "mean", "peakToPeak", "rms", "acRms"}) table += Pad(shown(key), 11);
    table += shown("frequency");
    table += '\n';
    if (!m.frequency) continue;
    pulses += ch.name + ": period " + shown("period");
    if (m.dutyCycle) pulses += ", duty cycle " + shown("dutyCycle");
    if (m.riseTime) pulses += ", rise " + shown("riseTime");
    if (m.fallTime) pulses += ", fall " + shown("fallTime");
    if (m.overshoot) pulses += ", overshoot " + shown("overshoot");
    pulses += '\n';
  }
  const std::string taken = record.taken.empty() ? std::string() : "taken: " + record.taken + "\n";
  return table + pulses + taken;
}

}  // namespace rk350::capture
