// The scope's settings as JSON: what the page sends and shows. A patch
// becomes changes of the settings table's rows (the form of each value and
// the tools' own limits checked here), a snapshot of the instrument becomes
// the state the page shows. Only the HTTP side speaks JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/instrument_state.h"
#include "core/scope_settings.h"

namespace rk350::scope {

nlohmann::json SettingsToJson(const ScopeSettings& settings);
// A setting's value as JSON has it, by its row's kind.
nlohmann::json ValueToJson(const capture::CardSetting& setting, const capture::SettingValue& value);
// Per adjusted row its key, the value asked, the value in effect and the
// row's unit.
nlohmann::json AdjustmentsToJson(const std::vector<Adjustment>& adjusted);
// The state as GET /api/settings answers it: settings, version, reached, run.
nlohmann::json SnapshotToJson(const Snapshot& snapshot);
// What the card offers, with the settings table and who it is, as /api/offer gives it.
nlohmann::json InstrumentOfferToJson(const InstrumentOffer& offer);
// A patch as changes, in the table's order: each value's form and the
// tools' own limits checked; on a refusal nothing, with why in `error`.
std::optional<SettingsRequest> RequestFromJson(const nlohmann::json& patch, std::string& error);
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

// RequestFromJson, then ApplyChanges.
std::optional<ScopeSettings> SettingsFromJson(const nlohmann::json& json, const ScopeSettings& base,
                                              const capture::CardOffer& offer, std::string& error);

}  // namespace rk350::scope
