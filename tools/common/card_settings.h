// The card's settings as the tools give them: one table with a row per
// setting (its key in the scope's JSON, its command-line option, its kind and
// unit, the names of a choice with the header's codes, its help). The command
// line, the scope's JSON reader and writer, the offer, --show, SCPI and the
// notes all read this table; a value is parsed by its row's kind, never by
// code per setting.
//
// The tools check only a value's form (a number, a known name, a whole
// number of samples); whether the card can do it is the library's to judge,
// and its answer is what the user sees. The few limits that the tools set
// themselves (a share in percent, records to average) are in the rows.
//
// Adding a setting: a field in CardSettings (with its default), a row in
// card_settings.cpp naming the field; the command line, the JSON API and the
// help follow.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "arbitrary_waveform.h"
#include "rk350/rk350.h"

namespace rk350::capture {

// A built-in signal source of the virtual card wired to an input.
struct SourceOptions {
  int kind = 0;            // RK350SIM_SOURCE_* (0: unplugged)
  double amplitude = 0.0;  // V
  double frequency = 0.0;  // Hz
  double offset = 0.0;     // V
  bool operator==(const SourceOptions&) const = default;
};

struct ChannelOptions {
  std::optional<double> range;  // V full scale; nearest offered range is used
  bool autoRange = false;
  std::optional<int> coupling;          // library code RK350_COUPLING_DC or _AC
  std::optional<double> dcLevel;        // V
  std::optional<SourceOptions> source;  // virtual card only
  bool operator==(const ChannelOptions&) const = default;
};

struct GeneratorOptions {
  std::optional<int> signalType;  // RK350_GEN_*; unset: leave as is
  bool off = false;               // switch the output off
  double frequency = 1000.0;      // Hz
  double amplitude = 1.0;         // V peak
  double offset = 0.0;            // V
  double symmetry = 50.0;         // percent
  bool frequencyGiven = false;    // --gen-freq given
  bool levelsGiven = false;       // --gen-amplitude or --gen-offset given
  // A user waveform (signal type arbitrary): the file it comes from and, once
  // read, one period of volts.
  std::string file;
  std::optional<tools::ArbitraryWaveform> waveform;
  bool operator==(const GeneratorOptions&) const = default;
};

// Everything the session sets on the card; the defaults are the tools'.
struct CardSettings {
  std::array<ChannelOptions, 2> channels;
  int measureMode = RK350_MODE_CH12;  // RK350_MODE_CH1, _CH2 or _CH12

  std::optional<SourceOptions> externalSource;  // virtual card only: the external trigger input

  double sampleRate = 1e6;  // Hz
  std::uint32_t recordLength = 5000;
  bool samplesGiven = false;
  std::optional<double> recordTime;         // s: the record length as a duration at the rate reached
  std::optional<double> preTriggerPercent;  // default 25 %
  std::optional<std::uint32_t> postSamples;

  int triggerSource = 0;  // export ordinal
  std::optional<int> triggerMode;
  double triggerLevel = 0.0;                             // V
  std::optional<double> triggerHysteresis;               // V
  std::optional<std::uint32_t> triggerTimeoutMs = 1000;  // unset: wait for ever
  bool cardTrigger = false;                              // the card's own trigger instead of the library's search

  int average = 1;  // records averaged sample by sample
  GeneratorOptions generator;
  bool generatorGiven = false;  // any generator setting given

  // Post samples for the record length and pre-trigger share.
  std::uint32_t EffectivePostSamples() const { return EffectivePostSamples(recordLength); }
  std::uint32_t EffectivePostSamples(std::uint32_t length) const;
  bool operator==(const CardSettings&) const = default;
};

// The record length for --time at the rate the card reached; nothing when
// it falls outside 1 .. maximum samples.
std::optional<std::uint32_t> SamplesForDuration(double seconds, double rate, std::uint32_t maximum);

// The measure mode's bit of channel 1 or 2 (RK350_MODE_CH12 holds both).
constexpr int MeasureModeOf(int channel) { return channel == 1 ? RK350_MODE_CH1 : RK350_MODE_CH2; }
constexpr bool Measures(int measureMode, int channel) { return (measureMode & MeasureModeOf(channel)) != 0; }

enum class SettingKind {
  Quantity,  // a number with a unit; SI prefixes on the command line ("2.5M", "200mV")
  Integer,   // a whole number; SI prefixes too ("10k")
  Choice,    // one of the row's names (each with the header's code)
  Flag,      // on or off: an option without a value, a JSON boolean
  Source,    // a virtual-card source "kind:amplitude:frequency:offset"
};

struct SettingChoice {
  const char* name;            // on the command line, in JSON, in SCPI
  int code;                    // the library's code for it
  const char* label;           // for people (notes, the page); null: another spelling of an earlier name
  const char* scpi = nullptr;  // its SCPI mnemonic ("POSitive" for rising); null: the name itself
};

// A value of a setting: a number (quantities, integers, a choice's code, a
// flag as 0 or 1), a source's text, or none: the row's `none` word (automatic
// range, no time-out, the library's hysteresis, the generator off) or JSON
// null.
using SettingValue = std::variant<std::monostate, double, std::string>;

struct CardSetting;

// How a row reads and writes its field of CardSettings. Plain fields are
// reached through member pointers (card_settings.cpp); a few rows that stand
// for more than one field (a range that may be automatic, a channel's bit of
// the measure mode) have their own pair.
struct SettingAccess {
  SettingValue (*get)(const CardSettings&, const CardSetting&) = nullptr;
  void (*set)(CardSettings&, const SettingValue&) = nullptr;
};

// What the command line notes when it gives a row (CardSettings' "given"
// marks): set by the parser from the row, never by a setter.
enum SettingMarks : unsigned {
  kMarksNothing = 0,
  kMarksSamples = 1,                               // samplesGiven
  kMarksGenerator = 2,                             // generatorGiven
  kMarksGeneratorFrequency = 4 | kMarksGenerator,  // and the generator's frequencyGiven
  kMarksGeneratorLevels = 8 | kMarksGenerator,     // and the generator's levelsGiven
};

// One row of the table; a row is written with designated initialisers and
// names only what differs from these defaults.
struct CardSetting {
  const char* key = nullptr;   // in the scope's JSON settings, dotted ("trigger.level"); null: command line only
  const char* flag = nullptr;  // command-line option without "--"; null: JSON only
  SettingKind kind = SettingKind::Quantity;
  const char* unit = "";                     // of a number ("Hz", "V", "%", "ms", "s", "samples"); "" none
  std::span<const SettingChoice> choices{};  // of a choice
  const char* none = nullptr;                // the word for no value, or null when every value is a number
  bool codesToo = false;                     // a choice also takes the library's plain code
  // A rule the tools set (the library never sees the value as given):
  // lowest .. highest, the lowest itself excluded when `aboveLowest`.
  double lowest = -std::numeric_limits<double>::infinity();
  double highest = std::numeric_limits<double>::infinity();
  bool aboveLowest = false;
  const char* section = "";        // of --help
  const char* argument = nullptr;  // of --help ("HZ", "V|auto"); null for a choice: its names
  const char* help = "";           // of --help; "{choices}" stands for the choice's names
  SettingAccess access{};
  // What an optional field shows while unset (the library's default: dc,
  // rising); NaN: no value.
  double unset = std::numeric_limits<double>::quiet_NaN();
  bool wordInJson = false;  // JSON gives no value as the `none` word ("auto"), not as null
  unsigned marks = kMarksNothing;
  // Its SCPI header: optional nodes in brackets, '#' the channel suffix
  // (":CHANnel#:RANGe"); null: SCPI leaves the row to the page and the
  // command line. The mnemonic of the `none` word; null: the word itself.
  const char* scpi = nullptr;
  const char* scpiNone = nullptr;

