// The capture tool's command line: the card's settings (from the settings
// table), what to measure and where to write it. Parsing is pure (no library
// calls), so it is tested alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card_settings.h"
#include "recording_options.h"

namespace rk350::capture {

enum class RunMode { Block, Continuous };

// The card's settings beside the tool's own options (which card, what to
// run, which files): only `settings` reaches the card.
struct CaptureOptions {
  CardSettings settings;

  bool help = false;
  bool version = false;
  bool show = false;  // list what the card offers and exit
  bool hardware = false;
  std::uint16_t address = 0x288;
  std::string library;  // explicit library file

  RunMode mode = RunMode::Block;
  int count = 0;  // continuous: records to take (0 = until interrupted)
  // Continuous: every record kept in an HDF5 recording (empty: none), for at
  // most this long, this many bytes, in parts of this size or duration.
  std::string recordPath;
  double durationSeconds = 0.0;
  std::uint64_t maxBytes = 0;
  SplitRule split;
  std::string outputBase = "capture";
  std::optional<std::string> csvPath;  // "-": standard output
  std::optional<std::string> svgPath;
  std::optional<std::string> srPath;
  bool writeCsv = true;
  bool writeSvg = true;
  bool writeSr = false;      // sigrok session (srzip)
  bool formatGiven = false;  // --format chose the files
  bool raw = false;          // CSV of the converters' 8-bit codes instead of volts
  std::string title;
  bool quiet = false;

  std::string CsvPath() const { return csvPath.value_or(outputBase + ".csv"); }
  std::string SvgPath() const { return svgPath.value_or(outputBase + ".svg"); }
  std::string SrPath() const { return srPath.value_or(outputBase + ".sr"); }
  // A file goes to standard output: the text for people goes to standard
  // error then.
  bool WritesToStandardOutput() const;
};

struct ParseResult {
  CaptureOptions options;
  std::string error;  // empty when the command line was understood
};

// Which program reads the command line: the scope takes the card's settings
// and the options that choose the card, and refuses the capture's files and
// runs.
enum class Program { Capture, Scope };

ParseResult ParseArguments(const std::vector<std::string>& arguments, Program program = Program::Capture);
std::string HelpText(const std::string& programName);

// One option as --help lists it.
struct OptionHelp {
  std::string section;   // "General", "Channels", ... ("Server": the scope's own)
  std::string name;      // without the leading "--"
  std::string argument;  // empty for a switch
  std::string help;
};
// The capture tool's options that `program` takes, in the order of --help.
std::vector<OptionHelp> CaptureOptionHelp(Program program);
// Options under their sections' headings, in the sections' order, the help
// wrapped at about 100 columns.
std::string FormatOptions(std::vector<OptionHelp> options);

}  // namespace rk350::capture
