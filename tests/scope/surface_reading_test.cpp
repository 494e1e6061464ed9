// One reading of numbers, units and names for every surface: the same text
// through the command line, the JSON API (as a string) and SCPI gives the
// same value of the settings table, or is refused by all three.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card_settings.h"
#include "core/scope_settings_json.h"
#include "options.h"
#include "scpi/scpi_parser.h"
#include "scpi/scpi_settings.h"

using namespace rk350;

namespace {

struct Case {
  const char* key;
  const char* text;             // as the command line and JSON take it
  std::optional<double> value;  // the table's value (its unit); nothing: refused; NaN: the row's none word
  const char* scpi;             // as SCPI writes it, when that differs (SCPI's time-out is in seconds)
};

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

const Case kCases[] = {
    {"trigger.timeout", "2s", 2000, nullptr},
    {"trigger.timeout", "500ms", 500, nullptr},
    {"trigger.timeout", "1.5s", 1500, nullptr},
    {"trigger.timeout", "1.5S", 1500, nullptr},
    {"trigger.timeout", "250", 250, "0.25"},
    {"trigger.timeout", "2k", 2000, "2"},
    {"trigger.timeout", "none", kNone, "INF"},
    {"trigger.timeout", "None", kNone, "INFINITY"},
    {"trigger.timeout", "2V", std::nullopt, nullptr},
    {"trigger.timeout", "0.5ms", std::nullopt, nullptr},  // not a whole millisecond
    {"samples", "10k", 10000, nullptr},
    {"samples", "10K", 10000, nullptr},
    {"samples", "10kHz", std::nullopt, nullptr},
    {"rate", "2.5M", 2.5e6, "2.5MHZ"},  // SCPI's M alone is milli
    {"rate", "1kHz", 1000, nullptr},
    {"rate", "1khz", 1000, nullptr},
    {"rate", "5V", std::nullopt, nullptr},
    {"ch1.range", "200mV", 0.2, nullptr},
    {"ch1.range", "AUTO", kNone, nullptr},
    {"ch1.coupling", "DC", 0, nullptr},
    {"ch1.coupling", "Ac", 1, nullptr},
    {"trigger.slope", "Falling", 1, nullptr},
    {"generator.type", "SINE", 0, nullptr},
    {"preTrigger", "30%", 30, nullptr},
};

bool Same(const capture::SettingValue& got, std::optional<double> want) {
  if (std::isnan(*want)) return std::holds_alternative<std::monostate>(got);
  const auto* number = std::get_if<double>(&got);
  return number != nullptr && std::fabs(*number - *want) <= 1e-9 * std::fabs(*want);
}

std::string Shown(const capture::SettingValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return std::to_string(*d);
  return "none";
}

}  // namespace

TEST(SurfaceReading, EveryTextReadsTheSameOnEverySurface) {
  capture::CardOffer offer;
  offer.virtualCard = true;
  const capture::CardSettings defaults;
  const scope::ScopeSettings base = scope::CompleteSettings(defaults, true);
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + " '" + c.text + "'");
    const capture::CardSetting& row = *capture::FindSettingByKey(c.key);
    // The command line.
    const auto parsed = capture::ParseArguments({std::string("--") + row.flag, c.text});
    if (c.value) {
      EXPECT_EQ(parsed.error, "");
      EXPECT_TRUE(Same(row.Get(parsed.options.settings), c.value)) << Shown(row.Get(parsed.options.settings));
    } else {
      EXPECT_NE(parsed.error, "");
    }
    // JSON, the value as a string.
    nlohmann::json patch;
    nlohmann::json* at = &patch;
    std::string key = c.key;
    for (auto dot = key.find('.'); dot != std::string::npos; dot = key.find('.')) {
      at = &(*at)[key.substr(0, dot)];
      key = key.substr(dot + 1);
    }
    (*at)[key] = c.text;
    std::string error;
    const auto read = scope::SettingsFromJson(patch, base, offer, error);
    if (c.value) {
      ASSERT_TRUE(read.has_value()) << error;
      EXPECT_TRUE(Same(row.Get(read->options), c.value)) << Shown(row.Get(read->options));
    } else {
      EXPECT_FALSE(read.has_value()) << patch.dump();
    }
    // SCPI.
    for (const auto& s : scpi::ScpiSettings()) {
      if (scpi::TableKey(s, 1) != c.key) continue;
      const std::string header = scpi::WrittenHeader(s.header, 1);
      const auto message = scpi::ParseMessage(header + " " + (c.scpi != nullptr ? c.scpi : c.text));
      scpi::Error scpiError;
      std::optional<capture::SettingValue> value;
      if (!message.error && message.commands.size() == 1 && message.commands[0].parameters.size() == 1)
        value = scpi::ReadSetting(s, row, message.commands[0].parameters[0], scpiError);
      if (c.value) {
        ASSERT_TRUE(value.has_value()) << header << ": " << scpiError.message;
        EXPECT_TRUE(Same(*value, c.value)) << Shown(*value);
      } else {
        EXPECT_FALSE(value.has_value()) << header;
      }
    }
  }
}

