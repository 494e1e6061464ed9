#include "core/frame.h"

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

void FigureHistory::Add(const Frame& frame, Figures& figures) {
  std::lock_guard lock(mutex_);
  const bool newest = frame.sequence > sequence_;
  if (newest) {
    // The statistics start again with new settings or when asked.
    if (reset_.exchange(false) || frame.settingsVersion != settingsVersion_)
      for (auto& h : channels_) h.Reset();
    settingsVersion_ = frame.settingsVersion;
    sequence_ = frame.sequence;
  }
  for (std::size_t c = 0; c < frame.record.channels.size(); ++c) {
    auto& history = channels_[frame.record.channels[c].channel - 1];
    if (newest) history.Add(figures.measurements[c]);
    figures.historyRecords = history.Records();
    auto& spreads = figures.spreads.emplace_back();
    for (const auto& q : tools::Quantities()) spreads.push_back(history.Of(q));
  }
}

const Figures& Frame::Measured() const {
  std::call_once(figuresOnce_, [this] {
    for (const auto& trace : record.channels)
      // One step of the 8-bit converter bounds how well the figures are known.
      figures_.measurements.push_back(tools::Measure(trace.volts, record.sampleRate, trace.fullScale / 128.0));
    if (history) history->Add(*this, figures_);
  });
  return figures_;
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
    out += ",\"triggerChannel\":\"" + r.triggerChannel + "\",\"how\":" + std::to_string(r.how) + ",\"taken\":";
    out += r.taken.empty() ? std::string("null") : "\"" + r.taken + "\"";
    out += ",\"hostTime\":";
    Append(out, std::chrono::duration<double>(hostTime.time_since_epoch()).count());
    out += ",\"channels\":[";
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
      const auto& trace = r.channels[c];
      std::size_t first = 0, count = 0;
      HeldRange(trace, first, count);
      out += c == 0 ? "{" : ",{";
      out += "\"name\":\"" + trace.name + "\",\"range\":";
      Append(out, trace.fullScale);
      out += std::string(",\"overrange\":") + (trace.overrange ? "true" : "false");
      out += ",\"held\":[" + std::to_string(first) + "," + std::to_string(count) + "],\"figures\":{";
      // Every figure of the measurement table, null where the record has none.
      const auto& m = Measured().measurements[c];
      for (const auto& q : tools::Quantities()) {
        if (&q != tools::Quantities().data()) out += ",";
        AppendOptional(out, q.key, q.read(m));
      }
      out += ",";
      AppendOptional(out, "frequencyUncertainty", m.frequency ? std::optional(m.frequency->uncertainty) : std::nullopt);
      const auto& figures = Measured();
      out += "},\"statistics\":{\"records\":" + std::to_string(figures.historyRecords);
      for (std::size_t k = 0; k < tools::Quantities().size() && c < figures.spreads.size(); ++k) {
        const auto& s = figures.spreads[c][k];
        out += std::string(",\"") + tools::Quantities()[k].key + "\":{\"count\":" + std::to_string(s.count) + ",";
        const bool any = s.count > 0;
        AppendOptional(out, "minimum", any ? std::optional(s.minimum) : std::nullopt);
        out += ",";
        AppendOptional(out, "mean", any ? std::optional(s.mean) : std::nullopt);
        out += ",";
        AppendOptional(out, "maximum", any ? std::optional(s.maximum) : std::nullopt);
        out += ",";
        AppendOptional(out, "deviation", any ? std::optional(s.deviation) : std::nullopt);
        out += "}";
      }
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
