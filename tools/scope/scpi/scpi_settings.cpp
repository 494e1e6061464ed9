#include "scpi/scpi_settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "scpi/scpi_errors.h"

namespace rk350::scpi {
namespace {

// The unit suffix SCPI writes for a row's unit, and the factor from it to
// the row's unit: numbers with a unit take it in capitals (HZ, V), per cent
// is PCT, a duration in milliseconds is given in seconds; counts take none.
std::pair<std::string, double> ScpiUnitOf(const capture::CardSetting& row) {
  const std::string_view unit = row.unit;
  if (unit == "ms") return {"S", 1000};
  if (unit == "%") return {"PCT", 1};
  if (row.kind != capture::SettingKind::Quantity) return {"", 1};
  std::string upper(unit);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return {upper, 1};
}

std::vector<ScpiSetting> MakeScpiSettings() {
  std::vector<ScpiSetting> settings;
  for (const auto& row : capture::CardSettingsTable()) {
    if (row.scpi == nullptr || row.key == nullptr) continue;
    const bool seen = std::any_of(settings.begin(), settings.end(),
                                  [&](const ScpiSetting& s) { return std::string_view(s.header) == row.scpi; });
    if (seen) continue;  // the second channel's row, under the same header
    std::string key = row.key;
    if (std::string_view(row.scpi).find('#') != std::string_view::npos) key[key.find('1')] = '#';
    auto [unit, scale] = ScpiUnitOf(row);
    settings.push_back({row.scpi, std::move(key), std::move(unit), scale});
  }
  return settings;
}

bool WordMatches(const char* mnemonic, const std::string& written) {
  std::string pattern = mnemonic;
  if (!pattern.empty() && std::isdigit(static_cast<unsigned char>(pattern.back()))) {
    const int wanted = pattern.back() - '0';
    pattern.pop_back();
    int suffix = 0;
    return MatchMnemonic(pattern, written, &suffix) && suffix == wanted;
  }
  return MatchMnemonic(pattern, written, nullptr);
}

std::string ShortForm(const char* mnemonic) {
  std::string s;
  for (const char* c = mnemonic; *c != '\0'; ++c)
    if (!(*c >= 'a' && *c <= 'z')) s += *c;
  return s;
}

std::string Upper(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The SCPI mnemonic of a name of the row (a choice, or its `none` word); null: none.
const char* MnemonicOf(const capture::CardSetting& row, std::string_view name) {
  if (row.none != nullptr && name == row.none) return row.scpiNone;
  for (const auto& choice : row.choices)
    if (name == choice.name) return choice.scpi;
  return nullptr;
}

// How SCPI writes a name of the table: its mnemonic's short form, or the name.
std::string WordFor(const capture::CardSetting& row, std::string_view name) {
  const char* mnemonic = MnemonicOf(row, name);
  return mnemonic != nullptr ? ShortForm(mnemonic) : Upper(name);
}

// The table's name for a written word: a mnemonic's, or the word itself.
std::string NameFor(const capture::CardSetting& row, const std::string& written) {
  if (row.none != nullptr && row.scpiNone != nullptr && WordMatches(row.scpiNone, written)) return row.none;
  for (const auto& choice : row.choices)
    if (choice.scpi != nullptr && WordMatches(choice.scpi, written)) return choice.name;
  return Lower(written);
}

// "within 0 .. 4294967.294 S": the row's limits in the header's unit.
std::string LimitsInScpiUnit(const ScpiSetting& setting, const capture::CardSetting& row) {
  const bool low = std::isfinite(row.lowest), high = std::isfinite(row.highest);
  const std::string unit = !setting.unit.empty() ? std::string(" ") + setting.unit : "";
  const auto shown = [&](double v) { return FormatNumber(v / setting.scale); };
  if (low && high) return "within " + shown(row.lowest) + " .. " + shown(row.highest) + unit;
  if (low) return (row.aboveLowest ? "above " : "at least ") + shown(row.lowest) + unit;
  if (high) return "at most " + shown(row.highest) + unit;
  return "a finite number";
}

}  // namespace

std::span<const ScpiSetting> ScpiSettings() {
  static const std::vector<ScpiSetting> settings = MakeScpiSettings();
  return settings;
}

std::vector<const char*> RowsWithoutScpi() {
  std::vector<const char*> keys;
  for (const auto& row : capture::CardSettingsTable())
    if (row.key != nullptr && row.scpi == nullptr) keys.push_back(row.key);
  return keys;
}

std::string TableKey(const ScpiSetting& setting, int channel) {
  std::string key;
  for (const char c : setting.key) key += c == '#' ? std::to_string(channel) : std::string(1, c);
  return key;
}

std::string WrittenHeader(const char* pattern, int channel) {
  std::string header;
  int optional = 0;
  for (const char* c = pattern; *c != '\0'; ++c) {
    if (*c == '[' || *c == ']') {
      optional += *c == '[' ? 1 : -1;
    } else if (optional == 0) {
      header += *c == '#' ? std::to_string(channel) : std::string(1, *c);
    }
  }
  return header;
}

const capture::CardSetting* TableRow(const ScpiSetting& setting, int channel) {
  return capture::FindSettingByKey(TableKey(setting, channel));
}

std::optional<double> ReadNumber(const Parameter& p, const char* unit, Error& error) {
  if (p.kind != Parameter::Kind::Number) {
    error = kDataTypeError("a number is expected");
    return std::nullopt;
  }
  if (!p.unit.empty() && p.unit != unit) {
    const bool none = *unit == '\0';
    error =
        (none ? kSuffixNotAllowed : kInvalidSuffix)("'" + p.unit + "' where " + (none ? "no unit" : unit) + " belongs");
    return std::nullopt;
  }
  return p.number;
}

std::optional<bool> ReadBoolean(const Parameter& p, Error& error) {
  if (p.kind == Parameter::Kind::Word) {
    if (p.text == "ON") return true;
    if (p.text == "OFF") return false;
  } else if (p.kind == Parameter::Kind::Number && p.unit.empty()) {
    return std::nearbyint(p.number) != 0;
  }
  error = kIllegalParameterValue("ON, OFF, 1 or 0");
  return std::nullopt;
}

std::optional<capture::SettingValue> ReadSetting(const ScpiSetting& setting, const capture::CardSetting& row,
                                                 const Parameter& p, Error& error) {
  using capture::SettingKind;
  if (p.kind == Parameter::Kind::Word && row.kind != SettingKind::Flag) {
    const std::string name = NameFor(row, p.text);
    if (row.none != nullptr && name == row.none) return capture::SettingValue();
    if (row.kind == SettingKind::Choice) {
      if (const auto* choice = capture::FindChoice(row, name)) return static_cast<double>(choice->code);
    }
  }
  switch (row.kind) {
    case SettingKind::Choice:
      // A row that takes the library's plain codes takes them here too (trigger modes beyond the slopes).
      if (row.codesToo && p.kind == Parameter::Kind::Number && p.unit.empty() && p.number >= 0 && p.number <= 255 &&
          p.number == std::floor(p.number))
        return p.number;
      error = kIllegalParameterValue("one of " + WordsOf(row));
      return std::nullopt;
    case SettingKind::Flag:
      if (const auto on = ReadBoolean(p, error)) return *on ? 1.0 : 0.0;
      return std::nullopt;
    case SettingKind::Quantity:
    case SettingKind::Integer: {
      const auto number = ReadNumber(p, setting.unit.c_str(), error);
      if (!number) return std::nullopt;
      double value = *number * setting.scale;
      // A scaled value (seconds to milliseconds) must land on the table's
      // unit's step: 0.0005 s is no whole millisecond, and rounding it would
      // make a time-out of 0 (no waiting at all) of it.
      if (setting.scale != 1 && std::fabs(value) < 1e15) {
        const double step = std::nearbyint(value);
        if (std::fabs(value - step) > 1e-6 * std::max(1.0, std::fabs(step))) {
          error = kDataOutOfRange(std::string(row.key) + " " + FormatNumber(*number) + " " + setting.unit +
                                  " is not a whole number of " + row.unit);
          return std::nullopt;
        }
        value = step;
      }
      const bool beyond = row.kind == SettingKind::Integer && std::fabs(value) > 1e15;
      if (const auto why = capture::CheckSettingNumber(row, value); beyond || !why.empty()) {
        // The limits in the header's unit (seconds for the time-out), not the table's.
        const bool whole = !beyond && why.starts_with("is not");
        error = kDataOutOfRange(std::string(row.key) + " " + FormatNumber(*number) +
                                (!setting.unit.empty() ? std::string(" ") + setting.unit : "") + " " +
                                (whole ? why : "must be " + LimitsInScpiUnit(setting, row)));
        return std::nullopt;
      }
      return value;
    }
    case SettingKind::Source:
      break;
  }
  error = kIllegalParameterValue();
  return std::nullopt;
}

std::string FormatSetting(const ScpiSetting& setting, const capture::CardSetting& row,
                          const capture::SettingValue& value) {
  if (std::holds_alternative<std::monostate>(value))
    return row.none != nullptr ? WordFor(row, row.none) : FormatNumber(NAN);
  if (const auto* text = std::get_if<std::string>(&value)) return QuotedString(*text);
  const double number = std::get<double>(value);
  if (row.kind == capture::SettingKind::Flag) return number != 0 ? "1" : "0";
  if (row.kind == capture::SettingKind::Choice) {
    if (const auto* choice = capture::FindChoice(row, static_cast<int>(number))) return WordFor(row, choice->name);
    return FormatNumber(number);
  }
  return FormatNumber(number / setting.scale);
}

std::string WordsOf(const capture::CardSetting& row) {
  std::string list;
  for (const auto& choice : row.choices)
    if (choice.label != nullptr) list += (list.empty() ? "" : ", ") + WordFor(row, choice.name);
  if (row.none != nullptr) list += ", " + WordFor(row, row.none);
  if (row.codesToo) list += " or the library's code";
  return list;
}

}  // namespace rk350::scpi
