#include "scpi_settings.h"
#include "scpi_errors.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace rk350::scpi {
namespace {

constexpr ScpiWord kSlopes[] = {{"rising", "POSitive"}, {"falling", "NEGative"}};
constexpr ScpiWord kTriggerSources[] = {{"ch1", "CHANnel1"}, {"ch2", "CHANnel2"}, {"ext", "EXTernal"}};
constexpr ScpiWord kSignalTypes[] = {{"sine", "SINusoid"},
                                     {"triangle", "TRIangle"},
                                     {"square", "SQUare"},
                                     {"noise", "NOISe"},
                                     {"arbitrary", "ARBitrary"}};
constexpr ScpiWord kHysteresis[] = {{"default", "DEFault"}};
constexpr ScpiWord kTimeout[] = {{"none", "INFinity"}};

constexpr ScpiSetting kSettings[] = {
    {":ACQuire:SRATe", "rate", "HZ", 1, {}},
    {":ACQuire:POINts", "samples", "", 1, {}},
    {":ACQuire:PRETrigger", "preTrigger", "PCT", 1, {}},
    {":ACQuire:COUNt", "average", "", 1, {}},
    {":CHANnel#:RANGe", "ch#.range", "V", 1, {}},
    {":CHANnel#:COUPling", "ch#.coupling", "", 1, {}},
    {":CHANnel#:OFFSet", "ch#.dcLevel", "V", 1, {}},
    {":CHANnel#:DISPlay", "ch#.on", "", 1, {}},
    {":TRIGger[:EDGE]:SOURce", "trigger.source", "", 1, kTriggerSources},
    {":TRIGger[:EDGE]:SLOPe", "trigger.slope", "", 1, kSlopes},
    {":TRIGger[:EDGE]:LEVel", "trigger.level", "V", 1, {}},
    {":TRIGger:HYSTeresis", "trigger.hysteresis", "V", 1, kHysteresis},
    {":TRIGger:TIMeout", "trigger.timeout", "S", 1000, kTimeout},
    {"[:SOURce]:FUNCtion", "generator.type", "", 1, kSignalTypes},
    {"[:SOURce]:FREQuency", "generator.frequency", "HZ", 1, {}},
    {"[:SOURce]:VOLTage", "generator.amplitude", "V", 1, {}},
    {"[:SOURce]:VOLTage:OFFSet", "generator.offset", "V", 1, {}},
    {"[:SOURce]:FUNCtion:SQUare:DCYCle", "generator.symmetry", "PCT", 1, {}},
    {":OUTPut", "generator.on", "", 1, {}},
};

// The virtual card's built-in sources are for trying the tools out, not for
// a bench: the page and the command line set them.
constexpr const char* kWithoutScpi[] = {"ch1.source", "ch2.source", "ext.source"};

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

// How SCPI writes a name of the table: its mnemonic's short form, or the name.
std::string WordFor(const ScpiSetting& setting, std::string_view name) {
  for (const auto& w : setting.words)
    if (name == w.name) return ShortForm(w.mnemonic);
  return Upper(name);
}

// The table's name for a written word: a mnemonic's, or the word itself.
std::string NameFor(const ScpiSetting& setting, const std::string& written) {
  for (const auto& w : setting.words)
    if (WordMatches(w.mnemonic, written)) return w.name;
  return Lower(written);
}

// "within 0 .. 4294967.294 S": the row's limits in the header's unit.
std::string LimitsInScpiUnit(const ScpiSetting& setting, const capture::CardSetting& row) {
  const bool low = std::isfinite(row.lowest), high = std::isfinite(row.highest);
  const std::string unit = *setting.unit != '\0' ? std::string(" ") + setting.unit : "";
  const auto shown = [&](double v) { return FormatNumber(v / setting.scale); };
  if (low && high) return "within " + shown(row.lowest) + " .. " + shown(row.highest) + unit;
  if (low) return (row.aboveLowest ? "above " : "at least ") + shown(row.lowest) + unit;
  if (high) return "at most " + shown(row.highest) + unit;
  return "a finite number";
}

}  // namespace

std::span<const ScpiSetting> ScpiSettings() { return kSettings; }

std::span<const char* const> RowsWithoutScpi() { return kWithoutScpi; }

std::string TableKey(const ScpiSetting& setting, int channel) {
  std::string key;
  for (const char* c = setting.key; *c != '\0'; ++c) key += *c == '#' ? std::to_string(channel) : std::string(1, *c);
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
    error = (none ? kSuffixNotAllowed : kInvalidSuffix)("'" + p.unit + "' where " + (none ? "no unit" : unit) +
                                                        " belongs");
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
    const std::string name = NameFor(setting, p.text);
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
      error = kIllegalParameterValue("one of " + WordsOf(setting, row));
      return std::nullopt;
    case SettingKind::Flag:
      if (const auto on = ReadBoolean(p, error)) return *on ? 1.0 : 0.0;
      return std::nullopt;
    case SettingKind::Quantity:
    case SettingKind::Integer: {
      const auto number = ReadNumber(p, setting.unit, error);
      if (!number) return std::nullopt;
      double value = *number * setting.scale;
      // A scaled value (seconds to milliseconds) must land on the table's
      // unit's step: 0.0005 s is no whole millisecond, and rounding it would
      // make a time-out of 0 (no waiting at all) of it.
      if (setting.scale != 1 && std::fabs(value) < 1e15) {
        const double step = std::nearbyint(value);
        if (std::fabs(value - step) > 1e-6 * std::max(1.0, std::fabs(step))) {
          error = kDataOutOfRange(std::string(row.key) + " " + FormatNumber(*number) + " " +
                             setting.unit + " is not a whole number of " + row.unit);
          return std::nullopt;
        }
        value = step;
      }
      const bool beyond = row.kind == SettingKind::Integer && std::fabs(value) > 1e15;
      if (const auto why = capture::CheckSettingNumber(row, value); beyond || !why.empty()) {
        // The limits in the header's unit (seconds for the time-out), not the table's.
        const bool whole = !beyond && why.starts_with("is not");
        error = kDataOutOfRange(std::string(row.key) + " " + FormatNumber(*number) +
                           (*setting.unit != '\0' ? std::string(" ") + setting.unit : "") + " " +
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
    return row.none != nullptr ? WordFor(setting, row.none) : FormatNumber(NAN);
  if (const auto* text = std::get_if<std::string>(&value)) return QuotedString(*text);
  const double number = std::get<double>(value);
  if (row.kind == capture::SettingKind::Flag) return number != 0 ? "1" : "0";
  if (row.kind == capture::SettingKind::Choice) {
    if (const auto* choice = capture::FindChoice(row, static_cast<int>(number))) return WordFor(setting, choice->name);
    return FormatNumber(number);
  }
  return FormatNumber(number / setting.scale);
}

std::string WordsOf(const ScpiSetting& setting, const capture::CardSetting& row) {
  std::string list;
  for (const auto& choice : row.choices)
    if (choice.label != nullptr) list += (list.empty() ? "" : ", ") + WordFor(setting, choice.name);
  if (row.none != nullptr) list += ", " + WordFor(setting, row.none);
  if (row.codesToo) list += " or the library's code";
  return list;
}

}  // namespace rk350::scpi
