// The capture tool's command line: what to set up, what to measure and where
// to write it. Parsing is pure (no library calls), so it is tested alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arbitrary_waveform.h"

namespace rk350::capture {

// A built-in signal source of the virtual card wired to an input.
struct SourceOptions {
  int kind = 0;            // the card's source kind: 0 unplugged, 1 DC, 2 sine, 3 square, 4 step, 5 noise, 7 generator
  double amplitude = 0.0;  // V
  double frequency = 0.0;  // Hz
  double offset = 0.0;     // V
};

// "square:0.5:250" (kind, then amplitude V, frequency Hz, offset V, each
// optional); kinds unplugged, dc, sine, square, step, noise, generator.
std::optional<SourceOptions> ParseSource(const std::string& text);
// The kinds' names, in the order of their codes.
std::vector<std::string> SourceKindNames();
// The same form back: "square:0.5:250:0" (every field written).
std::string FormatSource(const SourceOptions& source);

struct ChannelOptions {
  std::optional<double> range;  // V full scale; nearest offered range is used
  bool autoRange = false;
  std::optional<int> coupling;          // library code 0 or 1
  std::optional<double> dcLevel;        // V
  std::optional<SourceOptions> source;  // virtual card only
};

struct GeneratorOptions {
  std::optional<int> signalType;  // export code (0 sine ... 5 arbitrary); unset: leave as is
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
};

enum class RunMode { Block, Continuous };

struct CaptureOptions {
  bool help = false;
  bool version = false;
  bool show = false;  // list what the card offers and exit
  bool hardware = false;
  std::uint16_t address = 0x288;
  std::string library;  // explicit library file

  std::array<ChannelOptions, 2> channels;
  int measureMode = 3;  // 1 = CH1, 2 = CH2, 3 = both

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

  int average = 1;
  GeneratorOptions generator;
  bool generatorGiven = false;  // any --gen option given

  RunMode mode = RunMode::Block;
  int count = 0;  // continuous: records to take (0 = until interrupted)
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

  // Post samples for the record length and pre-trigger share.
  std::uint32_t EffectivePostSamples() const { return EffectivePostSamples(recordLength); }
  std::uint32_t EffectivePostSamples(std::uint32_t length) const;
  std::string CsvPath() const { return csvPath.value_or(outputBase + ".csv"); }
  std::string SvgPath() const { return svgPath.value_or(outputBase + ".svg"); }
  std::string SrPath() const { return srPath.value_or(outputBase + ".sr"); }
  // A file goes to standard output: the text for people goes to standard
  // error then.
  bool WritesToStandardOutput() const;
};

// The record length for --time at the rate the card reached; nothing when
// it falls outside 1 .. maximum samples.
std::optional<std::uint32_t> SamplesForDuration(double seconds, double rate, std::uint32_t maximum);

struct ParseResult {
  CaptureOptions options;
  std::string error;  // empty when the command line was understood
};

ParseResult ParseArguments(const std::vector<std::string>& arguments);
std::string HelpText(const std::string& programName);

// "1.5", "2k", "1M", "500m", "10u", with an optional unit after the prefix
// ("1kHz", "200mV", "5ms"). Returns nothing for text that is not a number
// and for NaN, infinities and values that overflow ("1e400", "1e308G"): every
// surface (command line, sources, JSON, SCPI) parses its numbers here.
std::optional<double> ParseQuantity(const std::string& text);
// The first number in the text (a quantity, or a field of a source spec)
// that is written well but not finite, for the error message; empty if none.
std::string NonFiniteNumberIn(const std::string& text);

}  // namespace rk350::capture
