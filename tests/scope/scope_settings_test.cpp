// The settings table read by the command line and by the scope's JSON API:
// every setting goes through both and comes back the same, and both refuse
// a value outside the tools' own limits with the same reason; the card's offer
// reads the same as --show text and as JSON.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "card_offer.h"
#include "card_settings.h"
#include "core/scope_settings_json.h"
#include "options.h"
#include "trigger_sources.h"

using namespace rk350;
using capture::CardSetting;
using capture::SettingKind;
using capture::SettingValue;

namespace {

// A value of the row's kind that no default has, as the command line writes it.
std::string SampleText(const CardSetting& s) {
  switch (s.kind) {
    case SettingKind::Quantity:
    case SettingKind::Integer: {
      const bool low = std::isfinite(s.lowest), high = std::isfinite(s.highest);
      const double v = low && high ? std::floor((s.lowest + s.highest) / 3) : low ? s.lowest + 3 : 1.5;
      return capture::FormatSettingValue(s, SettingValue(s.kind == SettingKind::Integer ? std::floor(v) : v));
    }
    case SettingKind::Choice:
      return s.choices[1].name;  // not the first: that is the default
    case SettingKind::Flag:
      return "";
    case SettingKind::Source:
      return "square:0.5:250:0.25";
  }
  return "";
}

// The offer of a card whose inputs take built-in sources.
capture::CardOffer VirtualCard() {
  capture::CardOffer offer;
  offer.virtualCard = true;
  return offer;
}

// The settings of a scope started without options (a named object: a
// temporary trips GCC 12's maybe-uninitialized in Release builds).
scope::ScopeSettings DefaultBase() {
  const capture::CardSettings defaults;
  return scope::CompleteSettings(defaults, true);
}

capture::CaptureOptions FromCommandLine(const CardSetting& s, const std::string& text) {
  std::vector<std::string> args = {std::string("--") + s.flag};
  if (s.kind != SettingKind::Flag) args.push_back(text);
  const auto parsed = capture::ParseArguments(args);
  EXPECT_EQ(parsed.error, "") << s.flag << " " << text;
  return parsed.options;
}

scope::ScopeSettings ThroughJson(const capture::CaptureOptions& options) {
  const auto json = scope::SettingsToJson(scope::CompleteSettings(options, true));
  const capture::CardOffer offer = VirtualCard();
  std::string error;
  const auto base = DefaultBase();
  const auto read = scope::SettingsFromJson(json, base, offer, error);
  EXPECT_TRUE(read.has_value()) << error << "\n" << json.dump();
  return read.value_or(base);
}

}  // namespace

TEST(CardSettingsTable, KeysFlagsAndChoicesAreUnique) {
  std::set<std::string> keys, flags;
  for (const auto& s : capture::CardSettingsTable()) {
    ASSERT_TRUE(s.key != nullptr || s.flag != nullptr);
    if (s.key != nullptr) {
      EXPECT_TRUE(keys.insert(s.key).second) << s.key;
    }
    if (s.flag != nullptr) {
      EXPECT_TRUE(flags.insert(s.flag).second) << s.flag;
    }
    if (s.kind == SettingKind::Choice) {
      EXPECT_FALSE(s.choices.empty()) << s.flag;
      std::set<std::string> names;
      for (const auto& c : s.choices) EXPECT_TRUE(names.insert(c.name).second) << c.name;
    }
  }
}

TEST(CardSettingsTable, EverySettingRoundTripsThroughTheCommandLineAndTheJsonApi) {
  for (const auto& s : capture::CardSettingsTable()) {
    if (s.flag == nullptr) continue;
    std::vector<std::string> texts = {SampleText(s)};
    if (s.none != nullptr) texts.push_back(s.none);
    for (const auto& text : texts) {
      const auto options = FromCommandLine(s, text);
      const SettingValue given = s.Get(options.settings);
      // What the command line took, written back, is read the same.
      EXPECT_EQ(s.Get(FromCommandLine(s, capture::FormatSettingValue(s, given)).settings), given)
          << s.flag << " " << text;
      if (s.key == nullptr) continue;
      EXPECT_EQ(s.Get(ThroughJson(options).options), given) << s.key << " " << text;
    }
  }
}

TEST(CardSettingsTable, TheToolsOwnLimitsRefuseAlikeOnBothSides) {
  for (const auto& s : capture::CardSettingsTable()) {
    if (s.flag == nullptr || s.key == nullptr || !(std::isfinite(s.lowest) || std::isfinite(s.highest))) continue;
    const double outside = std::isfinite(s.lowest) ? s.lowest - 1 : s.highest + 1;
    const std::string text = capture::FormatSettingValue(s, SettingValue(outside));
    const auto parsed = capture::ParseArguments({std::string("--") + s.flag, text});
    const std::string why = capture::CheckSettingNumber(s, outside);
    ASSERT_FALSE(why.empty()) << s.key;
    EXPECT_EQ(parsed.error, std::string("--") + s.flag + ": " + text + " " + why);

    nlohmann::json patch;
    std::string path = s.key;
    nlohmann::json* at = &patch;
    for (auto dot = path.find('.'); dot != std::string::npos; dot = path.find('.')) {
      at = &(*at)[path.substr(0, dot)];
      path = path.substr(dot + 1);
    }
    (*at)[path] =
        s.kind == SettingKind::Integer ? nlohmann::json(static_cast<long long>(outside)) : nlohmann::json(outside);
    std::string error;
    const capture::CardOffer offer = VirtualCard();
    const auto base = DefaultBase();
    EXPECT_FALSE(scope::SettingsFromJson(patch, base, offer, error).has_value()) << s.key;
    EXPECT_NE(error.find(why), std::string::npos) << error;
    EXPECT_EQ(error.rfind(s.key, 0), 0u) << error;
  }
}

