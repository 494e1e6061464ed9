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

struct OptionEntry {
  std::string section;
  std::string name;      // without the leading "--"
  std::string argument;  // empty for a flag
  std::string help;
  Apply apply;
};

// The sections of --help, in their order.
constexpr const char* kSections[] = {"General",     "Channels",  "Timebase", "Trigger",
                                     "Acquisition", "Generator", "Output"};

std::string Bad(const std::string& what, const std::string& text) { return "invalid " + what + " '" + text + "'"; }

// A path that ends in a file's name: not empty, not a directory ("out/"),
// which would give hidden files named ".csv" and ".svg".
bool NamesAFile(const std::string& path) { return !path.empty() && path.back() != '/' && path.back() != '\\'; }

// A whole number with SI prefixes ("10k"), or 0x-hex.
std::optional<std::uint64_t> ParseUnsigned(const std::string& text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str() + 2, &end, 16);
    if (*end != '\0' || end == text.c_str() + 2) return std::nullopt;
    return value;
  }
  const auto q = ParseQuantity(text);
  if (!q || *q < 0 || *q != std::floor(*q) || *q > 1e18) return std::nullopt;
  return static_cast<std::uint64_t>(*q);
}

Apply Unsigned(const char* what, std::uint64_t lowest, std::uint64_t highest,
               std::function<void(CaptureOptions&, std::uint64_t)> store) {
  return [=](CaptureOptions& o, const std::string& v) -> std::string {
    const auto n = ParseUnsigned(v);
    if (!n) return Bad(what, v);
    if (*n < lowest || *n > highest)
      return what + std::string(" ") + v + " lies outside " + std::to_string(lowest) + " .. " + std::to_string(highest);
    store(o, *n);
    return {};
  };
}

// A row of the settings table as an option: its value parsed by its kind.
OptionEntry SettingOption(const CardSetting& setting) {
  return {setting.section, setting.flag, ArgumentText(setting), SettingHelp(setting),
          [&setting](CaptureOptions& o, const std::string& text) {
            std::string error;
            if (setting.kind == SettingKind::Flag) {
              setting.set(o.settings, SettingValue(1.0));
              return error;
            }
            if (const auto value = ParseSettingText(setting, text, error)) setting.set(o.settings, *value);
            return error;
          }};
}

