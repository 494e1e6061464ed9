#include "frame.h"

#include <cmath>

#include "csv_writer.h"

namespace rk350::scope {
namespace {

void Append(std::string& out, double value) {
  if (std::isfinite(value))
    out += capture::FormatNumber(value);
  else
    out += "null";
}

void AppendOptional(std::string& out, const char* key, const std::optional<double>& value) {
  out += std::string("\"") + key + "\":";
  if (value)
    Append(out, *value);
  else
    out += "null";
}

}  // namespace

void HeldRange(const capture::ChannelTrace& trace, std::size_t& first, std::size_t& count) {
  const auto& v = trace.volts;
  std::size_t begin = 0;
  while (begin < v.size() && std::isnan(v[begin])) ++begin;
  std::size_t end = v.size();
  while (end > begin && std::isnan(v[end - 1])) --end;
  first = begin == v.size() ? 0 : begin;
  count = end - begin;
}

const std::string& Frame::Json() const {
  std::call_once(jsonOnce_, [this] {
    std::string& out = json_;
    const auto& r = record;
    out.reserve(64 + r.channels.size() * (r.Length() * 10 + 256));
    out += "{\"sequence\":" + std::to_string(sequence) + ",\"settingsVersion\":" + std::to_string(settingsVersion) +
           ",\"rate\":";
    Append(out, r.sampleRate);
    out += ",\"samples\":" + std::to_string(r.Length()) + ",\"triggerIndex\":" + std::to_string(r.triggerIndex) + ",";
    AppendOptional(out, "triggerLevel", r.triggerLevel);
    out += ",\"triggerChannel\":\"" + r.triggerChannel + "\",\"channels\":[";
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
      const auto& trace = r.channels[c];
      const auto& stats = statistics[c];
      std::size_t first = 0, count = 0;
      HeldRange(trace, first, count);
      out += c == 0 ? "{" : ",{";
      out += "\"name\":\"" + trace.name + "\",\"range\":";
      Append(out, trace.fullScale);
      out += std::string(",\"overrange\":") + (trace.overrange ? "true" : "false");
      out += ",\"held\":[" + std::to_string(first) + "," + std::to_string(count) + "],\"figures\":{";
      AppendOptional(out, "frequency", stats.frequency);
      const bool any = stats.count > 0;
      out += ",";
      AppendOptional(out, "peakToPeak", any ? std::optional(stats.peakToPeak) : std::nullopt);
      out += ",";
      AppendOptional(out, "rms", any ? std::optional(stats.rms) : std::nullopt);
      out += ",";
      AppendOptional(out, "mean", any ? std::optional(stats.mean) : std::nullopt);
      out += "},\"volts\":[";
      for (std::size_t i = 0; i < trace.volts.size(); ++i) {
        if (i != 0) out += ',';
        Append(out, trace.volts[i]);
      }
      out += "]}";
    }
    out += "]}";
  });
  return json_;
}

}  // namespace rk350::scope
