#include "core/scope_settings_json.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/instrument_state.h"
#include "measurements.h"
#include "rk350/rk350.h"
#include "rk350/rk350_sim.h"
#include "trigger_sources.h"

namespace rk350::scope {
namespace {

using nlohmann::json;

constexpr const char* kAcquisitions[] = {"run", "stop", "single"};

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

}  // namespace

json ValueToJson(const capture::CardSetting& setting, const capture::SettingValue& value) {
  if (std::holds_alternative<std::monostate>(value))
    return setting.wordInJson && setting.none != nullptr ? json(setting.none) : json(nullptr);
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  const double number = std::get<double>(value);
  switch (setting.kind) {
    case capture::SettingKind::Flag:
      return number != 0;
    case capture::SettingKind::Integer:
      return static_cast<std::int64_t>(number);
    case capture::SettingKind::Choice:
      if (const auto* choice = capture::FindChoice(setting, static_cast<int>(number))) return choice->name;
      return static_cast<std::int64_t>(number);
    default:
      return number;
  }
}

namespace {

// A JSON value read by its row's kind: the form only; what the card can do
// is the library's to judge.
capture::SettingValue FromJson(const capture::CardSetting& setting, const json& v) {
  const std::string key = setting.key;
  const bool none = v.is_null() ||
                    (setting.none != nullptr && v.is_string() && capture::SameWord(v.get<std::string>(), setting.none));
  const bool mayBeNone = setting.none != nullptr || setting.kind == capture::SettingKind::Source;
  if (none && mayBeNone) return {};
  const auto number = [&] {
    const double d = v.get<double>();
    if (auto why = capture::CheckSettingNumber(setting, d); !why.empty())
      throw Refusal(key + " " + Shown(v) + " " + why);
    return capture::SettingValue(d);
  };
  // Text is read as the command line reads it ("10k", "2s", "500ms"): one
  // reading of numbers for every surface.
  const bool numeric = setting.kind == capture::SettingKind::Quantity || setting.kind == capture::SettingKind::Integer;
  if (numeric && v.is_string()) {
    std::string why;
    if (const auto value = capture::ParseSettingText(setting, v.get<std::string>(), why)) return *value;
    throw Refusal(key + ": " + why);
  }
  switch (setting.kind) {
    case capture::SettingKind::Quantity:
      if (!v.is_number())
        throw Refusal(key + " is not a number" +
                      (setting.none != nullptr ? std::string(" or \"") + setting.none + "\"" : std::string()));
      return number();
    case capture::SettingKind::Integer:
      if (!v.is_number())
        throw Refusal(key + " is not a number" +
                      (setting.none != nullptr ? std::string(" or \"") + setting.none + "\"" : std::string()));
      return number();  // 1500.0 is the whole number 1500; 1500.5 is refused there
    case capture::SettingKind::Choice:
      if (v.is_string())
        if (const auto* choice = capture::FindChoice(setting, v.get<std::string>()))
          return static_cast<double>(choice->code);
      if (setting.codesToo && v.is_number_integer() && v.get<std::int64_t>() >= 0 && v.get<std::int64_t>() <= 255)
        return static_cast<double>(v.get<std::int64_t>());
      throw Refusal(key + " " + Shown(v) + " is none of " + capture::ChoiceNames(setting));
    case capture::SettingKind::Flag:
      if (!v.is_boolean()) throw Refusal(key + " is not true or false");
      return v.get<bool>() ? 1.0 : 0.0;
    case capture::SettingKind::Source: {
      const auto source = v.is_string() ? capture::ParseSource(v.get<std::string>()) : std::nullopt;
      if (!source) {
        const std::string beyond = v.is_string() ? capture::NonFiniteNumberIn(v.get<std::string>()) : "";
        throw Refusal(key + " " + Shown(v) +
                      (beyond.empty() ? " is not a source such as \"square:0.5:250\""
                                      : ": " + beyond + " is not a finite number"));
      }
      return capture::FormatSource(*source);
    }
  }
  throw Refusal(key + " cannot be read");
}

// The value at a dotted key, or null when the JSON has none there.
const json* At(const json& object, const std::string& key) {
  const json* at = &object;
  std::string::size_type start = 0;
  while (true) {
    const auto dot = key.find('.', start);
    const std::string part = key.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!at->is_object()) return nullptr;
    const auto it = at->find(part);
    if (it == at->end()) return nullptr;
    at = &*it;
    if (dot == std::string::npos) return at;
    start = dot + 1;
  }
}

// Every key of `object` must be a setting or lead to settings.
void CheckAllKnown(const json& object, const std::string& path) {
  if (!object.is_object()) throw Refusal(path + " is not an object");
  for (const auto& item : object.items()) {
    const std::string key = path.empty() ? item.key() : path + "." + item.key();
    if (path.empty() && key == "acquisition") continue;
    if (capture::FindSettingByKey(key) != nullptr) continue;
    bool leads = false;
    for (const auto& setting : capture::CardSettingsTable())
      leads = leads || (setting.key != nullptr && std::string_view(setting.key).starts_with(key + "."));
    if (!leads) throw Refusal("unknown setting '" + key + "'");
    CheckAllKnown(item.value(), key);
  }
}

// Sets `value` at a dotted key, making the objects on the way.
void Put(json& object, const std::string& key, json value) {
  json* at = &object;
  std::string::size_type start = 0;
  for (auto dot = key.find('.'); dot != std::string::npos; dot = key.find('.', start)) {
    at = &(*at)[key.substr(start, dot - start)];
    start = dot + 1;
  }
  (*at)[key.substr(start)] = std::move(value);
}

}  // namespace

