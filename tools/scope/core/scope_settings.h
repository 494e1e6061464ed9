// The scope's settings: the card's, the generator's waveform and run, stop or
// single. Pure (no library calls): a request's changes go onto the current
// settings and the result is judged whole, so a request that asks for what
// no card can do is refused before anything reaches the card.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card_offer.h"
#include "options.h"

namespace rk350::scope {

enum class Acquisition { Run, Stop, Single };

struct ScopeSettings {
  capture::CardSettings options;  // the card's settings
  // The generator's arbitrary waveform, as FillFuncGenMemory takes it (not
  // part of the JSON: it comes as a SCPI block).
  std::shared_ptr<const std::vector<std::uint16_t>> waveform;
  Acquisition acquisition = Acquisition::Run;
};

// Settings as the command line leaves them, completed with the values the
// scope always sets (so the JSON shows every setting), e.g. the built-in
// sources of the virtual card.
ScopeSettings CompleteSettings(const capture::CardSettings& settings, bool virtualCard);
inline ScopeSettings CompleteSettings(const capture::CaptureOptions& options, bool virtualCard) {
  return CompleteSettings(options.settings, virtualCard);
}
// The settings of a scope started without options (*RST), the generator's
// among them.
ScopeSettings DefaultSettings(bool virtualCard);

// One row of the settings table and its value, its form already checked by
// the surface that read it (the library judges the rest).
struct SettingChange {
  const capture::CardSetting* setting = nullptr;
  capture::SettingValue value;
};

struct SettingsRequest {
  std::vector<SettingChange> changes = {};  // applied in this order
  std::optional<Acquisition> acquisition = {};
  std::shared_ptr<const std::vector<std::uint16_t>> waveform = {};  // null: keep the one in force
};

// A value the card runs other than asked (a rate it rounds, a range rounded up).
struct Adjustment {
  const capture::CardSetting* setting = nullptr;
  capture::SettingValue asked;
  capture::SettingValue running;
};

// The request's changes onto `base` (the other settings keep their values, so
// a request is judged alone: a stop is never refused for another setting).
// The values' form was checked where they were read; here what the settings
// as a whole must be (a channel measured, a waveform for the arbitrary
// type, built-in sources on the virtual card only). On a refusal returns
// nothing and names the setting and why in `error`.
std::optional<ScopeSettings> ApplyChanges(const SettingsRequest& request, const ScopeSettings& base, bool virtualCard,
                                          std::string& error);
// The rows whose value the card runs other than asked.
std::vector<Adjustment> Adjustments(const ScopeSettings& asked, const ScopeSettings& running);
// Every row of `settings` as a change: a request that sets them all (*RST).
SettingsRequest RequestForAll(const ScopeSettings& settings);

}  // namespace rk350::scope
