#include "scope_settings.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "rk350/rk350.h"
#include "trigger_sources.h"

namespace rk350::scope {
namespace {

using capture::CaptureOptions;
using nlohmann::json;

constexpr const char* kAcquisitions[] = {"run", "stop", "single"};
constexpr const char* kSlopes[] = {"rising", "falling"};
constexpr const char* kCouplings[] = {"dc", "ac"};
// In the order of the header's codes; "arbitrary" plays the loaded waveform.
constexpr const char* kSignalTypes[] = {"sine", "triangle", "square", "dc", "noise", "arbitrary"};
constexpr int kMaxAverage = 1000;

// A value as an error message shows it: scalars as JSON, structures by kind
// (their text may be long, and deeply nested).
std::string Shown(const json& v) {
  if (v.is_array()) return "an array";
  if (v.is_object()) return "an object";
  return v.dump();
}

// A refusal while reading: the path of the setting and why.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads one JSON object, knowing the path that leads to it; every key must be
// read, so a key nobody asked for is an unknown setting.
class Reader {
 public:
  Reader(const json& object, std::string path) : object_(object), path_(std::move(path)) {
    if (!object_.is_object()) throw Refusal(Where("") + "is not an object");
  }

  void CheckAllKnown(std::initializer_list<const char*> keys) const {
    for (const auto& item : object_.items()) {
      bool known = false;
      for (const char* k : keys) known = known || item.key() == k;
      if (!known) throw Refusal("unknown setting '" + Where(item.key()) + "'");
    }
  }

  const json* Find(const char* key) const {
    const auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }

  double Number(const char* key, double current, double lowest, double highest) const {
    const json* v = Find(key);
    if (v == nullptr) return current;
    if (!v->is_number()) throw Refusal(Where(key) + " is not a number");
    const double d = v->get<double>();
    if (!std::isfinite(d) || d < lowest || d > highest)
      throw Refusal(Where(key) + " " + v->dump() + " lies outside " + Text(lowest) + " .. " + Text(highest));
    return d;
  }

  std::int64_t Integer(const char* key, std::int64_t current, std::int64_t lowest, std::int64_t highest) const {
    const json* v = Find(key);
    if (v == nullptr) return current;
    if (!v->is_number_integer()) throw Refusal(Where(key) + " is not a whole number");
    const auto n = v->get<std::int64_t>();
    if (n < lowest || n > highest)
      throw Refusal(Where(key) + " " + v->dump() + " lies outside " + std::to_string(lowest) + " .. " +
                    std::to_string(highest));
    return n;
  }

  bool Boolean(const char* key, bool current) const {
    const json* v = Find(key);
    if (v == nullptr) return current;
    if (!v->is_boolean()) throw Refusal(Where(key) + " is not true or false");
    return v->get<bool>();
  }

  // One of the names; returns its index.
  template <std::size_t N>
  int Choice(const char* key, int current, const char* const (&names)[N]) const {
    const json* v = Find(key);
    if (v == nullptr) return current;
    if (v->is_string()) {
      for (std::size_t i = 0; i < N; ++i)
        if (v->get<std::string>() == names[i]) return static_cast<int>(i);
    }
    std::string list;
    for (const char* n : names) list += std::string(list.empty() ? "" : ", ") + n;
    throw Refusal(Where(key) + " " + Shown(*v) + " is none of " + list);
  }

  std::string Where(const std::string& key) const {
    return path_.empty() ? key : key.empty() ? path_ : path_ + "." + key;
  }

