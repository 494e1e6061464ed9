#include "options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <sstream>

#include "csv_writer.h"
#include "rk350/rk350.h"
#include "trigger_sources.h"

namespace rk350::capture {
namespace {

using Apply = std::function<std::string(CaptureOptions&, const std::string&)>;

struct OptionSpec {
  const char* section;
  const char* name;      // without the leading "--"
  const char* argument;  // nullptr for a flag
  const char* help;
  Apply apply;
};

struct NamedCode {
  const char* name;
  int code;
};

constexpr NamedCode kTriggerModes[] = {{"rising", 0}, {"falling", 1}};
constexpr NamedCode kCouplings[] = {{"dc", 0}, {"ac", 1}};
constexpr NamedCode kSourceKinds[] = {{"unplugged", 0}, {"dc", 1},    {"sine", 2},     {"square", 3},
                                      {"step", 4},      {"noise", 5}, {"generator", 7}};
constexpr NamedCode kSignalTypes[] = {{"sine", 0}, {"triangle", 1}, {"square", 2}, {"dc", 3}, {"noise", 4}};

// A name from the table or a plain non-negative integer.
std::optional<int> ParseCode(const std::string& text, std::span<const NamedCode> names) {
  for (const auto& n : names)
    if (text == n.name) return n.code;
  if (text.empty() || text.size() > 6) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  return std::stoi(text);
}

// Says why, when a number is beyond any finite value.
std::string Bad(const std::string& what, const std::string& text) {
  const std::string beyond = NonFiniteNumberIn(text);
  return "invalid " + what + " '" + text + "'" + (beyond.empty() ? "" : ": " + beyond + " is not a finite number");
}

// A path that ends in a file's name: not empty, not a directory ("out/"),
// which would give hidden files named ".csv" and ".svg".
bool NamesAFile(const std::string& path) { return !path.empty() && path.back() != '/' && path.back() != '\\'; }

Apply Quantity(const char* what, std::function<std::string(CaptureOptions&, double)> store) {
  return [what, store](CaptureOptions& o, const std::string& v) -> std::string {
    const auto q = ParseQuantity(v);
    if (!q) return Bad(what, v);
    return store(o, *q);
  };
}

std::optional<std::uint64_t> ParseUnsigned(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const int base = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
  if (text[0] == '-' || text[0] == '+') return std::nullopt;
  const unsigned long long value = std::strtoull(text.c_str(), &end, base);
  if (*end != '\0') return std::nullopt;
  return value;
}

Apply Unsigned(const char* what, std::uint64_t lowest, std::uint64_t highest,
               std::function<void(CaptureOptions&, std::uint64_t)> store) {
  return [=](CaptureOptions& o, const std::string& v) -> std::string {
    const auto n = ParseUnsigned(v);
    if (!n || *n < lowest || *n > highest) return Bad(what, v);
    store(o, *n);
    return {};
  };
}

// "trigger source: ch1, ch2, ... or a number (default ch1)", from the table.
const char* TriggerSourceHelp() {
  static const std::string help = [] {
    std::string text = "trigger source:";
    for (const auto& source : TriggerSources()) {
      text += std::string(" ") + source.name;
      if (source.code == RK350_TS_NO_TRIG) text += " (free run)";
      text += ",";
    }
    text.back() = ' ';
    return text + "or a number (default ch1)";
  }();
  return help.c_str();
}

std::vector<OptionSpec> Specs() {
  std::vector<OptionSpec> specs = {
      {"General", "help", nullptr, "show this text and exit",
       [](CaptureOptions& o, const std::string&) {
         o.help = true;
         return std::string();
       }},
      {"General", "version", nullptr, "show the tool's and the library's version and exit",
       [](CaptureOptions& o, const std::string&) {
         o.version = true;
         return std::string();
       }},
      {"General", "show", nullptr,
       "list what the card offers (ranges, sample rates and how requests are rounded, trigger sources and modes, "
       "generator limits) and exit",
       [](CaptureOptions& o, const std::string&) {
         o.show = true;
         return std::string();
       }},
      {"General", "hardware", nullptr,
       "use the hardware flavour (librk350: the real card through x86 port access) instead of the virtual card",
       [](CaptureOptions& o, const std::string&) {
         o.hardware = true;
         return std::string();
       }},
      {"General", "address", "ADDR", "I/O base address of the card, decimal or 0x-hex (default 0x288)",
       Unsigned("address", 0, 0xFFFF,
                [](CaptureOptions& o, std::uint64_t n) { o.address = static_cast<uint16_t>(n); })},
      {"General", "library", "FILE",
       "load this library file instead of searching (the environment variable RK350_LIBRARY does the same)",
       [](CaptureOptions& o, const std::string& v) {
         o.library = v;
         return std::string();
       }},
      {"Timebase", "rate", "HZ",
       "sample rate, e.g. 1M, 250k, 100 (default 1M); the card rounds to the nearest rate it reaches, above 50M "
       "both converters sample CH1 (100 MHz)",
       Quantity("rate",
                [](CaptureOptions& o, double v) {
                  if (!(v > 0) || !std::isfinite(v)) return std::string("the sample rate must be above 0");
                  o.sampleRate = v;
                  return std::string();
                })},
      {"Timebase", "samples", "N", "record length in samples, 1 .. 65520 (default 5000)",
       Unsigned("record length", 1, 65520,
                [](CaptureOptions& o, std::uint64_t n) {
                  o.recordLength = static_cast<std::uint32_t>(n);
                  o.samplesGiven = true;
                })},
      {"Timebase", "time", "DURATION",
       "record length as a duration, e.g. 5ms (instead of --samples): the number of samples it takes at the rate "
       "the card reaches",
       Quantity("record time",
                [](CaptureOptions& o, double v) {
                  if (!(v > 0)) return std::string("the record time must be above 0");
                  o.recordTime = v;
                  return std::string();
                })},
      {"Timebase", "pre-trigger", "PERCENT",
       "share of the record before the trigger, 0 .. 100 (default 25; 0 with --trigger none)",
       Quantity("pre-trigger share",
                [](CaptureOptions& o, double v) {
                  if (!(v >= 0 && v <= 100)) return std::string("the pre-trigger share lies between 0 and 100 %");
                  o.preTriggerPercent = v;
                  return std::string();
                })},
      {"Timebase", "post-samples", "N", "samples after the trigger (instead of --pre-trigger)",
       Unsigned("post samples", 0, 65520,
                [](CaptureOptions& o, std::uint64_t n) { o.postSamples = static_cast<std::uint32_t>(n); })},
      {"Timebase", "channels", "1|2|12", "channels to measure (default 12: both)",
       [](CaptureOptions& o, const std::string& v) {
         if (v == "1")
           o.measureMode = 1;
         else if (v == "2")
           o.measureMode = 2;
         else if (v == "12" || v == "both")
           o.measureMode = 3;
         else
           return Bad("channel selection", v);
         return std::string();
       }},
      {"Trigger", "trigger", "SOURCE", TriggerSourceHelp(),
       [](CaptureOptions& o, const std::string& v) {
         const auto c = TriggerSourceCode(v) ? TriggerSourceCode(v) : ParseCode(v, {});
         if (!c) return Bad("trigger source", v);
         o.triggerSource = *c;
         return std::string();
       }},
      {"Trigger", "trigger-mode", "MODE",
       "trigger condition: rising (0), falling (1), or mode number 0 .. 6 as the library defines them "
       "(default: the library's, rising)",
       [](CaptureOptions& o, const std::string& v) {
         const auto c = ParseCode(v, kTriggerModes);
         if (!c) return Bad("trigger mode", v);
         o.triggerMode = *c;
         return std::string();
       }},
      {"Trigger", "trigger-level", "V", "trigger level in volts on the source channel(s) (default 0)",
       Quantity("trigger level",
                [](CaptureOptions& o, double v) {
                  o.triggerLevel = v;
                  return std::string();
                })},
      {"Trigger", "trigger-hysteresis", "V",
       "trigger hysteresis in volts (default: the library's, 10/128 of the range)",
       Quantity("trigger hysteresis",
                [](CaptureOptions& o, double v) {
                  if (!(v >= 0)) return std::string("the trigger hysteresis is not negative");
                  o.triggerHysteresis = v;
                  return std::string();
                })},
      {"Trigger", "trigger-timeout", "MS|none",
       "force a record when no trigger came within this many milliseconds; none waits for ever (default 1000)",
       [](CaptureOptions& o, const std::string& v) {
         if (v == "none" || v == "-1") {
           o.triggerTimeoutMs.reset();
           return std::string();
         }
         const auto n = ParseUnsigned(v);
         if (!n || *n > 0xFFFFFFFEull) return Bad("trigger time-out", v);
         o.triggerTimeoutMs = static_cast<std::uint32_t>(*n);
         return std::string();
       }},
      {"Trigger", "card-trigger", nullptr,
       "use the card's own trigger: a trigger that comes before the pre-trigger samples are taken leaves the "
       "record's start without samples (default: the library finds the trigger in a free-running record, "
       "so every position holds a sample, where the record leaves room in the card's memory)",
       [](CaptureOptions& o, const std::string&) {
         o.cardTrigger = true;
         return std::string();
       }},
      {"Acquisition", "average", "N", "average N records sample by sample (default 1)",
       Unsigned("average count", 1, 100000,
                [](CaptureOptions& o, std::uint64_t n) { o.average = static_cast<int>(n); })},
      {"Acquisition", "continuous", nullptr,
       "keep measuring with the library's timer-driven engine and refresh the summary after every record "
       "(Ctrl-C stops; the files hold the last record)",
       [](CaptureOptions& o, const std::string&) {
         o.mode = RunMode::Continuous;
         return std::string();
       }},
      {"Acquisition", "count", "N", "with --continuous: stop after N records (default 0: until interrupted)",
       Unsigned("record count", 0, 1000000000,
                [](CaptureOptions& o, std::uint64_t n) { o.count = static_cast<int>(n); })},
      {"Generator", "gen", "TYPE",
       "function generator signal: sine, triangle, square, dc, noise, or off (default on the virtual card: sine, "
       "looped back to CH1; on the hardware: left as it is unless a --gen option is given)",
       [](CaptureOptions& o, const std::string& v) {
         o.generatorGiven = true;
         if (v == "off") {
           o.generator.off = true;
           return std::string();
         }
         const auto c = ParseCode(v, kSignalTypes);
         if (!c || *c > 4) return Bad("generator signal", v) + " (a user waveform comes with --gen-file)";
         o.generator.signalType = *c;
         o.generator.off = false;
         return std::string();
       }},
      {"Generator", "gen-freq", "HZ", "generator frequency (default 1k)",
       Quantity("generator frequency",
                [](CaptureOptions& o, double v) {
                  if (!(v > 0) || !std::isfinite(v)) return std::string("the generator frequency must be above 0");
                  o.generatorGiven = true;
                  o.generator.frequency = v;
                  o.generator.frequencyGiven = true;
                  return std::string();
                })},
      {"Generator", "gen-amplitude", "V", "generator amplitude, peak volts, 0 .. 10 (default 1)",
       Quantity("generator amplitude",
                [](CaptureOptions& o, double v) {
                  o.generatorGiven = true;
                  o.generator.amplitude = v;
                  o.generator.levelsGiven = true;
                  return std::string();
                })},
      {"Generator", "gen-offset", "V", "generator DC offset in volts, -10 .. 10 (default 0)",
       Quantity("generator offset",
                [](CaptureOptions& o, double v) {
                  o.generatorGiven = true;
                  o.generator.offset = v;
                  o.generator.levelsGiven = true;
                  return std::string();
                })},
      {"Generator", "gen-symmetry", "PERCENT",
       "generator symmetry in percent, 0 .. 100: share of the period spent rising (sine, triangle) or high (square) "
       "(default 50)",
       Quantity("generator symmetry",
                [](CaptureOptions& o, double v) {
                  o.generatorGiven = true;
                  o.generator.symmetry = v;
                  return std::string();
                })},
      {"Generator", "gen-file", "FILE",
       "a user waveform: one period of volts, one a line, or time (s) and volts per line (resampled to 1024 points); "
       "its lowest and highest volts set amplitude and offset, --gen-freq its repetition frequency (default for "
       "times and volts: the period they span)",
       [](CaptureOptions& o, const std::string& v) {
         if (v.empty()) return std::string("--gen-file needs a file name");
         o.generatorGiven = true;
         o.generator.file = v;
         return std::string();
       }},
      {"Output", "output", "BASE",
       "write BASE.csv and BASE.svg (default capture); a name ending in .csv, .svg or .sr writes that one file, - "
       "writes the CSV to standard output",
       [](CaptureOptions& o, const std::string& v) {
         if (!NamesAFile(v)) return "needs a file name, not \"" + v + "\"";
         o.outputBase = v;
         return std::string();
       }},
      {"Output", "format", "LIST",
       "the files to write, comma-separated: csv, svg, sr (a sigrok session that PulseView opens and sigrok-cli "
       "reads) (default csv,svg)",
       [](CaptureOptions& o, const std::string& v) {
         o.writeCsv = o.writeSvg = o.writeSr = false;
         std::string::size_type start = 0;
         while (start <= v.size()) {
           const auto comma = std::min(v.find(',', start), v.size());
           const std::string name = v.substr(start, comma - start);
           if (name == "csv")
             o.writeCsv = true;
           else if (name == "svg")
             o.writeSvg = true;
           else if (name == "sr")
             o.writeSr = true;
           else
             return Bad("format", name);
           start = comma + 1;
         }
         o.formatGiven = true;
         return std::string();
       }},
      {"Output", "csv", "FILE", "write the CSV here instead (- for standard output)",
       [](CaptureOptions& o, const std::string& v) {
         if (!NamesAFile(v)) return "needs a file name, not \"" + v + "\"";
         o.csvPath = v;
         o.writeCsv = true;
         return std::string();
       }},
      {"Output", "sr", "FILE", "write a sigrok session here too",
       [](CaptureOptions& o, const std::string& v) {
         if (!NamesAFile(v)) return "needs a file name, not \"" + v + "\"";
         o.srPath = v;
         o.writeSr = true;
         return std::string();
       }},
      {"Output", "raw", nullptr,
       "the CSV holds the converters' 8-bit codes (0 .. 255, 128 is 0 V) instead of volts, as ADC_GetDataCh "
       "gives them in the high byte",
       [](CaptureOptions& o, const std::string&) {
         o.raw = true;
         return std::string();
       }},
      {"Output", "svg", "FILE", "write the plot here instead",
       [](CaptureOptions& o, const std::string& v) {
         if (!NamesAFile(v)) return "needs a file name, not \"" + v + "\"";
         o.svgPath = v;
         o.writeSvg = true;
         return std::string();
       }},
      {"Output", "no-csv", nullptr, "do not write the CSV",
       [](CaptureOptions& o, const std::string&) {
         o.writeCsv = false;
         return std::string();
       }},
      {"Output", "no-plot", nullptr, "do not write the plot",
       [](CaptureOptions& o, const std::string&) {
         o.writeSvg = false;
         return std::string();
       }},
      {"Output", "title", "TEXT", "title of the plot",
       [](CaptureOptions& o, const std::string& v) {
         o.title = v;
         return std::string();
       }},
      {"Output", "quiet", nullptr, "no progress display",
       [](CaptureOptions& o, const std::string&) {
         o.quiet = true;
         return std::string();
       }},
  };
  // Channel options, the same for both channels.
  static const char* const kNames[2][4] = {{"ch1-range", "ch1-coupling", "ch1-dc-level", "ch1-source"},
                                           {"ch2-range", "ch2-coupling", "ch2-dc-level", "ch2-source"}};
  std::vector<OptionSpec> channel;
  for (int c = 0; c < 2; ++c) {
    channel.push_back({"Channels", kNames[c][0], "V|auto",
                       c == 0 ? "full scale of CH1 in volts (nearest offered range: 0.1 0.2 0.4 0.8 2 4 8 20 40 80) "
                                "or auto for automatic ranging (default 2)"
                              : "the same for CH2 (default 2)",
                       [c](CaptureOptions& o, const std::string& v) {
                         if (v == "auto") {
                           o.channels[c].autoRange = true;
                           return std::string();
                         }
                         const auto q = ParseQuantity(v);
                         if (!q || !(*q > 0)) return Bad("range", v);
                         o.channels[c].range = *q;
                         o.channels[c].autoRange = false;
                         return std::string();
                       }});
    channel.push_back(
        {"Channels", kNames[c][1], "dc|ac",
         c == 0 ? "coupling of CH1: dc (code 0) or ac (code 1) (default: the library's, dc)" : "the same for CH2",
         [c](CaptureOptions& o, const std::string& v) {
           const auto code = ParseCode(v, kCouplings);
           if (!code || *code > 1) return Bad("coupling", v);
           o.channels[c].coupling = *code;
           return std::string();
         }});
    channel.push_back(
        {"Channels", kNames[c][2], "V",
         c == 0 ? "DC level (input offset) of CH1 in volts, within twice the range (default 0)" : "the same for CH2",
         Quantity("DC level", [c](CaptureOptions& o, double v) {
           o.channels[c].dcLevel = v;
           return std::string();
         })});
    channel.push_back({"Channels", kNames[c][3], "SOURCE",
                       c == 0 ? "virtual card only: wire a built-in source to CH1 instead of the generator, as "
                                "KIND[:AMPLITUDE[:FREQUENCY[:OFFSET]]] with KIND unplugged, dc, sine, square, step, "
                                "noise or generator (e.g. square:0.5:250)"
                              : "the same for CH2 (unplugged by default)",
                       [c](CaptureOptions& o, const std::string& v) {
                         const auto source = ParseSource(v);
                         if (!source) return Bad("source", v);
                         o.channels[c].source = *source;
                         return std::string();
                       }});
  }
  channel.push_back({"Channels", "ext-source", "SOURCE",
                     "virtual card only: wire a built-in source to the external trigger input (TTL-like, threshold "
                     "1.4 V), e.g. square:2.5:1k:2.5 (unplugged by default)",
                     [](CaptureOptions& o, const std::string& v) {
                       const auto source = ParseSource(v);
                       if (!source) return Bad("source", v);
                       o.externalSource = *source;
                       return std::string();
                     }});
  specs.insert(specs.begin() + 6, channel.begin(), channel.end());
  return specs;
}

// --output NAME: "-" is standard output for the one file chosen (the CSV
// unless --format says otherwise); a name ending in a file type's extension
// chooses that file alone, unless --format chose. Files given their own
// name (--csv, --svg, --sr) are written as well.
std::string ResolveOutputs(CaptureOptions& o) {
  struct Type {
    const char* extension;
    bool CaptureOptions::*write;
    std::optional<std::string> CaptureOptions::*path;
  };
  static const Type kTypes[] = {{".csv", &CaptureOptions::writeCsv, &CaptureOptions::csvPath},
                                {".svg", &CaptureOptions::writeSvg, &CaptureOptions::svgPath},
                                {".sr", &CaptureOptions::writeSr, &CaptureOptions::srPath}};
  const std::string name = o.outputBase;
  const Type* chosen = nullptr;
  for (const auto& type : kTypes) {
    const std::string extension = type.extension;
    if (name.size() > extension.size() && name.ends_with(extension)) chosen = &type;
  }
  if (!o.formatGiven && (name == "-" || chosen != nullptr)) {
    for (const auto& type : kTypes) o.*type.write = (o.*type.path).has_value();
    o.*(chosen != nullptr ? chosen->write : &CaptureOptions::writeCsv) = true;
  }
  if (chosen != nullptr && !o.formatGiven) o.outputBase = name.substr(0, name.size() - std::strlen(chosen->extension));
  if (name == "-") {
    int unnamed = 0;
    for (const auto& type : kTypes) {
      if (o.*type.write && !(o.*type.path).has_value()) {
        ++unnamed;
        o.*type.path = "-";
      }
    }
    if (unnamed != 1) return "--output -: standard output takes one file; choose it with --format";
  }
  int onStandardOutput = 0;
  for (const auto& type : kTypes) onStandardOutput += o.*type.write && (o.*type.path).value_or("") == "-";
  if (onStandardOutput > 1) return "only one file can go to standard output";
  return {};
}

}  // namespace

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
  std::string text = "unplugged";
  for (const auto& k : kSourceKinds)
    if (k.code == source.kind) text = k.name;
  return text + ':' + FormatNumber(source.amplitude) + ':' + FormatNumber(source.frequency) + ':' +
         FormatNumber(source.offset);
}

