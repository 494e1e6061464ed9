// The scope's settings as JSON: what the page sends and shows. Pure (no
// library calls): a patch is merged onto the current settings and the result
// is read whole, so a request that names an unknown setting or a value out of
// range is refused before anything reaches the card.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
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

nlohmann::json SettingsToJson(const ScopeSettings& settings);
// The settings the card runs other than asked (a rate it rounds, a range it
// rounds up, a generator frequency within its reach): per row its key, the
// value asked, the value in effect and the row's unit; empty when none.
nlohmann::json Adjustments(const ScopeSettings& asked, const ScopeSettings& running);
// A patch that sets one row of the settings table to `value` ({"ch1": {"range": 2}}).
nlohmann::json SettingPatch(const capture::CardSetting& setting, const capture::SettingValue& value);

// The settings table for the page: per setting its key, kind, unit, the
// word for no value, the tools' own limits and a choice's names with their
// labels, so the page builds its controls from it.
nlohmann::json SettingsOffer();
// What the card offers, with the settings table, as /api/offer gives it.
nlohmann::json OfferToJson(const capture::CardOffer& offer);

// How deep arrays and objects nest in JSON text (strings skipped). Settings
// nest three deep; a request nested deeper is refused before it is parsed,
// since copying and comparing JSON values recurses once per level.
int JsonNestingDepth(std::string_view text);
constexpr int kMaxSettingsDepth = 8;

// `patch` onto `base`: objects merge key by key, anything else replaces.
nlohmann::json MergeSettings(nlohmann::json base, const nlohmann::json& patch);

// Reads the settings `json` names onto `base` (the others keep their values,
// so a patch is judged alone: a stop is never refused for another setting);
// on a refusal returns nothing and names the setting and why in `error`.
std::optional<ScopeSettings> SettingsFromJson(const nlohmann::json& json, const ScopeSettings& base,
                                              const capture::CardOffer& offer, std::string& error);

}  // namespace rk350::scope