std::vector<OptionEntry> OptionEntries() {
  std::vector<OptionEntry> entries = {
      {"General", "help", "", "show this text and exit",
       [](CaptureOptions& o, const std::string&) {
         o.help = true;
         return std::string();
       }},
      {"General", "version", "", "show the tool's and the library's version and exit",
       [](CaptureOptions& o, const std::string&) {
         o.version = true;
         return std::string();
       }},
      {"General", "show", "",
       "list what the card offers (ranges, sample rates and how requests are rounded, trigger sources and modes, "
       "generator limits) and exit",
       [](CaptureOptions& o, const std::string&) {
         o.show = true;
         return std::string();
       }},
      {"General", "hardware", "",
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
      {"Acquisition", "continuous", "",
       "keep measuring with the library's timer-driven engine and refresh the summary after every record "
       "(Ctrl-C stops; the files hold the last record)",
       [](CaptureOptions& o, const std::string&) {
         o.mode = RunMode::Continuous;
         return std::string();
       }},
      {"Acquisition", "count", "N", "with --continuous: stop after N records (default 0: until interrupted)",
       Unsigned("record count", 0, 1000000000,
                [](CaptureOptions& o, std::uint64_t n) { o.count = static_cast<int>(n); })},
      {"Acquisition", "record", "FILE",
       "with --continuous: keep every record in an HDF5 recording (docs/recording.md), flushed record by record",
       [](CaptureOptions& o, const std::string& v) {
         if (!NamesAFile(v) || v == "-") return "needs a file name, not \"" + v + "\"";
         o.recordPath = v;
         return std::string();
       }},
      {"Acquisition", "duration", "TIME", "with --continuous: stop after this long (90s, 10min, 2h)",
       [](CaptureOptions& o, const std::string& v) {
         const auto seconds = ParseDuration(v);
         if (!seconds) return Bad("duration", v);
         o.durationSeconds = *seconds;
         return std::string();
       }},
      {"Acquisition", "max-size", "SIZE", "with --record: stop before the recording exceeds SIZE (500M, 2G)",
       [](CaptureOptions& o, const std::string& v) {
         const auto bytes = ParseByteSize(v);
         if (!bytes) return Bad("size", v);
         o.maxBytes = *bytes;
         return std::string();
       }},
      {"Acquisition", "split", "SIZE|TIME",
       "with --record: a new numbered file (run-0001.h5, run-0002.h5, ...) at this size (100M) or after this long "
       "(10min)",
       [](CaptureOptions& o, const std::string& v) {
         const auto rule = ParseSplit(v);
         if (!rule) return Bad("size or duration", v);
         o.split = *rule;
         return std::string();
       }},
      {"Generator", "gen-file", "FILE",
       "a user waveform: one period of volts, one a line, or time (s) and volts per line (resampled to 1024 points); "
       "its lowest and highest volts set amplitude and offset, --gen-freq its repetition frequency (default for "
       "times and volts: the period they span)",
       [](CaptureOptions& o, const std::string& v) {
         if (v.empty()) return std::string("--gen-file needs a file name");
         o.settings.generatorGiven = true;
         o.settings.generator.file = v;
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
      {"Output", "raw", "",
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
      {"Output", "no-csv", "", "do not write the CSV",
       [](CaptureOptions& o, const std::string&) {
         o.writeCsv = false;
         return std::string();
       }},
      {"Output", "no-plot", "", "do not write the plot",
       [](CaptureOptions& o, const std::string&) {
         o.writeSvg = false;
         return std::string();
       }},
      {"Output", "title", "TEXT", "title of the plot",
       [](CaptureOptions& o, const std::string& v) {
         o.title = v;
         return std::string();
       }},
      {"Output", "quiet", "", "no progress display",
       [](CaptureOptions& o, const std::string&) {
         o.quiet = true;
         return std::string();
       }},
  };
  for (const auto& setting : CardSettingsTable())
    if (setting.flag != nullptr) entries.push_back(SettingOption(setting));
  std::stable_sort(entries.begin(), entries.end(), [](const OptionEntry& a, const OptionEntry& b) {
    const auto rank = [](const std::string& section) {
      return std::find_if(std::begin(kSections), std::end(kSections), [&](const char* s) { return section == s; }) -
             std::begin(kSections);
    };
    return rank(a.section) < rank(b.section);
  });
  return entries;
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

ParseResult ParseArguments(const std::vector<std::string>& arguments) {
  ParseResult result;
  const auto entries = OptionEntries();
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
    const OptionEntry* entry = nullptr;
    for (const auto& s : entries)
      if (name == s.name) entry = &s;
    if (entry == nullptr) {
      result.error = "unknown option '--" + name + "' (see --help)";
      return result;
    }
    if (!entry->argument.empty() && !value) {
      if (i + 1 >= arguments.size()) {
        result.error = "option '--" + name + "' needs a value " + entry->argument;
        return result;
      }
      value = arguments[++i];
    } else if (entry->argument.empty() && value) {
      result.error = "option '--" + name + "' takes no value";
      return result;
    }
    if (auto error = entry->apply(result.options, value.value_or("")); !error.empty()) {
      result.error = "--" + name + ": " + error;
      return result;
    }
  }
  const auto& o = result.options.settings;
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
  } else if (o.generator.file.empty() && o.generator.signalType == RK350_GEN_ARBITRARY) {
    result.error = "--gen arbitrary: a user waveform comes with --gen-file";
  } else if (result.options.raw && o.average > 1) {
    result.error = "--raw gives the codes of one record; it does not combine with --average";
  } else if (result.options.count != 0 && result.options.mode != RunMode::Continuous) {
    result.error = "--count counts the records of --continuous; a single capture takes one";
  } else if (!result.options.recordPath.empty() && result.options.mode != RunMode::Continuous) {
    result.error = "--record keeps the records of --continuous";
  } else if ((result.options.durationSeconds > 0 || result.options.maxBytes > 0 || result.options.split.bytes > 0 ||
              result.options.split.seconds > 0) &&
             result.options.recordPath.empty()) {
    result.error = "--duration, --max-size and --split limit a recording: give --record FILE";
  } else {
    result.error = ResolveOutputs(result.options);
  }
  return result;
}

bool CaptureOptions::WritesToStandardOutput() const {
  return (writeCsv && CsvPath() == "-") || (writeSvg && SvgPath() == "-") || (writeSr && SrPath() == "-");
}

std::string HelpText(const std::string& programName) {
  std::ostringstream s;
  s << "Usage: " << programName << " [OPTION]...\n"
    << "Runs one measurement on an RK350 card (the virtual card unless --hardware is given) and writes a\n"
    << "summary per channel, a CSV (time in seconds, 0 at the trigger; volts per channel) and an SVG plot.\n"
    << "Numbers take SI prefixes and units: 1M, 250k, 200mV, 5ms. Options also take the form --name=value.\n";
  std::string section;
  for (const auto& entry : OptionEntries()) {
    if (section != entry.section) {
      section = entry.section;
      s << '\n' << section << ":\n";
    }
    std::string left = std::string("  --") + entry.name;
    if (!entry.argument.empty()) left += " " + entry.argument;
    s << left;
    if (left.size() < 28) {
      s << std::string(28 - left.size(), ' ');
    } else {
      s << "\n" << std::string(28, ' ');
    }
    // Wrap the help at about 100 columns.
    std::istringstream words(entry.help);
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
