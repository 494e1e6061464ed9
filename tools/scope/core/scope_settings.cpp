#include "core/scope_settings.h"

#include <algorithm>
#include <cmath>

#include "core/instrument_state.h"
#include "rk350/rk350.h"
#include "rk350/rk350_sim.h"

namespace rk350::scope {

ScopeSettings DefaultSettings(bool virtualCard) {
  // Built here from a named object: a temporary of the options inlined into
  // the caller trips GCC 12's maybe-uninitialized in Release builds.
  const capture::CardSettings defaults;
  ScopeSettings settings = CompleteSettings(defaults, virtualCard);
  settings.options.generatorGiven = true;
  return settings;
}

ScopeSettings CompleteSettings(const capture::CardSettings& settings, bool virtualCard) {
  ScopeSettings s;
  s.options = settings;
  auto& o = s.options;
  o.preTriggerPercent = o.preTriggerPercent.value_or(o.EffectivePostSamples() == o.recordLength ? 0.0 : 25.0);
  if (o.postSamples)
    o.preTriggerPercent = 100.0 * (o.recordLength - std::min(*o.postSamples, o.recordLength)) / o.recordLength;
  o.postSamples.reset();
  for (auto& ch : o.channels) {
    if (!ch.autoRange) ch.range = ch.range.value_or(2.0);
    ch.coupling = ch.coupling.value_or(RK350_COUPLING_DC);
    ch.dcLevel = ch.dcLevel.value_or(0.0);
  }
  o.triggerMode = o.triggerMode.value_or(RK350_TRIGGER_RISING);
  o.generator.signalType = o.generator.signalType.value_or(RK350_GEN_SINE);
  if (virtualCard) {
    // As the virtual card starts: the generator looped back to CH1.
    if (!o.channels[0].source) o.channels[0].source = capture::SourceOptions{RK350SIM_SOURCE_GENERATOR, 0, 0, 0};
    if (!o.channels[1].source) o.channels[1].source = capture::SourceOptions{};
    if (!o.externalSource) o.externalSource = capture::SourceOptions{};
  }
  return s;
}

std::vector<Adjustment> Adjustments(const ScopeSettings& asked, const ScopeSettings& running) {
  std::vector<Adjustment> adjusted;
  for (const auto& setting : capture::CardSettingsTable()) {
    if (setting.key == nullptr) continue;
    auto want = setting.Get(asked.options), have = setting.Get(running.options);
    if (want == have) continue;
    // The card's figures land within a part in 1e9 of a request it meets.
    const auto* a = std::get_if<double>(&want);
    const auto* b = std::get_if<double>(&have);
    if (a != nullptr && b != nullptr && std::fabs(*a - *b) <= 1e-9 * std::fabs(*a)) continue;
    adjusted.push_back({&setting, std::move(want), std::move(have)});
  }
  return adjusted;
}

SettingsRequest RequestForAll(const ScopeSettings& settings) {
  SettingsRequest request;
  for (const auto& setting : capture::CardSettingsTable())
    if (setting.key != nullptr) request.changes.push_back({&setting, setting.Get(settings.options)});
  request.acquisition = settings.acquisition;
  return request;
}

std::optional<ScopeSettings> ApplyChanges(const SettingsRequest& request, const ScopeSettings& base, bool virtualCard,
                                          std::string& error) {
  ScopeSettings s = base;
  auto& o = s.options;
  if (request.waveform) s.waveform = request.waveform;
  if (request.acquisition) s.acquisition = *request.acquisition;
  bool generatorChanges = false, typeGiven = false;
  for (const auto& [setting, value] : request.changes) {
    const std::string_view key = setting->key != nullptr ? setting->key : "";
    if (setting->kind == capture::SettingKind::Source && !std::holds_alternative<std::monostate>(value) &&
        !virtualCard) {
      error = std::string(key) + ": only the virtual card has built-in sources";
      return std::nullopt;
    }
    if (key.starts_with("generator.")) generatorChanges = generatorChanges || !(setting->Get(o) == value);
    typeGiven = typeGiven || key == "generator.type";
    setting->Set(o, value);
    capture::MarkGiven(o, *setting);
  }
  if ((o.measureMode & RK350_MODE_CH12) == 0) {
    error = "ch1.on, ch2.on: at least one channel is measured";
    return std::nullopt;
  }
  if (typeGiven && o.generator.signalType == RK350_GEN_ARBITRARY && s.waveform == nullptr) {
    error = "generator.type arbitrary: no waveform is loaded (SCPI :SOURce:ARBitrary:DATA)";
    return std::nullopt;
  }
  // The page shows the generator's settings: once one changes they are the card's.
  o.generatorGiven = base.options.generatorGiven || generatorChanges;
  return s;
}

}  // namespace rk350::scope
