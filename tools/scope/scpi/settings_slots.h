// The numbered settings of *SAV and *RCL: one file per number under the
// user's state directory ($XDG_STATE_HOME/rk350/scope-setups/<n>.json, else
// ~/.local/state/rk350/scope-setups/<n>.json), each written whole or not at
// all, so a crash never leaves half a setup behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace rk350::scpi {

inline constexpr int kSettingSlots = 10;  // *SAV 0 .. *SAV 9
// A saved setup is small (the settings as JSON); a larger file is not ours.
inline constexpr std::uintmax_t kMaxSlotBytes = 64 * 1024;

// The folder of the numbered settings from the environment's
// XDG_STATE_HOME (when absolute) or HOME; nothing, with why in `error`,
// when neither gives one.
std::optional<std::filesystem::path> SettingSlotFolder(std::string& error);

class SettingSlots {
 public:
  explicit SettingSlots(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::filesystem::path PathOf(int slot) const;
  // Writes the text of `slot` atomically (the folder made, private to the
  // user, when missing); false with why in `error`.
  bool Save(int slot, const std::string& text, std::string& error) const;
  // The text of `slot`; nothing when the slot is empty (`error` stays empty)
  // or cannot be read (`error` says why).
  std::optional<std::string> Load(int slot, std::string& error) const;

 private:
  std::filesystem::path folder_;
};

}  // namespace rk350::scpi