json SettingsToJson(const ScopeSettings& s) {
  json j;
  j["acquisition"] = kAcquisitions[static_cast<int>(s.acquisition)];
  for (const auto& setting : capture::CardSettingsTable())
    if (setting.key != nullptr) Put(j, setting.key, ValueToJson(setting, setting.Get(s.options)));
  return j;
}

json AdjustmentsToJson(const std::vector<Adjustment>& adjusted) {
  json list = json::array();
  for (const auto& a : adjusted)
    list.push_back({{"key", a.setting->key},
                    {"asked", ValueToJson(*a.setting, a.asked)},
                    {"running", ValueToJson(*a.setting, a.running)},
                    {"unit", a.setting->unit}});
  return list;
}

json SnapshotToJson(const Snapshot& snapshot) {
  const Reached& r = snapshot.reached;
  json reached = {{"rate", r.rate},
                  {"arbitraryPoints", r.arbitraryPoints},
                  {"samples", r.samples},
                  {"preSamples", r.preSamples},
                  {"measureMode", r.measureMode}};
  if (r.generatorFrequency) reached["generatorFrequency"] = *r.generatorFrequency;
  for (std::size_t c = 0; c < r.ranges.size(); ++c)
    if (r.ranges[c]) reached["ch" + std::to_string(c + 1) + "Range"] = *r.ranges[c];
  json run = nullptr;
  if (snapshot.run.phase == RunState::Phase::Acquiring)
    run = {{"phase", "acquiring"}, {"seconds", snapshot.run.seconds}, {"runSeconds", snapshot.run.runSeconds}};
  else if (snapshot.run.phase == RunState::Phase::Waiting)
    run = {{"phase", "waiting"}, {"seconds", snapshot.run.seconds}};
  return {{"settings", SettingsToJson(snapshot.settings)},
          {"version", snapshot.version},
          {"reached", std::move(reached)},
          {"run", std::move(run)}};
}

json InstrumentOfferToJson(const InstrumentOffer& offer) {
  json j = OfferToJson(offer.card);
  j["card"] = offer.identity;
  j["serial"] = offer.serial ? json(*offer.serial) : json(nullptr);
  j["libraryVersion"] = offer.libraryVersion;
  return j;
}