namespace {

// Values of a row to carry across the surfaces: each named choice, the
// row's word for no value, numbers within the tools' own limits, both
// states of a flag, a source.
std::vector<capture::SettingValue> SampleValues(const capture::CardSetting& row) {
  std::vector<capture::SettingValue> values;
  if (row.none != nullptr) values.emplace_back();
  switch (row.kind) {
    case capture::SettingKind::Choice:
      for (const auto& choice : row.choices)
        if (choice.label != nullptr) values.emplace_back(static_cast<double>(choice.code));
      break;
    case capture::SettingKind::Flag:
      values.emplace_back(0.0);
      values.emplace_back(1.0);
      break;
    case capture::SettingKind::Source:
      values.emplace_back(std::string("square:0.5:250:0"));
      break;
    default:
      for (const double number : {0.0, 1.0, 1.5, 30.0, 1500.0})
        if (capture::CheckSettingNumber(row, number).empty()) values.emplace_back(number);
      if (std::string_view(row.unit) == "Hz") values.emplace_back(2.5e6);  // SCPI's M alone is milli
  }
  return values;
}

// The value the row holds once `value` is set on `settings`.
capture::SettingValue Held(const capture::CardSetting& row, capture::CardSettings settings,
                           const capture::SettingValue& value) {
  row.Set(settings, value);
  return row.Get(settings);
}

const scpi::ScpiSetting* ScpiOf(const capture::CardSetting& row, int& channel) {
  for (const auto& s : scpi::ScpiSettings())
    for (channel = 1; channel <= 2; ++channel)
      if (scpi::TableKey(s, channel) == row.key) return &s;
  return nullptr;
}

}  // namespace

// Every row through every surface it has: the command line takes the value
// as the table writes it, JSON as the page sends it, SCPI as a query answers
// it, and each holds the same value afterwards.
TEST(SurfaceReading, EveryRowRoundTripsThroughTheCommandLineJsonAndScpi) {
  const capture::CardSettings defaults;
  scope::ScopeSettings base = scope::CompleteSettings(defaults, true);
  base.waveform = std::make_shared<const std::vector<std::uint16_t>>(1024, 0x8000);
  int surfaces = 0;
  for (const auto& row : capture::CardSettingsTable()) {
    for (const auto& value : SampleValues(row)) {
      const std::string shown = capture::FormatSettingValue(row, value);
      SCOPED_TRACE(std::string(row.key != nullptr ? row.key : row.flag) + " = " + shown);
      // A switch is given or not; the command line's user waveform is --gen-file, not --gen arbitrary.
      const bool isFlagOff = row.kind == capture::SettingKind::Flag && value == capture::SettingValue(0.0);
      if (row.flag != nullptr && !isFlagOff && shown != "arbitrary") {
        std::vector<std::string> arguments = {std::string("--") + row.flag};
        if (row.kind != capture::SettingKind::Flag) arguments.push_back(shown);
        const auto parsed = capture::ParseArguments(arguments);
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(row.Get(parsed.options.settings), Held(row, defaults, value));
        ++surfaces;
      }
      if (row.key == nullptr) continue;
      const capture::SettingValue expected = Held(row, base.options, value);
      const nlohmann::json patch = scope::SettingPatch(row, value);
      std::string error;
      const auto request = scope::RequestFromJson(patch, error);
      ASSERT_TRUE(request.has_value()) << error << " " << patch.dump();
      const auto read = scope::ApplyChanges(*request, base, true, error);
      ASSERT_TRUE(read.has_value()) << error << " " << patch.dump();
      EXPECT_EQ(row.Get(read->options), expected) << patch.dump();
      ++surfaces;
      int channel = 1;
      const auto* s = ScpiOf(row, channel);
      if (s == nullptr) continue;
      const std::string command = scpi::WrittenHeader(s->header, channel) + " " + scpi::FormatSetting(*s, row, value);
      const auto message = scpi::ParseMessage(command);
      ASSERT_FALSE(message.error) << command << ": " << message.error->message;
      ASSERT_EQ(message.commands.size(), 1u);
      ASSERT_EQ(message.commands[0].parameters.size(), 1u) << command;
      scpi::Error scpiError;
      const auto scpiValue = scpi::ReadSetting(*s, row, message.commands[0].parameters[0], scpiError);
      ASSERT_TRUE(scpiValue.has_value()) << command << ": " << scpiError.message;
      EXPECT_EQ(Held(row, base.options, *scpiValue), expected) << command;
      ++surfaces;
    }
  }
  EXPECT_GT(surfaces, 100);  // the table was walked, not skipped
}
