#include "trigger_sources.h"

#include <array>

#include "rk350/rk350.h"

namespace rk350::capture {
namespace {

constexpr TriggerSource kSources[] = {
    {"ch1", RK350_TS_CH1, "CH1", "channel 1's comparators", 1, "CHANnel1"},
    {"ch2", RK350_TS_CH2, "CH2", "channel 2's comparators", 2, "CHANnel2"},
    {"ext", RK350_TS_EXTERNAL, "external input", "the external trigger input", 0, "EXTernal"},
    {"and", RK350_TS_AND, "CH1 and CH2", "both channels' comparators at once", 3},
    {"or", RK350_TS_OR, "CH1 or CH2", "either channel's comparators", 3},
    {"xor", RK350_TS_XOR, "CH1 xor CH2", "one channel's comparators but not both", 3},
    {"none", RK350_TS_NO_TRIG, "none (free run)", "free run: the record starts with the card", 0},
};

struct Spelling {
  const char* name;
  int code;
};
constexpr Spelling kOtherSpellings[] = {{"external", RK350_TS_EXTERNAL}, {"free", RK350_TS_NO_TRIG}};

constexpr auto kChoices = [] {
  std::array<SettingChoice, std::size(kSources) + std::size(kOtherSpellings)> choices{};
  std::size_t i = 0;
  for (const auto& source : kSources) choices[i++] = {source.name, source.code, source.label, source.scpi};
  for (const auto& spelling : kOtherSpellings) choices[i++] = {spelling.name, spelling.code, nullptr};
  return choices;
}();

}  // namespace

std::span<const TriggerSource> TriggerSources() { return kSources; }

std::span<const SettingChoice> TriggerSourceChoices() { return kChoices; }

const TriggerSource* FindTriggerSource(int code) {
  for (const auto& source : kSources)
    if (source.code == code) return &source;
  return nullptr;
}

std::optional<int> TriggerSourceCode(std::string_view name) {
  for (const auto& source : kSources)
    if (name == source.name) return source.code;
  for (const auto& spelling : kOtherSpellings)
    if (name == spelling.name) return spelling.code;
  return std::nullopt;
}

bool TriggerUsesChannel(int code, int channel) {
  const TriggerSource* source = FindTriggerSource(code);
  return source != nullptr && (channel == 1 || channel == 2) && (source->channels & (1 << (channel - 1))) != 0;
}

}  // namespace rk350::capture