  SettingValue Get(const CardSettings& settings) const { return access.get(settings, *this); }
  void Set(CardSettings& settings, const SettingValue& value) const { access.set(settings, value); }
};

// The row's "given" marks onto the settings (the command line gave the row).
void MarkGiven(CardSettings& settings, const CardSetting& setting);

// Every setting, in the order of --help.
std::span<const CardSetting> CardSettingsTable();
const CardSetting* FindSettingByKey(std::string_view key);
const CardSetting* FindSettingByFlag(std::string_view flag);

// Text as the command line gives it: the value, or nothing with the reason in
// `error` (naming the form or the tools' limit).
std::optional<SettingValue> ParseSettingText(const CardSetting& setting, const std::string& text, std::string& error);
// What a value of the row looks like ("a number of Hz (SI prefixes ...)",
// "one of dc, ac"), for refusals.
std::string FormOf(const CardSetting& setting);
// A number of the row's kind checked against the row's own limits: why it is
// refused ("must be within 0 .. 100 %"), else empty.
std::string CheckSettingNumber(const CardSetting& setting, double value);
// A value as the command line takes it back ("2.5M" is written "2500000").
std::string FormatSettingValue(const CardSetting& setting, const SettingValue& value);
// The name of a choice's code; null for a code the row does not name.
const SettingChoice* FindChoice(const CardSetting& setting, int code);
const SettingChoice* FindChoice(const CardSetting& setting, std::string_view name);
// "sine, triangle, square" (the names, without other spellings).
std::string ChoiceNames(const CardSetting& setting);
// Every choice of the command line with the library's codes, a line per
// list ("  --ch1-coupling, --ch2-coupling: dc (0), ac (1)"), for --show.
std::string DescribeChoices();
// The row's value in --help ("V|auto", "dc|ac"); empty for a flag.
std::string ArgumentText(const CardSetting& setting);
// The row's help with its choices' names filled in.
std::string SettingHelp(const CardSetting& setting);
// The row's limits as text ("0 .. 100 %"), empty when it has none.
std::string LimitsText(const CardSetting& setting);

// "1.5", "2k", "1M", "500m", "10u", with an optional unit after the prefix
// ("1kHz", "200mV", "5ms"). Returns nothing for text that is not a number
// and for NaN, infinities and values that overflow ("1e400", "1e308G"): every
// surface (command line, sources, JSON, SCPI) parses its numbers here.
std::optional<double> ParseQuantity(const std::string& text);
// A number of a row with unit `rowUnit`: bare ("2.5M", "500m") it is in that
// unit; a unit written after the prefix must be the row's, any case ("1kHz",
// "200mv"), and a row in milliseconds takes seconds ("2s", "500ms", "1.5s").
// Nothing for other units and for text that is not a finite number.
std::optional<double> ParseQuantityIn(const std::string& text, const char* rowUnit);
// Names and words compare in any case ("DC", "Rising", "AUTO").
bool SameWord(std::string_view a, std::string_view b);
// The first number in the text (a quantity, or a field of a source description)
// that is written well but not finite, for the error message; empty if none.
std::string NonFiniteNumberIn(const std::string& text);

// "square:0.5:250" (kind, then amplitude V, frequency Hz, offset V, each
// optional); kinds unplugged, dc, sine, square, step, noise, generator.
std::optional<SourceOptions> ParseSource(const std::string& text);
// The kinds' names, in the order of their codes.
std::vector<std::string> SourceKindNames();
// The same form back: "square:0.5:250:0" (every field written).
std::string FormatSource(const SourceOptions& source);

}  // namespace rk350::capture