json SettingPatch(const capture::CardSetting& setting, const capture::SettingValue& value) {
  json patch = json::object();
  Put(patch, setting.key, ValueToJson(setting, value));
  return patch;
}

json SettingsOffer() {
  static const char* const kKinds[] = {"quantity", "integer", "choice", "flag", "source"};
  json offer = json::array();
  for (const auto& setting : capture::CardSettingsTable()) {
    if (setting.key == nullptr) continue;
    json row = {{"key", setting.key},
                {"kind", kKinds[static_cast<int>(setting.kind)]},
                {"unit", setting.unit},
                {"none", setting.none != nullptr ? json(setting.none) : json(nullptr)},
                {"help", capture::SettingHelp(setting)}};
    if (std::isfinite(setting.lowest)) row["lowest"] = setting.lowest;
    if (std::isfinite(setting.highest)) row["highest"] = setting.highest;
    if (setting.aboveLowest) row["aboveLowest"] = true;
    if (setting.kind == capture::SettingKind::Choice || setting.kind == capture::SettingKind::Source) {
      json choices = json::array();
      for (const auto& choice : setting.choices)
        if (choice.label != nullptr)
          choices.push_back({{"name", choice.name}, {"code", choice.code}, {"label", choice.label}});
      row["choices"] = std::move(choices);
    }
    offer.push_back(std::move(row));
  }
  return offer;
}

json OfferToJson(const capture::CardOffer& offer) {
  json rates = json::array();
  for (const auto& r : offer.rates) rates.push_back({{"rate", r.reached}, {"ch1Only", r.ch1Only}});
  json sources = json::array();
  const auto known = capture::TriggerSources();
  for (std::size_t i = 0; i < known.size() && i < offer.triggerSources.size(); ++i)
    sources.push_back({{"name", known[i].name}, {"label", known[i].label}, {"offered", offer.triggerSources[i]}});
  // The figures of each record as people read them ("AC RMS"), for the page's tables.
  json measurements = json::array();
  for (const auto& q : tools::Quantities())
    measurements.push_back({{"key", q.key}, {"label", q.label}, {"unit", q.unit}});
  return {
      {"virtualCard", offer.virtualCard},
      {"ranges", offer.ranges},
      {"rates", rates},
      {"maxSamples", offer.maxSamples},
      {"triggerSources", sources},
      {"generator",
       {{"present", offer.generator},
        {"maxAmplitude", offer.maxGeneratorAmplitude},
        {"maxFrequency", capture::kGeneratorTopFrequency}}},
      {"sourceKinds", capture::SourceKindNames()},
      {"settings", SettingsOffer()},
      {"measurements", std::move(measurements)},
  };
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

std::optional<SettingsRequest> RequestFromJson(const json& j, std::string& error) {
  if (!j.is_object()) {
    error = "the settings are a JSON object";
    return std::nullopt;
  }
  SettingsRequest request;
  try {
    CheckAllKnown(j, "");
    if (const json* acquisition = At(j, "acquisition")) {
      int found = -1;
      for (int i = 0; i < 3; ++i)
        if (acquisition->is_string() && acquisition->get<std::string>() == kAcquisitions[i]) found = i;
      if (found < 0) throw Refusal("acquisition " + Shown(*acquisition) + " is none of run, stop, single");
      request.acquisition = static_cast<Acquisition>(found);
    }
    for (const auto& setting : capture::CardSettingsTable())
      if (setting.key != nullptr)
        if (const json* v = At(j, setting.key)) request.changes.push_back({&setting, FromJson(setting, *v)});
  } catch (const Refusal& refusal) {
    error = refusal.what();
    return std::nullopt;
  }
  return request;
}

std::optional<ScopeSettings> SettingsFromJson(const json& j, const ScopeSettings& base, const capture::CardOffer& offer,
                                              std::string& error) {
  const auto request = RequestFromJson(j, error);
  if (!request) return std::nullopt;
  return ApplyChanges(*request, base, offer.virtualCard, error);
}

}  // namespace rk350::scope
