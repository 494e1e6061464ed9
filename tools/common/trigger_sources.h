// The trigger sources the tools name: one table of names and the library's
// codes, read by the command line, the capture's notes, --show and the scope.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "card_settings.h"

namespace rk350::capture {

struct TriggerSource {
  const char* name;            // on the command line and in the scope's settings
  int code;                    // SetTriggerSource's code
  const char* label;           // in notes and on screen
  const char* meaning;         // what triggers, for --show
  int channels;                // the channels whose comparators it uses: bit 0 CH1, bit 1 CH2
  const char* scpi = nullptr;  // its SCPI mnemonic ("CHANnel1"); null: the name in upper case
};

// Every source the card has, once each, in the order of their codes.
std::span<const TriggerSource> TriggerSources();
// The source with this code; null for a code no source has.
const TriggerSource* FindTriggerSource(int code);
// The sources as a choice of the settings table, with the other spellings.
std::span<const SettingChoice> TriggerSourceChoices();
// A source's name or one of its other spellings ("external", "free").
std::optional<int> TriggerSourceCode(std::string_view name);
// Whether the source uses channel 1 or 2's comparators.
bool TriggerUsesChannel(int code, int channel);

}  // namespace rk350::capture