TEST(CardSettingsTable, NumbersTakeSiPrefixesEverywhere) {
  const auto r = capture::ParseArguments({"--samples", "10k", "--rate", "2.5M", "--trigger-timeout", "2k", "--average",
                                          "1k", "--gen-freq", "1.5kHz", "--post-samples", "2.5k"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.settings.recordLength, 10000u);
  EXPECT_EQ(r.options.settings.sampleRate, 2.5e6);
  EXPECT_EQ(r.options.settings.triggerTimeoutMs, 2000u);
  EXPECT_EQ(r.options.settings.average, 1000);
  EXPECT_EQ(r.options.settings.generator.frequency, 1500.0);
  EXPECT_EQ(r.options.settings.postSamples, 2500u);
  EXPECT_NE(capture::ParseArguments({"--samples", "1.5"}).error.find("whole number"), std::string::npos);
}

// The page builds its lists from the offer: every choice with its label.
TEST(CardSettingsTable, TheOfferListsEveryJsonSettingWithItsChoices) {
  const auto offer = scope::SettingsOffer();
  std::size_t keyed = 0;
  for (const auto& s : capture::CardSettingsTable()) keyed += s.key != nullptr;
  ASSERT_EQ(offer.size(), keyed);
  for (const auto& row : offer) {
    const auto* s = capture::FindSettingByKey(row["key"].get<std::string>());
    ASSERT_NE(s, nullptr);
    if (s->kind != SettingKind::Choice) continue;
    ASSERT_FALSE(row["choices"].empty()) << s->key;
    for (const auto& choice : row["choices"])
      EXPECT_EQ(capture::FindChoice(*s, choice["name"].get<std::string>())->code, choice["code"].get<int>());
  }
  const auto* coupling = capture::FindSettingByKey("ch1.coupling");
  ASSERT_NE(coupling, nullptr);
  EXPECT_EQ(capture::ChoiceNames(*coupling), "dc, ac");
}

// One probe, two renderings: what --show prints and what /api/offer gives
// say the same of the same card (a source it lacks, its ranges, its rates).
TEST(CardOffer, TheShowTextAndTheJsonOfferTellTheSameProbe) {
  capture::CardOffer probe = VirtualCard();
  probe.channels = 2;
  probe.maxSamples = 4096;
  probe.ranges = {0.2, 4};
  probe.converterRate = 50e6;
  probe.rates = {{100e6, 100e6, true}, {1e6, 1e6, false}};
  const auto sources = capture::TriggerSources();
  probe.triggerSources.assign(sources.size(), true);
  probe.triggerSources.back() = false;
  probe.triggerModes = {true, true, false};
  probe.generator = true;
  probe.maxGeneratorAmplitude = 5;

  const std::string text = capture::DescribeCardOffer(probe);
  const auto json = scope::OfferToJson(probe);
  EXPECT_NE(text.find("record length 1 .. 4096 samples"), std::string::npos) << text;
  EXPECT_EQ(json["maxSamples"], 4096);
  EXPECT_NE(text.find(": 200 mV 4 V\n"), std::string::npos) << text;
  EXPECT_EQ(json["ranges"], nlohmann::json({0.2, 4.0}));
  ASSERT_EQ(json["triggerSources"].size(), sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    EXPECT_EQ(json["triggerSources"][i]["name"], sources[i].name);
    EXPECT_EQ(json["triggerSources"][i]["offered"], probe.triggerSources[i]);
    const std::string line = std::string("  ") + sources[i].name + " (" + std::to_string(sources[i].code) + "): ";
    const auto at = text.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    const bool lacking = text.substr(at, text.find('\n', at) - at).ends_with(" - not on this card");
    EXPECT_EQ(lacking, !probe.triggerSources[i]) << line;
  }
  EXPECT_NE(text.find("  2: a comparator variant of rising, no band check - not on this card\n"), std::string::npos);
  EXPECT_EQ(json["rates"], nlohmann::json::parse(R"([{"rate":1e8,"ch1Only":true},{"rate":1e6,"ch1Only":false}])"));
  EXPECT_EQ(json["generator"]["maxAmplitude"], 5.0);
  EXPECT_NE(text.find("amplitude 0 .. 5 V peak"), std::string::npos) << text;
  EXPECT_TRUE(json["virtualCard"].get<bool>());
}
