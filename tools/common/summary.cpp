#include "summary.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "statistics.h"

namespace rk350::capture {
namespace {

std::string Scaled(double value, const char* unit, int digits, bool allowMicro) {
  struct Prefix {
    double factor;
    const char* name;
  };
  static const Prefix kPrefixes[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}, {1e-6, "\xC2\xB5"}};
  const double magnitude = std::fabs(value);
  Prefix chosen{1, ""};
  if (magnitude > 0) {
    for (const auto& p : kPrefixes) {
      if (!allowMicro && p.factor < 1e-3) break;
      chosen = p;
      if (magnitude >= p.factor * 0.9995) break;
    }
  }
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

std::string FormatSummary(const Record& record) {
  std::string out = Pad("channel", 9) + Pad("range", 10) + Pad("min", 11) + Pad("max", 11) + Pad("mean", 11) +
                    Pad("p-p", 11) + Pad("rms", 11) + "frequency\n";
  for (const auto& ch : record.channels) {
    const auto s = ComputeStatistics(ch.volts, record.sampleRate);
    out += Pad(ch.name, 9);
    out += Pad(ch.fullScale > 0 ? "\xC2\xB1" + FormatVolts(ch.fullScale) : "-", 10);
    out += Pad(FormatVolts(s.minimum), 11) + Pad(FormatVolts(s.maximum), 11) + Pad(FormatVolts(s.mean), 11) +
           Pad(FormatVolts(s.peakToPeak), 11) + Pad(FormatVolts(s.rms), 11);
    out += s.frequency ? FormatHertz(*s.frequency) : "-";
    out += '\n';
  }
  if (!record.taken.empty()) out += "taken: " + record.taken + "\n";
  return out;
}

}  // namespace rk350::capture
