#include "options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sstream>
#include <type_traits>

#include "csv_writer.h"
#include "rk350/rk350.h"
#include "trigger_sources.h"

namespace rk350::capture {
namespace {

// An option of the tool's own (not a card setting): what it does to the
// options with its value (the empty text for a switch); why it is refused,
// else empty.
using Apply = std::string (*)(CaptureOptions&, const std::string&);

struct ToolOption {
  const char* section;
  const char* name;      // without the leading "--"
  const char* argument;  // empty for a switch
  const char* help;
  Apply apply;
  bool scope = false;  // the scope takes it too (it chooses the card, not files or runs)
};

// The sections of --help, in their order.
constexpr const char* kSections[] = {"Server",  "General",     "Channels",  "Timebase",
                                     "Trigger", "Acquisition", "Generator", "Output"};

std::string Bad(const std::string& what, const std::string& text) { return "invalid " + what + " '" + text + "'"; }

// A path that ends in a file's name: not empty, not a directory ("out/"),
// which would give hidden files named ".csv" and ".svg".
bool NamesAFile(const std::string& path) { return !path.empty() && path.back() != '/' && path.back() != '\\'; }
std::string NotAFile(const std::string& v) { return "needs a file name, not \"" + v + "\""; }

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

// A whole number within lowest .. highest into `field`.
template <auto Field, std::uint64_t Lowest, std::uint64_t Highest>
std::string StoreUnsigned(CaptureOptions& o, const std::string& v, const char* what) {
  const auto n = ParseUnsigned(v);
  if (!n) return Bad(what, v);
  if (*n < Lowest || *n > Highest)
    return what + std::string(" ") + v + " lies outside " + std::to_string(Lowest) + " .. " + std::to_string(Highest);
  o.*Field = static_cast<std::remove_reference_t<decltype(o.*Field)>>(*n);
  return {};
}

template <bool CaptureOptions::*Field, bool On = true>
std::string Switch(CaptureOptions& o, const std::string&) {
  o.*Field = On;
  return {};
}

// A file of --csv, --svg, --sr: its name, and that it is written.
template <std::optional<std::string> CaptureOptions::*Path, bool CaptureOptions::*Write>
std::string NamedFile(CaptureOptions& o, const std::string& v) {
  if (!NamesAFile(v)) return NotAFile(v);
  o.*Path = v;
  o.*Write = true;
  return {};
}

std::string Formats(CaptureOptions& o, const std::string& v) {
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
  return {};
}

constexpr ToolOption kToolOptions[] = {
    {"General", "help", "", "show this text and exit", Switch<&CaptureOptions::help>, true},
    {"General", "version", "", "show the tool's and the library's version and exit", Switch<&CaptureOptions::version>,
     true},
    {"General", "show", "",
     "list what the card offers (ranges, sample rates and how requests are rounded, trigger sources and modes, "
     "generator limits) and exit",
     Switch<&CaptureOptions::show>},
    {"General", "hardware", "",
     "use the hardware flavour (librk350: the real card through x86 port access) instead of the virtual card",
     Switch<&CaptureOptions::hardware>, true},
    {"General", "address", "ADDR", "I/O base address of the card, decimal or 0x-hex (default 0x288)",
     [](CaptureOptions& o, const std::string& v) {
       return StoreUnsigned<&CaptureOptions::address, 0, 0xFFFF>(o, v, "address");
     },
     true},
    {"General", "library", "FILE",
     "load this library file instead of searching (the environment variable RK350_LIBRARY does the same)",
     [](CaptureOptions& o, const std::string& v) {
       o.library = v;
       return std::string();
     },
     true},
    {"Acquisition", "continuous", "",
     "keep measuring with the library's timer-driven engine and refresh the summary after every record (Ctrl-C "
     "stops; the files hold the last record)",
     [](CaptureOptions& o, const std::string&) {
       o.mode = RunMode::Continuous;
       return std::string();
     }},
    {"Acquisition", "count", "N", "with --continuous: stop after N records (default 0: until interrupted)",
     [](CaptureOptions& o, const std::string& v) {
       return StoreUnsigned<&CaptureOptions::count, 0, 1000000000>(o, v, "record count");
     }},
    {"Acquisition", "record", "FILE",
     "with --continuous: keep every record in an HDF5 recording (docs/recording.md), flushed record by record",
     [](CaptureOptions& o, const std::string& v) {
       if (!NamesAFile(v) || v == "-") return NotAFile(v);
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
     "its lowest and highest volts set amplitude and offset, --gen-freq its repetition frequency (default for times "
     "and volts: the period they span)",
     [](CaptureOptions& o, const std::string& v) {
       if (v.empty()) return std::string("--gen-file needs a file name");
       o.settings.generatorGiven = true;
       o.settings.generator.file = v;
       return std::string();
     },
     true},
    {"Output", "output", "BASE",
     "write BASE.csv and BASE.svg (default capture); a name ending in .csv, .svg or .sr writes that one file, - "
     "writes the CSV to standard output",
     [](CaptureOptions& o, const std::string& v) {
       if (!NamesAFile(v)) return NotAFile(v);
       o.outputBase = v;
       return std::string();
     }},
    {"Output", "format", "LIST",
     "the files to write, comma-separated: csv, svg, sr (a sigrok session that PulseView opens and sigrok-cli "
     "reads) (default csv,svg)",
     Formats},
    {"Output", "csv", "FILE", "write the CSV here instead (- for standard output)",
     NamedFile<&CaptureOptions::csvPath, &CaptureOptions::writeCsv>},
    {"Output", "sr", "FILE", "write a sigrok session here too",
     NamedFile<&CaptureOptions::srPath, &CaptureOptions::writeSr>},
    {"Output", "raw", "",
     "the CSV holds the converters' 8-bit codes (0 .. 255, 128 is 0 V) instead of volts, as ADC_GetDataCh gives "
     "them in the high byte",
     Switch<&CaptureOptions::raw>},
    {"Output", "svg", "FILE", "write the plot here instead",
     NamedFile<&CaptureOptions::svgPath, &CaptureOptions::writeSvg>},
    {"Output", "no-csv", "", "do not write the CSV", Switch<&CaptureOptions::writeCsv, false>},
    {"Output", "no-plot", "", "do not write the plot", Switch<&CaptureOptions::writeSvg, false>},
    {"Output", "title", "TEXT", "title of the plot",
     [](CaptureOptions& o, const std::string& v) {
       o.title = v;
       return std::string();
     }},
    {"Output", "quiet", "", "no progress display", Switch<&CaptureOptions::quiet>},
};

// An option as the parser and --help see it: a tool option or a row of the
// settings table.
struct Option {
  OptionHelp shown;
  const ToolOption* tool = nullptr;
  const CardSetting* setting = nullptr;
  bool scope = true;
};

std::size_t SectionRank(const std::string& section) {
  return static_cast<std::size_t>(
      std::find_if(std::begin(kSections), std::end(kSections), [&](const char* s) { return section == s; }) -
      std::begin(kSections));
}

// Every option of the capture tool, in the order of --help.
std::vector<Option> Options() {
  std::vector<Option> options;
  for (const auto& tool : kToolOptions)
    options.push_back({{tool.section, tool.name, tool.argument, tool.help}, &tool, nullptr, tool.scope});
  for (const auto& setting : CardSettingsTable())
    if (setting.flag != nullptr)
      options.push_back(
          {{setting.section, setting.flag, ArgumentText(setting), SettingHelp(setting)}, nullptr, &setting, true});
  std::stable_sort(options.begin(), options.end(), [](const Option& a, const Option& b) {
    return SectionRank(a.shown.section) < SectionRank(b.shown.section);
  });
  return options;
}

// A row of the settings table given on the command line: its value parsed by
// its kind; the row's marks say that it was given.
std::string ApplySetting(CaptureOptions& o, const CardSetting& setting, const std::string& text) {
  std::string error;
  const auto value =
      setting.kind == SettingKind::Flag ? std::optional(SettingValue(1.0)) : ParseSettingText(setting, text, error);
  if (!value) return error;
  setting.Set(o.settings, *value);
  MarkGiven(o.settings, setting);
  return {};
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

ParseResult ParseArguments(const std::vector<std::string>& arguments, Program program) {
  ParseResult result;
  const auto options = Options();
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
    const auto option =
        std::find_if(options.begin(), options.end(), [&](const Option& o) { return o.shown.name == name; });
    if (option == options.end()) {
      result.error = "unknown option '--" + name + "' (see --help)";
      return result;
    }
    if (program == Program::Scope && !option->scope) {
      result.error = "option '--" + name +
                     "' is rk350-capture's: the scope writes no files and runs continuously "
                     "(see --help)";
      return result;
    }
    const std::string& argument = option->shown.argument;
    if (!argument.empty() && !value) {
      if (i + 1 >= arguments.size()) {
        result.error = "option '--" + name + "' needs a value " + argument;
        return result;
      }
      value = arguments[++i];
    } else if (argument.empty() && value) {
      result.error = "option '--" + name + "' takes no value";
      return result;
    }
    const std::string text = value.value_or("");
    auto error = option->setting != nullptr ? ApplySetting(result.options, *option->setting, text)
                                            : option->tool->apply(result.options, text);
    if (!error.empty()) {
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

std::vector<OptionHelp> CaptureOptionHelp(Program program) {
  std::vector<OptionHelp> shown;
  for (const auto& option : Options())
    if (program == Program::Capture || option.scope) shown.push_back(option.shown);
  return shown;
}

std::string FormatOptions(std::vector<OptionHelp> options) {
  std::stable_sort(options.begin(), options.end(), [](const OptionHelp& a, const OptionHelp& b) {
    return SectionRank(a.section) < SectionRank(b.section);
  });
  std::ostringstream s;
  std::string section;
  for (const auto& entry : options) {
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
  return s.str();
}

std::string HelpText(const std::string& programName) {
  std::ostringstream s;
  s << "Usage: " << programName << " [OPTION]...\n"
    << "Runs one measurement on an RK350 card (the virtual card unless --hardware is given) and writes a\n"
    << "summary per channel, a CSV (time in seconds, 0 at the trigger; volts per channel) and an SVG plot.\n"
    << "Numbers take SI prefixes and units: 1M, 250k, 200mV, 5ms. Options also take the form --name=value.\n"
    << FormatOptions(CaptureOptionHelp(Program::Capture))
    << "\nLibrary search: --library FILE, else RK350_LIBRARY, else librk350_virtual (librk350 with --hardware)\n"
    << "next to this program, in ../lib beside it, then the system's library path.\n"
    << "Exit status: 0 success; 1 bad command line; 2 the library reported an error (shown by name); 3 files.\n"
    << "Example: " << programName << " --rate 2.5M --samples 8000 --gen square --gen-freq 5k --output out/square\n";
  return s.str();
}

}  // namespace rk350::capture