std::uint32_t CaptureOptions::EffectivePostSamples(std::uint32_t length) const {
  if (postSamples) return std::min(*postSamples, length);
  // Running free, the record starts when the card does: nothing before it
  // was taken in this measurement.
  if (triggerSource == RK350_TS_NO_TRIG && !preTriggerPercent) return length;
  const double share = preTriggerPercent.value_or(25.0) / 100.0;
  const auto pre = static_cast<std::uint32_t>(std::llround(share * length));
  return length - std::min(pre, length);
}

namespace {

// The number as written, its prefix applied; not yet checked to be finite.
std::optional<double> ReadQuantity(const std::string& text) {
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
    } kPrefixes[] = {{"G", 1e9}, {"M", 1e6}, {"k", 1e3}, {"m", 1e-3}, {"u", 1e-6}, {"\xC2\xB5", 1e-6}, {"n", 1e-9}};
    // A unit alone ("5V", "1Hz", "2s") is allowed; "m" alone is milli.
    static const char* const kUnits[] = {"", "Hz", "V", "s", "%"};
    auto isUnit = [](const std::string& s) {
      for (const char* u : kUnits)
        if (s == u) return true;
      return false;
    };
    if (!isUnit(rest)) {
      bool matched = false;
      for (const auto& p : kPrefixes) {
        const std::string prefix = p.prefix;
        if (rest.compare(0, prefix.size(), prefix) == 0 && isUnit(rest.substr(prefix.size()))) {
          value *= p.factor;
          matched = true;
          break;
        }
      }
      if (!matched) return std::nullopt;
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

ParseResult ParseArguments(const std::vector<std::string>& arguments) {
  ParseResult result;
  const auto specs = Specs();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    if (arg == "-h") arg = "--help";
    if (arg.rfind("--", 0) != 0) {
      result.error = "unexpected argument '" + arg + "' (see --help)";
      return result;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (const auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    const OptionSpec* spec = nullptr;
    for (const auto& s : specs)
      if (name == s.name) spec = &s;
    if (spec == nullptr) {
      result.error = "unknown option '--" + name + "' (see --help)";
      return result;
    }
    if (spec->argument != nullptr && !value) {
      if (i + 1 >= arguments.size()) {
        result.error = "option '--" + name + "' needs a value " + spec->argument;
        return result;
      }
      value = arguments[++i];
    } else if (spec->argument == nullptr && value) {
      result.error = "option '--" + name + "' takes no value";
      return result;
    }
    if (auto error = spec->apply(result.options, value.value_or("")); !error.empty()) {
      result.error = "--" + name + ": " + error;
      return result;
    }
  }
  auto& o = result.options;
  if (o.postSamples && !o.recordTime && *o.postSamples > o.recordLength) {
    result.error = "--post-samples: more post samples than the record holds";
  } else if (o.postSamples && o.preTriggerPercent) {
    result.error = "give either --pre-trigger or --post-samples, not both";
  } else if (o.recordTime && o.samplesGiven) {
    result.error = "give either --samples or --time, not both";
  } else if (!o.generator.file.empty() && (o.generator.signalType || o.generator.off)) {
    result.error = "--gen-file is the signal: not with --gen";
  } else if (!o.generator.file.empty() && o.generator.levelsGiven) {
    result.error = "--gen-file: the file's volts set amplitude and offset (not --gen-amplitude, --gen-offset)";
  } else if (o.raw && o.average > 1) {
    result.error = "--raw gives the codes of one record; it does not combine with --average";
  } else {
    result.error = ResolveOutputs(o);
  }
  return result;
}

bool CaptureOptions::WritesToStandardOutput() const {
  return (writeCsv && CsvPath() == "-") || (writeSvg && SvgPath() == "-") || (writeSr && SrPath() == "-");
}

std::optional<std::uint32_t> SamplesForDuration(double seconds, double rate, std::uint32_t maximum) {
  const double samples = std::nearbyint(seconds * rate);
  if (!(samples >= 1) || samples > maximum) return std::nullopt;
  return static_cast<std::uint32_t>(samples);
}

std::string HelpText(const std::string& programName) {
  std::ostringstream s;
  s << "Usage: " << programName << " [OPTION]...\n"
    << "Runs one measurement on an RK350 card (the virtual card unless --hardware is given) and writes a\n"
    << "summary per channel, a CSV (time in seconds, 0 at the trigger; volts per channel) and an SVG plot.\n"
    << "Numbers take SI prefixes and units: 1M, 250k, 200mV, 5ms. Options also take the form --name=value.\n";
  const char* section = "";
  for (const auto& spec : Specs()) {
    if (std::string(section) != spec.section) {
      section = spec.section;
      s << '\n' << section << ":\n";
    }
    std::string left = std::string("  --") + spec.name;
    if (spec.argument != nullptr) left += std::string(" ") + spec.argument;
    s << left;
    if (left.size() < 28) {
      s << std::string(28 - left.size(), ' ');
    } else {
      s << "\n" << std::string(28, ' ');
    }
    // Wrap the help at about 100 columns.
    std::istringstream words(spec.help);
    std::string word;
    std::size_t column = 28;
    bool first = true;
    while (words >> word) {
      if (!first && column + 1 + word.size() > 100) {
        s << '\n' << std::string(28, ' ');
        column = 28;
        first = true;
      }
      if (!first) {
        s << ' ';
        ++column;
      }
      s << word;
      column += word.size();
      first = false;
    }
    s << '\n';
  }
  s << "\nLibrary search: --library FILE, else RK350_LIBRARY, else librk350_virtual (librk350 with --hardware)\n"
    << "next to this program, in ../lib beside it, then the system's library path.\n"
    << "Exit status: 0 success; 1 bad command line; 2 the library reported an error (shown by name); 3 files.\n"
    << "Example: " << programName << " --rate 2.5M --samples 8000 --gen square --gen-freq 5k --output out/square\n";
  return s.str();
}

}  // namespace rk350::capture
