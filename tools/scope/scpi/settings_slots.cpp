#include "scpi/settings_slots.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "atomic_file.h"

namespace rk350::scpi {

namespace fs = std::filesystem;

std::optional<fs::path> SettingSlotFolder(std::string& error) {
  // A relative XDG_STATE_HOME is ignored, as the XDG base directories demand.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && fs::path(state).is_absolute()) return fs::path(state) / "rk350" / "scope-setups";
  const char* home = std::getenv("HOME");
  if (home != nullptr && fs::path(home).is_absolute())
    return fs::path(home) / ".local" / "state" / "rk350" / "scope-setups";
  error = "no state directory: neither XDG_STATE_HOME nor HOME is an absolute path";
  return std::nullopt;
}

fs::path SettingSlots::PathOf(int slot) const { return folder_ / (std::to_string(slot) + ".json"); }

bool SettingSlots::Save(int slot, const std::string& text, std::string& error) const {
  std::error_code ec;
  if (!fs::is_directory(folder_, ec)) {
    fs::create_directories(folder_, ec);
    if (ec) {
      error = folder_.string() + ": " + ec.message();
      return false;
    }
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace, ec);
  }
  return tools::WriteFileAtomically(
      PathOf(slot).string(), [&](std::ostream& out) { out << text; }, error);
}

std::optional<std::string> SettingSlots::Load(int slot, std::string& error) const {
  const fs::path path = PathOf(slot);
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  if (ec || status.type() != fs::file_type::regular) {
    error = path.string() + ": " + (ec ? ec.message() : "not a regular file");
    return std::nullopt;
  }
  const auto size = fs::file_size(path, ec);
  if (ec || size > kMaxSlotBytes) {
    error = path.string() + ": " + (ec ? ec.message() : "larger than a saved setup can be");
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.good() && !in.eof()) {
    error = path.string() + ": cannot be read";
    return std::nullopt;
  }
  return text.str();
}

}  // namespace rk350::scpi
