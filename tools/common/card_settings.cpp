#include "card_settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "csv_writer.h"
#include "rk350/rk350.h"
#include "rk350/rk350_sim.h"
#include "trigger_sources.h"

namespace rk350::capture {
namespace {

constexpr SettingChoice kCouplings[] = {{"dc", RK350_COUPLING_DC, "DC"}, {"ac", RK350_COUPLING_AC, "AC"}};
constexpr SettingChoice kSlopes[] = {{"rising", RK350_TRIGGER_RISING, "rising", "POSitive"},
                                     {"falling", RK350_TRIGGER_FALLING, "falling", "NEGative"}};
constexpr SettingChoice kSignalTypes[] = {
    {"sine", RK350_GEN_SINE, "sine", "SINusoid"},     {"triangle", RK350_GEN_TRIANGLE, "triangle", "TRIangle"},
    {"square", RK350_GEN_SQUARE, "square", "SQUare"}, {"dc", RK350_GEN_DC, "DC"},
    {"noise", RK350_GEN_NOISE, "noise", "NOISe"},     {"arbitrary", RK350_GEN_ARBITRARY, "user waveform", "ARBitrary"}};
constexpr SettingChoice kChannelSelections[] = {{"1", RK350_MODE_CH1, "CH1"},
                                                {"2", RK350_MODE_CH2, "CH2"},
                                                {"12", RK350_MODE_CH12, "CH1 and CH2"},
                                                {"both", RK350_MODE_CH12, nullptr}};
constexpr SettingChoice kSourceKinds[] = {{"unplugged", RK350SIM_SOURCE_UNPLUGGED, "unplugged"},
                                          {"dc", RK350SIM_SOURCE_DC, "DC"},
                                          {"sine", RK350SIM_SOURCE_SINE, "sine"},
                                          {"square", RK350SIM_SOURCE_SQUARE, "square"},
                                          {"step", RK350SIM_SOURCE_STEP, "step"},
                                          {"noise", RK350SIM_SOURCE_NOISE, "noise"},
                                          {"generator", RK350SIM_SOURCE_GENERATOR, "generator"}};

// ---- Reading and writing a row's field ---------------------------------------

SettingValue Number(double v) { return v; }
double NumberOf(const SettingValue& v) { return std::get<double>(v); }
bool IsNone(const SettingValue& v) { return std::holds_alternative<std::monostate>(v); }

// A field by its path from CardSettings: member pointers and array indices.
template <auto Step>
auto& Into(auto& object) {
  if constexpr (std::is_integral_v<decltype(Step)>)
    return object[Step];
  else
    return object.*Step;
}
template <auto First, auto... Rest>
auto& FieldAt(auto& object) {
  if constexpr (sizeof...(Rest) == 0)
    return Into<First>(object);
  else
    return FieldAt<Rest...>(Into<First>(object));
}

template <class T>
SettingValue ValueOf(const T& field, const CardSetting& row) {
  if constexpr (requires { field.has_value(); })
    return field ? ValueOf(*field, row) : std::isnan(row.unset) ? SettingValue() : Number(row.unset);
  else
    return Number(static_cast<double>(field));
}

template <class T>
void Store(T& field, const SettingValue& v) {
  if constexpr (requires { field.has_value(); }) {
    if (IsNone(v)) {
      field.reset();
    } else {
      typename T::value_type inner{};
      Store(inner, v);
      field = inner;
    }
  } else if constexpr (std::is_same_v<T, bool>) {
    field = NumberOf(v) != 0;
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    field = static_cast<std::uint32_t>(std::min(NumberOf(v), 4294967295.0));
  } else {
    field = static_cast<T>(NumberOf(v));
  }
}

template <auto... Path>
SettingValue GetPlain(const CardSettings& s, const CardSetting& row) {
  return ValueOf(FieldAt<Path...>(s), row);
}
template <auto... Path>
void SetPlain(CardSettings& s, const SettingValue& v) {
  Store(FieldAt<Path...>(s), v);
}
// A plain row: its field, by path ("&CardSettings::generator, &GeneratorOptions::offset").
template <auto... Path>
constexpr SettingAccess kPlain{GetPlain<Path...>, SetPlain<Path...>};

// The rows that stand for more than their field.
template <int C>
constexpr SettingAccess kRange{[](const CardSettings& s, const CardSetting&) {
                                 const auto& ch = s.channels[C];
                                 return ch.autoRange ? SettingValue() : Number(ch.range.value_or(2.0));
                               },
                               [](CardSettings& s, const SettingValue& v) {
                                 auto& ch = s.channels[C];
                                 ch.autoRange = IsNone(v);
                                 if (!IsNone(v)) ch.range = NumberOf(v);
                               }};
template <auto... Path>
constexpr SettingAccess kSource{[](const CardSettings& s, const CardSetting&) {
                                  const auto& source = FieldAt<Path...>(s);
                                  return source ? SettingValue(FormatSource(*source)) : SettingValue();
                                },
                                [](CardSettings& s, const SettingValue& v) {
                                  FieldAt<Path...>(s) =
                                      IsNone(v) ? std::nullopt : ParseSource(std::get<std::string>(v));
                                }};
template <int C>
constexpr SettingAccess kMeasured{
    [](const CardSettings& s, const CardSetting&) { return Number(Measures(s.measureMode, C + 1) ? 1 : 0); },
    [](CardSettings& s, const SettingValue& v) {
      s.measureMode = NumberOf(v) != 0 ? s.measureMode | MeasureModeOf(C + 1) : s.measureMode & ~MeasureModeOf(C + 1);
    }};
constexpr SettingAccess kPreTrigger{
    [](const CardSettings& s, const CardSetting&) {
      return Number(s.preTriggerPercent.value_or(s.EffectivePostSamples() == s.recordLength ? 0 : 25));
    },
    SetPlain<&CardSettings::preTriggerPercent>};
// The generator's type switches its output on; "off" switches it off.
constexpr SettingAccess kGeneratorType{
    [](const CardSettings& s, const CardSetting&) { return Number(s.generator.signalType.value_or(RK350_GEN_SINE)); },
    [](CardSettings& s, const SettingValue& v) {
      s.generator.off = IsNone(v);
      if (!IsNone(v)) s.generator.signalType = static_cast<int>(NumberOf(v));
    }};
constexpr SettingAccess kGeneratorOn{
    [](const CardSettings& s, const CardSetting&) { return Number(s.generator.off ? 0 : 1); },
    [](CardSettings& s, const SettingValue& v) { s.generator.off = NumberOf(v) == 0; }};

// ---- The rows ------------------------------------------------------------------

// Both channels' rows, alike but for the channel.
template <int C>
constexpr std::array<CardSetting, 5> ChannelRows() {
  constexpr bool first = C == 0;
  constexpr auto pick = [](const char* ch1, const char* ch2) { return first ? ch1 : ch2; };
  return {{
      {.key = pick("ch1.range", "ch2.range"),
       .flag = pick("ch1-range", "ch2-range"),
       .unit = "V",
       .none = "auto",
       .lowest = 0,
       .aboveLowest = true,
       .section = "Channels",
       .argument = "V|auto",
       .help = pick("full scale of CH1 in volts (the smallest offered range that holds it: --show lists them) or "
                    "auto for automatic ranging (default 2)",
                    "the same for CH2 (default 2)"),
       .access = kRange<C>,
       .wordInJson = true,
       .scpi = ":CHANnel#:RANGe"},
      {.key = pick("ch1.coupling", "ch2.coupling"),
       .flag = pick("ch1-coupling", "ch2-coupling"),
       .kind = SettingKind::Choice,
       .choices = kCouplings,
       .codesToo = true,
       .section = "Channels",
       .help = pick("coupling of CH1: {choices} (default: the library's, dc)", "the same for CH2"),
       .access = kPlain<&CardSettings::channels, C, &ChannelOptions::coupling>,
       .unset = RK350_COUPLING_DC,
       .scpi = ":CHANnel#:COUPling"},
      {.key = pick("ch1.dcLevel", "ch2.dcLevel"),
       .flag = pick("ch1-dc-level", "ch2-dc-level"),
       .unit = "V",
       .section = "Channels",
       .argument = "V",
       .help = pick("DC level (input offset) of CH1 in volts; the library takes up to twice the range (default 0)",
                    "the same for CH2"),
       .access = kPlain<&CardSettings::channels, C, &ChannelOptions::dcLevel>,
       .unset = 0,
       .scpi = ":CHANnel#:OFFSet"},
      {.key = pick("ch1.source", "ch2.source"),
       .flag = pick("ch1-source", "ch2-source"),
       .kind = SettingKind::Source,
       .choices = kSourceKinds,
       .section = "Channels",
       .argument = "SOURCE",
       .help = pick("virtual card only: wire a built-in source to CH1 instead of the generator, as "
                    "KIND[:AMPLITUDE[:FREQUENCY[:OFFSET]]] with KIND one of {choices} (e.g. square:0.5:250)",
                    "the same for CH2 (unplugged by default)"),
       .access = kSource<&CardSettings::channels, C, &ChannelOptions::source>},
      {.key = pick("ch1.on", "ch2.on"),
       .kind = SettingKind::Flag,
       .section = "Channels",
       .help = pick("CH1 is measured", "CH2 is measured"),
       .access = kMeasured<C>,
       .scpi = ":CHANnel#:DISPlay"},
  }};
}

template <std::size_t... N>
auto Join(const std::array<CardSetting, N>&... parts) {
  std::array<CardSetting, (N + ...)> all{};
  auto at = all.begin();
  ((at = std::copy(parts.begin(), parts.end(), at)), ...);
  return all;
}

const auto& Rows() {
  static const auto rows = Join(
      ChannelRows<0>(), ChannelRows<1>(),
      std::to_array<CardSetting>({
          {.key = "ext.source",
           .flag = "ext-source",
           .kind = SettingKind::Source,
           .choices = kSourceKinds,
           .section = "Channels",
           .argument = "SOURCE",
           .help =
               "virtual card only: wire a built-in source to the external trigger input (TTL-like, threshold 1.4 V), "
               "e.g. square:2.5:1k:2.5 (unplugged by default)",
           .access = kSource<&CardSettings::externalSource>},

          {.key = "rate",
           .flag = "rate",
           .unit = "Hz",
           .lowest = 0,
           .aboveLowest = true,
           .section = "Timebase",
           .argument = "HZ",
           .help =
               "sample rate, e.g. 1M, 250k, 100 (default 1M); the card rounds to the nearest rate it reaches, above "
               "50M both converters sample CH1 (100 MHz)",
           .access = kPlain<&CardSettings::sampleRate>,
           .scpi = ":ACQuire:SRATe"},
          {.key = "samples",
           .flag = "samples",
           .kind = SettingKind::Integer,
           .unit = "samples",
           .lowest = 1,
           .section = "Timebase",
           .argument = "N",
           .help = "record length in samples, e.g. 10k, up to the card's maximum, which --show tells (default 5000); "
                   "complete records with a pre-trigger part up to 65,456 (above, the card's own trigger runs)",
           .access = kPlain<&CardSettings::recordLength>,
           .marks = kMarksSamples,
           .scpi = ":ACQuire:POINts"},
          {.flag = "time",
           .unit = "s",
           .lowest = 0,
           .aboveLowest = true,
           .section = "Timebase",
           .argument = "DURATION",
           .help =
               "record length as a duration, e.g. 5ms (instead of --samples): the number of samples it takes at the "
               "rate the card reaches",
           .access = kPlain<&CardSettings::recordTime>},
          {.key = "preTrigger",
           .flag = "pre-trigger",
           .unit = "%",
           .lowest = 0,
           .highest = 100,
           .section = "Timebase",
           .argument = "PERCENT",
           .help = "share of the record before the trigger (default 25; 0 with --trigger none)",
           .access = kPreTrigger,
           .scpi = ":ACQuire:PRETrigger"},
          {.flag = "post-samples",
           .kind = SettingKind::Integer,
           .unit = "samples",
           .lowest = 0,
           .section = "Timebase",
           .argument = "N",
           .help = "samples after the trigger (instead of --pre-trigger)",
           .access = kPlain<&CardSettings::postSamples>},
          {.flag = "channels",
           .kind = SettingKind::Choice,
           .choices = kChannelSelections,
           .section = "Timebase",
           .help = "channels to measure: {choices} (default 12: both)",
           .access = kPlain<&CardSettings::measureMode>},

          {.key = "trigger.source",
           .flag = "trigger",
           .kind = SettingKind::Choice,
           .choices = TriggerSourceChoices(),
           .codesToo = true,
           .section = "Trigger",
           .argument = "SOURCE",
           .help = "trigger source: {choices} (none: free run), or the library's code (default ch1)",
           .access = kPlain<&CardSettings::triggerSource>,
           .scpi = ":TRIGger[:EDGE]:SOURce"},
          {.key = "trigger.slope",
           .flag = "trigger-mode",
           .kind = SettingKind::Choice,
           .choices = kSlopes,
           .codesToo = true,
           .section = "Trigger",
           .argument = "MODE",
           .help = "trigger condition: {choices}, or a mode number as the library defines them (--show lists them; "
                   "default: the library's, rising)",
           .access = kPlain<&CardSettings::triggerMode>,
           .unset = RK350_TRIGGER_RISING,
           .scpi = ":TRIGger[:EDGE]:SLOPe"},
          {.key = "trigger.level",
           .flag = "trigger-level",
           .unit = "V",
           .section = "Trigger",
           .argument = "V",
           .help = "trigger level in volts on the source channel(s), within its range (default 0)",
           .access = kPlain<&CardSettings::triggerLevel>,
           .scpi = ":TRIGger[:EDGE]:LEVel"},
          {.key = "trigger.hysteresis",
           .flag = "trigger-hysteresis",
           .unit = "V",
           .none = "default",
           .section = "Trigger",
           .argument = "V|default",
           .help = "trigger hysteresis in volts (default: the library's, 10/128 of the range)",
           .access = kPlain<&CardSettings::triggerHysteresis>,
           .scpi = ":TRIGger:HYSTeresis",
           .scpiNone = "DEFault"},
          // 0xFFFFFFFF is the library's "no time-out": the word "none" says it.
          {.key = "trigger.timeout",
           .flag = "trigger-timeout",
           .kind = SettingKind::Integer,
           .unit = "ms",
           .none = "none",
           .lowest = 0,
           .highest = 4294967294.0,
           .section = "Trigger",
           .argument = "DURATION|none",
           .help =
               "force a record when no trigger came within this wall time after the pre-trigger part, in every mode: "
               "e.g. 2s, 500ms, 1.5s (a bare number is milliseconds); none waits for ever (default 1s)",
           .access = kPlain<&CardSettings::triggerTimeoutMs>,
           .scpi = ":TRIGger:TIMeout",
           .scpiNone = "INFinity"},
          {.flag = "card-trigger",
           .kind = SettingKind::Flag,
           .section = "Trigger",
           .help =
               "use the card's own trigger: a trigger that comes before the pre-trigger samples are taken leaves the "
               "record's start without samples (default: the library finds the trigger in a free-running record, so "
               "every position holds a sample, where the record leaves room in the card's memory)",
           .access = kPlain<&CardSettings::cardTrigger>},

          {.key = "average",
           .flag = "average",
           .kind = SettingKind::Integer,
           .unit = "records",
           .lowest = 1,
           .highest = 100000,
           .section = "Acquisition",
           .argument = "N",
           .help = "average N records sample by sample (default 1)",
           .access = kPlain<&CardSettings::average>,
           .scpi = ":ACQuire:COUNt"},

          // The generator's type comes before its switch: a type switches the
          // output on, "on": false then off again.
          {.key = "generator.type",
           .flag = "gen",
           .kind = SettingKind::Choice,
           .choices = kSignalTypes,
           .none = "off",
           .section = "Generator",
           .argument = "TYPE",
           .help =
               "function generator signal: {choices}, or off (default on the virtual card: sine, looped back to CH1; "
               "on the hardware: left as it is unless a --gen option is given)",
           .access = kGeneratorType,
           .marks = kMarksGenerator,
           .scpi = "[:SOURce]:FUNCtion"},
          {.key = "generator.on",
           .kind = SettingKind::Flag,
           .section = "Generator",
           .help = "the generator's output is on",
           .access = kGeneratorOn,
           .marks = kMarksGenerator,
           .scpi = ":OUTPut"},
          {.key = "generator.frequency",
           .flag = "gen-freq",
           .unit = "Hz",
           .section = "Generator",
           .argument = "HZ",
           .help = "generator frequency, up to the card's maximum, which --show tells (default 1k)",
           .access = kPlain<&CardSettings::generator, &GeneratorOptions::frequency>,
           .marks = kMarksGeneratorFrequency,
           .scpi = "[:SOURce]:FREQuency"},
          {.key = "generator.amplitude",
           .flag = "gen-amplitude",
           .unit = "V",
           .section = "Generator",
           .argument = "V",
           .help = "generator amplitude, peak volts, up to the card's maximum, which --show tells (default 1)",
           .access = kPlain<&CardSettings::generator, &GeneratorOptions::amplitude>,
           .marks = kMarksGeneratorLevels,
           .scpi = "[:SOURce]:VOLTage"},
          {.key = "generator.offset",
           .flag = "gen-offset",
           .unit = "V",
           .section = "Generator",
           .argument = "V",
           .help = "generator DC offset in volts, within the card's maximum amplitude (default 0)",
           .access = kPlain<&CardSettings::generator, &GeneratorOptions::offset>,
           .marks = kMarksGeneratorLevels,
           .scpi = "[:SOURce]:VOLTage:OFFSet"},
          {.key = "generator.symmetry",
           .flag = "gen-symmetry",
           .unit = "%",
           .section = "Generator",
           .argument = "PERCENT",
           .help = "generator symmetry in percent, 0 .. 100: share of the period spent rising (sine, triangle) or high "
                   "(square) (default 50)",
           .access = kPlain<&CardSettings::generator, &GeneratorOptions::symmetry>,
           .marks = kMarksGenerator,
           .scpi = "[:SOURce]:FUNCtion:SQUare:DCYCle"},
      }));
  return rows;
}

// 100000, not 1e+05: limits as people write them.
std::string Plain(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

}  // namespace

std::string FormOf(const CardSetting& setting) {
  switch (setting.kind) {
    case SettingKind::Quantity:
      return std::string("a number") + (*setting.unit != '\0' ? std::string(" of ") + setting.unit : "") +
             " (SI prefixes such as 2.5M or 200m)";
    case SettingKind::Integer:
      if (std::string_view(setting.unit) == "ms")
        return "a duration such as 2s, 500ms or 1.5s (a bare number is milliseconds)";
      return std::string("a whole number") + (*setting.unit != '\0' ? std::string(" of ") + setting.unit : "") +
             " (SI prefixes such as 10k)";
    case SettingKind::Choice:
      return "one of " + ChoiceNames(setting) + (setting.codesToo ? " or the library's code" : "");
    case SettingKind::Flag:
      return "on or off";
    case SettingKind::Source:
      return "a source such as square:0.5:250 (kinds " + ChoiceNames(setting) + ")";
  }
  return {};
}

std::uint32_t CardSettings::EffectivePostSamples(std::uint32_t length) const {
  if (postSamples) return std::min(*postSamples, length);
  // Running free, the record starts when the card does: nothing before it
  // was taken in this measurement.
  if (triggerSource == RK350_TS_NO_TRIG && !preTriggerPercent) return length;
  const double share = preTriggerPercent.value_or(25.0) / 100.0;
  const auto pre = static_cast<std::uint32_t>(std::llround(share * length));
  return length - std::min(pre, length);
}

std::optional<std::uint32_t> SamplesForDuration(double seconds, double rate, std::uint32_t maximum) {
  const double samples = std::nearbyint(seconds * rate);
  if (!(samples >= 1) || samples > maximum) return std::nullopt;
  return static_cast<std::uint32_t>(samples);
}

std::span<const CardSetting> CardSettingsTable() { return Rows(); }

void MarkGiven(CardSettings& settings, const CardSetting& setting) {
  if (setting.marks & kMarksSamples) settings.samplesGiven = true;
  if (setting.marks & kMarksGenerator) settings.generatorGiven = true;
  if ((setting.marks & kMarksGeneratorFrequency) == kMarksGeneratorFrequency) settings.generator.frequencyGiven = true;
  if ((setting.marks & kMarksGeneratorLevels) == kMarksGeneratorLevels) settings.generator.levelsGiven = true;
}

const CardSetting* FindSettingByKey(std::string_view key) {
  for (const auto& s : CardSettingsTable())
    if (s.key != nullptr && key == s.key) return &s;
  return nullptr;
}

const CardSetting* FindSettingByFlag(std::string_view flag) {
  for (const auto& s : CardSettingsTable())
    if (s.flag != nullptr && flag == s.flag) return &s;
  return nullptr;
}

const SettingChoice* FindChoice(const CardSetting& setting, int code) {
  for (const auto& c : setting.choices)
    if (c.code == code && c.label != nullptr) return &c;
  return nullptr;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

static bool IsNoneWord(const CardSetting& setting, std::string_view text) {
  return setting.none != nullptr && SameWord(text, setting.none);
}

const SettingChoice* FindChoice(const CardSetting& setting, std::string_view name) {
  for (const auto& c : setting.choices)
    if (SameWord(name, c.name)) return &c;
  return nullptr;
}

std::string ChoiceNames(const CardSetting& setting) {
  std::string names;
  for (const auto& c : setting.choices)
    if (c.label != nullptr) names += (names.empty() ? "" : ", ") + std::string(c.name);
  return names;
}

std::string DescribeChoices() {
  std::string text;
  const auto table = CardSettingsTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const auto& row = table[i];
    const auto sameList = [&](const CardSetting& other) { return other.choices.data() == row.choices.data(); };
    if (row.flag == nullptr || row.choices.empty() ||
        std::any_of(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(i), sameList))
      continue;
    std::string flags, names;
    for (const auto& other : table.subspan(i))
      if (other.flag != nullptr && sameList(other)) flags += (flags.empty() ? "--" : ", --") + std::string(other.flag);
    for (const auto& c : row.choices)
      if (c.label != nullptr)
        names += (names.empty() ? "" : ", ") + std::string(c.name) + " (" + std::to_string(c.code) + ")";
    text += "  " + flags + ": " + names + "\n";
  }
  return text;
}

std::string ArgumentText(const CardSetting& setting) {
  if (setting.kind == SettingKind::Flag) return {};
  if (setting.argument != nullptr) return setting.argument;
  std::string names;
  for (const auto& c : setting.choices)
    if (c.label != nullptr) names += (names.empty() ? "" : "|") + std::string(c.name);
  return names;
}

std::string SettingHelp(const CardSetting& setting) {
  std::string help = setting.help;
  if (const auto at = help.find("{choices}"); at != std::string::npos) help.replace(at, 9, ChoiceNames(setting));
  return help;
}

std::string LimitsText(const CardSetting& setting) {
  const bool low = std::isfinite(setting.lowest), high = std::isfinite(setting.highest);
  const std::string unit = *setting.unit != '\0' ? std::string(" ") + setting.unit : "";
  if (low && high) return "within " + Plain(setting.lowest) + " .. " + Plain(setting.highest) + unit;
  if (low) return (setting.aboveLowest ? "above " : "at least ") + Plain(setting.lowest) + unit;
  if (high) return "at most " + Plain(setting.highest) + unit;
  return {};
}

std::string CheckSettingNumber(const CardSetting& setting, double value) {
  if (!std::isfinite(value)) return "is not a finite number";
  if (setting.kind == SettingKind::Integer && value != std::floor(value))
    return std::string("is not a whole number") + (*setting.unit != '\0' ? std::string(" of ") + setting.unit : "");
  const bool tooLow = setting.aboveLowest ? !(value > setting.lowest) : !(value >= setting.lowest);
  if (tooLow || !(value <= setting.highest)) return "must be " + LimitsText(setting);
  return {};
}

std::optional<SettingValue> ParseSettingText(const CardSetting& setting, const std::string& text, std::string& error) {
  if (IsNoneWord(setting, text)) return SettingValue();
  const auto bad = [&]() -> std::optional<SettingValue> {
    const std::string beyond = NonFiniteNumberIn(text);
    error = "invalid value '" + text +
            "': " + (beyond.empty() ? "not " + FormOf(setting) : beyond + " is not a finite number");
    return std::nullopt;
  };
  switch (setting.kind) {
    case SettingKind::Quantity:
    case SettingKind::Integer: {
      const auto q = ParseQuantityIn(text, setting.unit);
      if (!q) return bad();
      if (auto why = CheckSettingNumber(setting, *q); !why.empty()) {
        error = text + " " + why;
        return std::nullopt;
      }
      return SettingValue(*q);
    }
    case SettingKind::Choice: {
      if (const auto* c = FindChoice(setting, text)) return SettingValue(static_cast<double>(c->code));
      if (!setting.codesToo || text.empty() || text.size() > 6 ||
          !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return bad();
      return SettingValue(static_cast<double>(std::stoi(text)));
    }
    case SettingKind::Flag:
      if (SameWord(text, "on") || SameWord(text, "true") || text == "1") return SettingValue(1.0);
      if (SameWord(text, "off") || SameWord(text, "false") || text == "0") return SettingValue(0.0);
      return bad();
    case SettingKind::Source: {
      const auto source = ParseSource(text);
      if (!source) return bad();
      return SettingValue(FormatSource(*source));
    }
  }
  return bad();
}

std::string FormatSettingValue(const CardSetting& setting, const SettingValue& value) {
  if (IsNone(value)) return setting.none != nullptr ? setting.none : "";
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  const double number = NumberOf(value);
  if (setting.kind == SettingKind::Flag) return number != 0 ? "on" : "off";
  if (setting.kind == SettingKind::Choice)
    if (const auto* c = FindChoice(setting, static_cast<int>(number))) return c->name;
  return FormatNumber(number);
}

namespace {

// The number as written, its prefix applied; not yet checked to be finite.
// `unit` receives the unit written after the prefix ("" for none).
std::optional<double> ReadQuantity(const std::string& text, std::string* unit = nullptr) {
  if (unit != nullptr) unit->clear();
  if (text.empty()) return std::nullopt;
  const char* begin = text.c_str();
  char* end = nullptr;
  double value = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  std::string rest(end);
  if (!rest.empty()) {
    static const struct {
      const char* prefix;
      double factor;
    } kPrefixes[] = {{"G", 1e9},  {"M", 1e6},  {"k", 1e3},         {"K", 1e3},
                     {"m", 1e-3}, {"u", 1e-6}, {"\xC2\xB5", 1e-6}, {"n", 1e-9}};
    // A unit alone ("5V", "1Hz", "2s") is allowed; "m" alone is milli.
    static const char* const kUnits[] = {"", "Hz", "V", "s", "%"};
    auto isUnit = [](const std::string& s) {
      for (const char* u : kUnits)
        if (SameWord(s, u)) return true;
      return false;
    };
    if (!isUnit(rest)) {
      bool matched = false;
      for (const auto& p : kPrefixes) {
        const std::string prefix = p.prefix;
        if (rest.compare(0, prefix.size(), prefix) == 0 && isUnit(rest.substr(prefix.size()))) {
          value *= p.factor;
          matched = true;
          if (unit != nullptr) *unit = rest.substr(prefix.size());
          break;
        }
      }
      if (!matched) return std::nullopt;
    } else if (unit != nullptr) {
      *unit = rest;
    }
  }
  return value;
}

}  // namespace

std::optional<double> ParseQuantity(const std::string& text) {
  // Every number of every surface passes here: NaN, infinities and values
  // that overflow (also through a prefix: "1e308G") are not numbers to use.
  const auto value = ReadQuantity(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<double> ParseQuantityIn(const std::string& text, const char* rowUnit) {
  std::string written;
  const auto value = ReadQuantity(text, &written);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  if (written.empty()) return value;  // a bare number is in the row's unit
  // A duration row in milliseconds takes seconds with any prefix ("2s", "500ms").
  const std::string_view row = rowUnit;
  const std::string_view base = row == "ms" ? "s" : row;
  if (!SameWord(written, base)) return std::nullopt;
  const double inRowUnit = row == "ms" ? *value * 1e3 : *value;
  if (!std::isfinite(inRowUnit)) return std::nullopt;
  return inRowUnit;
}

std::string NonFiniteNumberIn(const std::string& text) {
  std::string::size_type start = 0;
  while (start <= text.size()) {
    const auto end = std::min(text.find(':', start), text.size());
    const std::string part = text.substr(start, end - start);
    if (const auto value = ReadQuantity(part); value && !std::isfinite(*value)) return part;
    start = end + 1;
  }
  return {};
}

std::optional<SourceOptions> ParseSource(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const auto colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() > 4) return std::nullopt;
  SourceOptions source;
  bool known = false;
  for (const auto& k : kSourceKinds) {
    if (parts[0] == k.name) {
      source.kind = k.code;
      known = true;
    }
  }
  if (!known) return std::nullopt;
  double* const fields[] = {&source.amplitude, &source.frequency, &source.offset};
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const auto q = ParseQuantity(parts[i]);
    if (!q) return std::nullopt;
    *fields[i - 1] = *q;
  }
  if (source.frequency < 0) return std::nullopt;
  return source;
}

std::vector<std::string> SourceKindNames() {
  std::vector<std::string> names;
  for (const auto& k : kSourceKinds) names.push_back(k.name);
  return names;
}

std::string FormatSource(const SourceOptions& source) {
  std::string text = kSourceKinds[0].name;  // unplugged
  for (const auto& k : kSourceKinds)
    if (k.code == source.kind) text = k.name;
  return text + ':' + FormatNumber(source.amplitude) + ':' + FormatNumber(source.frequency) + ':' +
         FormatNumber(source.offset);
}

}  // namespace rk350::capture