 private:
  static std::string Text(double d) {
    std::string s = json(d).dump();
    return s;
  }
  const json& object_;
  std::string path_;
};

json SourceJson(const std::optional<capture::SourceOptions>& source) {
  return source ? json(capture::FormatSource(*source)) : json(nullptr);
}

std::optional<capture::SourceOptions> ReadSource(const Reader& r, const char* key,
                                                 const std::optional<capture::SourceOptions>& current,
                                                 bool virtualCard) {
  const json* v = r.Find(key);
  if (v == nullptr) return current;
  if (v->is_null()) return std::nullopt;
  if (!virtualCard) throw Refusal(r.Where(key) + ": only the virtual card has built-in sources");
  if (!v->is_string()) throw Refusal(r.Where(key) + " is not a source such as \"square:0.5:250\"");
  const auto source = capture::ParseSource(v->get<std::string>());
  if (!source) {
    const std::string beyond = capture::NonFiniteNumberIn(v->get<std::string>());
    throw Refusal(
        r.Where(key) + " " + Shown(*v) +
        (beyond.empty() ? " is not a source such as \"square:0.5:250\"" : ": " + beyond + " is not a finite number"));
  }
  return source;
}

void ReadChannel(const json& object, int c, CaptureOptions& o, const CardLimits& limits, bool& on) {
  const Reader r(object, "ch" + std::to_string(c + 1));
  r.CheckAllKnown({"on", "range", "coupling", "dcLevel", "source"});
  auto& ch = o.channels[c];
  on = r.Boolean("on", on);
  if (const json* range = r.Find("range")) {
    if (range->is_string() && range->get<std::string>() == "auto") {
      ch.autoRange = true;
    } else {
      const double v = r.Number("range", 0.0, 0.0, 1e6);
      bool offered = false;
      for (double offer : limits.ranges) offered = offered || std::fabs(offer - v) <= 1e-9 * offer;
      if (!offered) throw Refusal(r.Where("range") + " " + range->dump() + " is not a range this card offers");
      ch.range = v;
      ch.autoRange = false;
    }
  }
  ch.coupling = r.Choice("coupling", ch.coupling.value_or(0), kCouplings);
  // The library judges the DC level against the range (and is asked).
  ch.dcLevel = r.Number("dcLevel", ch.dcLevel.value_or(0.0), -1e3, 1e3);
  ch.source = ReadSource(r, "source", ch.source, limits.virtualCard);
}

void ReadTrigger(const json& object, CaptureOptions& o) {
  const Reader r(object, "trigger");
  r.CheckAllKnown({"source", "slope", "level", "hysteresis", "timeout"});
  if (const json* source = r.Find("source")) {
    const auto code = source->is_string() ? capture::TriggerSourceCode(source->get<std::string>()) : std::nullopt;
    if (!code) {
      std::string list;
      for (const auto& s : capture::TriggerSources()) list += std::string(list.empty() ? "" : ", ") + s.name;
      throw Refusal("trigger.source " + Shown(*source) + " is none of " + list);
    }
    o.triggerSource = *code;
  }
  if (const json* slope = r.Find("slope"); slope != nullptr && slope->is_number_integer()) {
    o.triggerMode = static_cast<int>(r.Integer("slope", 0, 0, 6));  // the library's mode numbers
  } else {
    o.triggerMode = r.Choice("slope", o.triggerMode.value_or(0), kSlopes);
  }
  o.triggerLevel = r.Number("level", o.triggerLevel, -1e3, 1e3);
  if (const json* h = r.Find("hysteresis"))
    o.triggerHysteresis = h->is_null() ? std::nullopt : std::optional<double>(r.Number("hysteresis", 0, 0, 1e3));
  if (const json* t = r.Find("timeout"))
    o.triggerTimeoutMs =
        t->is_null() ? std::nullopt : std::optional<std::uint32_t>(r.Integer("timeout", 0, 0, 0xFFFFFFFEll));
}

void ReadGenerator(const json& object, CaptureOptions& o, const CardLimits& limits, bool waveformLoaded) {
  const Reader r(object, "generator");
  r.CheckAllKnown({"on", "type", "frequency", "amplitude", "offset", "symmetry"});
  auto& g = o.generator;
  g.off = !r.Boolean("on", !g.off);
  g.signalType = r.Choice("type", g.signalType.value_or(RK350_GEN_SINE), kSignalTypes);
  if (g.signalType == RK350_GEN_ARBITRARY && !waveformLoaded)
    throw Refusal("generator.type arbitrary: no waveform is loaded (SCPI :SOURce:ARBitrary:DATA)");
  g.frequency = r.Number("frequency", g.frequency, 1e-3, 5e6);
  g.amplitude = r.Number("amplitude", g.amplitude, 0.0, limits.maxGeneratorAmplitude);
  g.offset = r.Number("offset", g.offset, -10.0, 10.0);
  g.symmetry = r.Number("symmetry", g.symmetry, 0.0, 100.0);
}

}  // namespace

ScopeSettings CompleteSettings(const CaptureOptions& options, bool virtualCard) {
  ScopeSettings s;
  s.options = options;
  auto& o = s.options;
  o.mode = capture::RunMode::Continuous;
  o.preTriggerPercent = o.preTriggerPercent.value_or(o.EffectivePostSamples() == o.recordLength ? 0.0 : 25.0);
  if (o.postSamples)
    o.preTriggerPercent = 100.0 * (o.recordLength - std::min(*o.postSamples, o.recordLength)) / o.recordLength;
  o.postSamples.reset();
  for (auto& ch : o.channels) {
    if (!ch.autoRange) ch.range = ch.range.value_or(2.0);
    ch.coupling = ch.coupling.value_or(0);
    ch.dcLevel = ch.dcLevel.value_or(0.0);
  }
  o.triggerMode = o.triggerMode.value_or(0);
  o.generator.signalType = o.generator.signalType.value_or(RK350_GEN_SINE);
  if (virtualCard) {
    // As the virtual card starts: the generator looped back to CH1.
    if (!o.channels[0].source) o.channels[0].source = capture::SourceOptions{7, 0, 0, 0};
    if (!o.channels[1].source) o.channels[1].source = capture::SourceOptions{};
    if (!o.externalSource) o.externalSource = capture::SourceOptions{};
  }
  return s;
}

json SettingsToJson(const ScopeSettings& s) {
  const auto& o = s.options;
  json j;
  j["acquisition"] = kAcquisitions[static_cast<int>(s.acquisition)];
  j["rate"] = o.sampleRate;
  j["samples"] = o.recordLength;
  j["preTrigger"] = o.preTriggerPercent.value_or(25.0);
  j["average"] = o.average;
  for (int c = 0; c < 2; ++c) {
    const auto& ch = o.channels[c];
    j["ch" + std::to_string(c + 1)] = {
        {"on", (o.measureMode & (c + 1)) != 0},
        {"range", ch.autoRange ? json("auto") : json(ch.range.value_or(2.0))},
        {"coupling", kCouplings[ch.coupling.value_or(0) == 1 ? 1 : 0]},
        {"dcLevel", ch.dcLevel.value_or(0.0)},
        {"source", SourceJson(ch.source)},
    };
  }
  j["ext"] = {{"source", SourceJson(o.externalSource)}};
  const auto* source = capture::FindTriggerSource(o.triggerSource);
  const int mode = o.triggerMode.value_or(0);
  j["trigger"] = {
      {"source", source != nullptr ? json(source->name) : json(o.triggerSource)},
      {"slope", mode <= 1 ? json(kSlopes[mode]) : json(mode)},
      {"level", o.triggerLevel},
      {"hysteresis", o.triggerHysteresis ? json(*o.triggerHysteresis) : json(nullptr)},
      {"timeout", o.triggerTimeoutMs ? json(*o.triggerTimeoutMs) : json(nullptr)},
  };
  const auto& g = o.generator;
  j["generator"] = {
      {"on", !g.off},
      {"type", kSignalTypes[std::min(RK350_GEN_ARBITRARY, std::max(0, g.signalType.value_or(0)))]},
      {"frequency", g.frequency},
      {"amplitude", g.amplitude},
      {"offset", g.offset},
      {"symmetry", g.symmetry},
  };
  return j;
}

int JsonNestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;  // the escaped character
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

json MergeSettings(json base, const json& patch) {
  if (!base.is_object() || !patch.is_object()) return patch;
  for (const auto& item : patch.items()) {
    auto it = base.find(item.key());
    if (it != base.end() && it->is_object() && item.value().is_object())
      *it = MergeSettings(*it, item.value());
    else
      base[item.key()] = item.value();
  }
  return base;
}

std::optional<ScopeSettings> SettingsFromJson(const json& j, const ScopeSettings& base, const CardLimits& limits,
                                              std::string& error) {
  ScopeSettings s = base;
  auto& o = s.options;
  try {
    const Reader r(j, "");
    r.CheckAllKnown(
        {"acquisition", "rate", "samples", "preTrigger", "average", "ch1", "ch2", "ext", "trigger", "generator"});
    s.acquisition = static_cast<Acquisition>(r.Choice("acquisition", static_cast<int>(s.acquisition), kAcquisitions));
    o.sampleRate = r.Number("rate", o.sampleRate, 1e-6, 1e9);
    if (!(o.sampleRate > 0)) throw Refusal("rate must be above 0");
    o.recordLength = static_cast<std::uint32_t>(r.Integer("samples", o.recordLength, 1, limits.maxRecordLength));
    o.preTriggerPercent = r.Number("preTrigger", o.preTriggerPercent.value_or(25.0), 0.0, 100.0);
    o.average = static_cast<int>(r.Integer("average", o.average, 1, kMaxAverage));
    bool on[2] = {(o.measureMode & 1) != 0, (o.measureMode & 2) != 0};
    for (int c = 0; c < 2; ++c)
      if (const json* ch = r.Find(c == 0 ? "ch1" : "ch2")) ReadChannel(*ch, c, o, limits, on[c]);
    if (!on[0] && !on[1]) throw Refusal("ch1.on, ch2.on: at least one channel is measured");
    o.measureMode = (on[0] ? 1 : 0) | (on[1] ? 2 : 0);
    if (const json* ext = r.Find("ext")) {
      const Reader e(*ext, "ext");
      e.CheckAllKnown({"source"});
      o.externalSource = ReadSource(e, "source", o.externalSource, limits.virtualCard);
    }
    if (const json* trigger = r.Find("trigger")) ReadTrigger(*trigger, o);
    if (const json* generator = r.Find("generator")) {
      ReadGenerator(*generator, o, limits, s.waveform != nullptr);
      // The page shows the generator's settings: from now on they are the card's.
      const json before = SettingsToJson(base)["generator"];
      o.generatorGiven = o.generatorGiven || MergeSettings(before, *generator) != before;
    }
  } catch (const Refusal& refusal) {
    error = refusal.what();
    return std::nullopt;
  }
  return s;
}

}  // namespace rk350::scope
