// Command line of the capture tool.
#include <gtest/gtest.h>

#include <set>

#include "options.h"
#include "progress.h"
#include "summary.h"
#include "trigger_sources.h"

using namespace rk350::capture;

namespace {
ParseResult Parse(std::initializer_list<const char*> args) {
  return ParseArguments(std::vector<std::string>(args.begin(), args.end()));
}
}  // namespace

TEST(ToolOptions, DefaultsGiveAFirstRunThatShowsTheGenerator) {
  const auto r = Parse({});
  ASSERT_EQ(r.error, "");
  EXPECT_FALSE(r.options.hardware);
  EXPECT_EQ(r.options.address, 0x288);
  EXPECT_EQ(r.options.settings.measureMode, 3);
  EXPECT_EQ(r.options.settings.recordLength, 5000u);
  EXPECT_EQ(r.options.settings.EffectivePostSamples(), 3750u);
  EXPECT_EQ(r.options.settings.triggerSource, 0);
  EXPECT_EQ(r.options.settings.triggerTimeoutMs, 1000u);
  EXPECT_FALSE(r.options.settings.generatorGiven);
  EXPECT_EQ(r.options.CsvPath(), "capture.csv");
  EXPECT_EQ(r.options.SvgPath(), "capture.svg");
}

TEST(ToolOptions, EverySettingIsTaken) {
  const auto r = Parse({"--hardware",
                        "--address",
                        "0x300",
                        "--ch1-range",
                        "auto",
                        "--ch2-range=400m",
                        "--ch2-coupling",
                        "ac",
                        "--ch1-dc-level",
                        "-1.5",
                        "--rate",
                        "2.5M",
                        "--samples",
                        "1000",
                        "--pre-trigger",
                        "10",
                        "--trigger",
                        "ch2",
                        "--trigger-mode",
                        "falling",
                        "--trigger-level",
                        "100mV",
                        "--trigger-hysteresis",
                        "20m",
                        "--trigger-timeout",
                        "none",
                        "--average",
                        "4",
                        "--gen",
                        "square",
                        "--gen-freq",
                        "5kHz",
                        "--gen-amplitude",
                        "2",
                        "--gen-offset",
                        "-0.5",
                        "--gen-symmetry",
                        "25",
                        "--output",
                        "out/x",
                        "--svg",
                        "plot.svg",
                        "--channels",
                        "2",
                        "--continuous",
                        "--count",
                        "3",
                        "--quiet"});
  ASSERT_EQ(r.error, "");
  const auto& o = r.options;
  EXPECT_TRUE(o.hardware);
  EXPECT_EQ(o.address, 0x300);
  EXPECT_TRUE(o.settings.channels[0].autoRange);
  EXPECT_DOUBLE_EQ(*o.settings.channels[1].range, 0.4);
  EXPECT_EQ(o.settings.channels[1].coupling, 1);
  EXPECT_DOUBLE_EQ(*o.settings.channels[0].dcLevel, -1.5);
  EXPECT_DOUBLE_EQ(o.settings.sampleRate, 2.5e6);
  EXPECT_EQ(o.settings.EffectivePostSamples(), 900u);
  EXPECT_EQ(o.settings.triggerSource, 1);
  EXPECT_EQ(o.settings.triggerMode, 1);
  EXPECT_DOUBLE_EQ(o.settings.triggerLevel, 0.1);
  EXPECT_DOUBLE_EQ(*o.settings.triggerHysteresis, 0.02);
  EXPECT_FALSE(o.settings.triggerTimeoutMs.has_value());
  EXPECT_EQ(o.settings.average, 4);
  EXPECT_EQ(o.settings.generator.signalType, 2);
  EXPECT_DOUBLE_EQ(o.settings.generator.frequency, 5000.0);
  EXPECT_DOUBLE_EQ(o.settings.generator.amplitude, 2.0);
  EXPECT_DOUBLE_EQ(o.settings.generator.offset, -0.5);
  EXPECT_DOUBLE_EQ(o.settings.generator.symmetry, 25.0);
  EXPECT_TRUE(o.settings.generatorGiven);
  EXPECT_EQ(o.CsvPath(), "out/x.csv");
  EXPECT_EQ(o.SvgPath(), "plot.svg");
  EXPECT_EQ(o.settings.measureMode, 2);
  EXPECT_EQ(o.mode, RunMode::Continuous);
  EXPECT_EQ(o.count, 3);
  EXPECT_TRUE(o.quiet);
}

TEST(ToolOptions, BadCommandLinesAreRefusedWithAReason) {
  struct Case {
    std::vector<std::string> args;
    const char* fragment;
  };
  const Case cases[] = {
      {{"--rate", "-5"}, "above 0"},
      {{"--rate", "fast"}, "invalid value 'fast': not a number of Hz"},
      {{"--rate"}, "needs a value"},
      {{"--samples", "0"}, "0 must be at least 1 samples"},
      {{"--samples", "12.5"}, "is not a whole number"},
      {{"--address", "0x10000"}, "address"},
      {{"--pre-trigger", "101"}, "101 must be within 0 .. 100 %"},
      {{"--samples", "100", "--post-samples", "101"}, "more post samples"},
      {{"--pre-trigger", "10", "--post-samples", "5"}, "either"},
      {{"--trigger", "ch3x"}, "--trigger: invalid value 'ch3x': not one of ch1, ch2, ext, and, or, xor, none"},
      {{"--gen", "sawtooth"}, "--gen: invalid value 'sawtooth': not one of sine, triangle, square, dc, noise"},
      {{"--ch1-coupling", "gnd"}, "--ch1-coupling: invalid value 'gnd': not one of dc, ac"},
      {{"--ch1-range", "-1"}, "--ch1-range: -1 must be above 0 V"},
      {{"--average", "0"}, "--average: 0 must be within 1 .. 100000 records"},
      {{"--count", "3"}, "--count counts the records of --continuous"},
      {{"--frobnicate"}, "unknown option"},
      {{"capture.csv"}, "unexpected argument"},
      {{"--quiet=yes"}, "takes no value"},
      {{"--output", ""}, "--output: needs a file name"},
      {{"--output", "out/"}, "--output: needs a file name"},
      {{"--csv", ""}, "--csv: needs a file name"},
      {{"--svg", ""}, "--svg: needs a file name"},
      {{"--sr", ""}, "--sr: needs a file name"},
  };
  for (const auto& c : cases) {
    const auto r = ParseArguments(c.args);
    EXPECT_NE(r.error.find(c.fragment), std::string::npos) << c.args[0] << ": " << r.error;
  }
}

TEST(ToolOptions, QuantitiesTakePrefixesAndUnits) {
  struct Case {
    const char* text;
    double value;
  };
  for (const Case c : {Case{"1", 1}, Case{"2k", 2e3}, Case{"1M", 1e6}, Case{"1MHz", 1e6}, Case{"250mV", 0.25},
                       Case{"10u", 1e-5}, Case{"-3.5V", -3.5}, Case{"1e3", 1e3}, Case{"5ms", 5e-3}, Case{"2G", 2e9}})
    EXPECT_DOUBLE_EQ(ParseQuantity(c.text).value_or(-999), c.value) << c.text;
  for (const char* bad : {"", "k", "1x", "1 k", "nan", "inf", "1kk"})
    EXPECT_FALSE(ParseQuantity(bad).has_value()) << bad;
  // Not finite, also where only the prefix overflows: every surface parses here.
  for (const char* beyond : {"NaN", "-nan", "Infinity", "-inf", "1e400", "-1e400", "1e308G", "-1e306k", "2e302MHz"})
    EXPECT_FALSE(ParseQuantity(beyond).has_value()) << beyond;
  EXPECT_DOUBLE_EQ(ParseQuantity("1e299G").value_or(0), 1e308);  // the largest stays a number
  for (const auto& option : {"--rate=1e308G", "--gen-freq=inf", "--trigger-level=-1e400", "--gen-amplitude=nan"})
    EXPECT_NE(Parse({option}).error.find("is not a finite number"), std::string::npos) << option;
}

TEST(ToolOptions, HelpDocumentsEveryOption) {
  const std::string help = HelpText("rk350-capture");
  for (const char* name : {"--hardware",
                           "--address",
                           "--library",
                           "--ch1-range",
                           "--ch2-coupling",
                           "--ch1-dc-level",
                           "--rate",
                           "--samples",
                           "--pre-trigger",
                           "--post-samples",
                           "--trigger",
                           "--trigger-mode",
                           "--trigger-level",
                           "--trigger-hysteresis",
                           "--trigger-timeout",
                           "--average",
                           "--gen",
                           "--gen-freq",
                           "--gen-amplitude",
                           "--gen-offset",
                           "--gen-symmetry",
                           "--continuous",
                           "--count",
                           "--output",
                           "--csv",
                           "--svg",
                           "--quiet",
                           "--format",
                           "--sr",
                           "--raw",
                           "--time",
                           "--show",
                           "--ext-source",
                           "RK350_LIBRARY"})
    EXPECT_NE(help.find(name), std::string::npos) << name;
}

TEST(ToolOptions, FreeRunningRecordsHaveNothingBeforeTheTrigger) {
  EXPECT_EQ(Parse({"--trigger", "none", "--samples", "800"}).options.settings.EffectivePostSamples(), 800u);
  EXPECT_EQ(
      Parse({"--trigger", "none", "--samples", "800", "--pre-trigger", "50"}).options.settings.EffectivePostSamples(),
      400u);
}

TEST(ToolOptions, PostSamplesFollowThePreTriggerShare) {
  struct Case {
    std::uint32_t length;
    double percent;
    std::uint32_t post;
  };
  for (const Case c : {Case{1000, 0, 1000}, Case{1000, 100, 0}, Case{1000, 25, 750}, Case{1, 50, 0}, Case{3, 50, 1}}) {
    CardSettings o;
    o.recordLength = c.length;
    o.preTriggerPercent = c.percent;
    EXPECT_EQ(o.EffectivePostSamples(), c.post) << c.length << " " << c.percent;
  }
}

TEST(ToolSummary, UnitsAndProgressLine) {
  EXPECT_EQ(FormatVolts(1.25), "1.25 V");
  EXPECT_EQ(FormatVolts(-0.25), "-250 mV");
  EXPECT_EQ(FormatVolts(0.0), "0 V");
  EXPECT_EQ(FormatHertz(1000.0), "1 kHz");
  EXPECT_EQ(FormatHertz(12.5e6), "12.5 MHz");
  EXPECT_EQ(ProgressLine(0.5, "capturing", 10), "[#####.....]  50%  capturing");
  EXPECT_EQ(ProgressLine(2.0, "", 4), "[####] 100%  ");
  EXPECT_EQ(ProgressLine(-1, "waiting", 3), "[???]       waiting");

  Record r;
  r.sampleRate = 1e6;
  r.channels = {{"CH1", 2.0, std::vector<double>(100, 0.5)}};
  const std::string table = FormatSummary(r);
  EXPECT_NE(table.find("CH1"), std::string::npos);
  EXPECT_NE(table.find("\xC2\xB1"
                       "2 V"),
            std::string::npos);
  EXPECT_NE(table.find("500 mV"), std::string::npos);
}

TEST(ToolOptions, VirtualCardSourcesForTheInputs) {
  const auto r = Parse({"--ch2-source", "square:0.5:250", "--ch1-source", "unplugged"});
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(r.options.settings.channels[1].source.has_value());
  EXPECT_EQ(r.options.settings.channels[1].source->kind, 3);
  EXPECT_DOUBLE_EQ(r.options.settings.channels[1].source->amplitude, 0.5);
  EXPECT_DOUBLE_EQ(r.options.settings.channels[1].source->frequency, 250.0);
  EXPECT_DOUBLE_EQ(r.options.settings.channels[1].source->offset, 0.0);
  EXPECT_EQ(r.options.settings.channels[0].source->kind, 0);

  const auto full = ParseSource("sine:1:2k:-0.5");
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(full->kind, 2);
  EXPECT_DOUBLE_EQ(full->frequency, 2000.0);
  EXPECT_DOUBLE_EQ(full->offset, -0.5);
  EXPECT_EQ(ParseSource("generator")->kind, 7);
  for (const char* bad : {"", "saw", "sine:1:2:3:4", "sine:x", "sine:1:-5", "sine::1", "sine:1e308G:1k", "sine:1:nan",
                          "dc:0:0:inf", "square:1:1e400"})
    EXPECT_FALSE(ParseSource(bad).has_value()) << bad;
  EXPECT_NE(Parse({"--ch1-source", "tri"}).error.find("source"), std::string::npos);
}

TEST(ToolOptions, OutputNamesChooseTheFiles) {
  struct Case {
    std::vector<std::string> args;
    bool csv, svg, sr;
    const char* csvPath;
    const char* svgPath;
    const char* srPath;
  };
  const Case cases[] = {
      {{}, true, true, false, "capture.csv", "capture.svg", "capture.sr"},
      {{"--output", "out/run"}, true, true, false, "out/run.csv", "out/run.svg", "out/run.sr"},
      {{"--output", "out/run.sr"}, false, false, true, "out/run.csv", "out/run.svg", "out/run.sr"},
      {{"--output", "run.csv"}, true, false, false, "run.csv", "run.svg", "run.sr"},
      {{"--output", "run.svg", "--csv", "data.csv"}, true, true, false, "data.csv", "run.svg", "run.sr"},
      {{"--output", "run", "--format", "sr,csv"}, true, false, true, "run.csv", "run.svg", "run.sr"},
      {{"--output", "run.sr", "--format", "csv"}, true, false, false, "run.sr.csv", "run.sr.svg", "run.sr.sr"},
      {{"--format", "sr"}, false, false, true, "capture.csv", "capture.svg", "capture.sr"},
      {{"--output", "-"}, true, false, false, "-", "-.svg", "-.sr"},
      {{"--output", "-", "--format", "sr"}, false, false, true, "-.csv", "-.svg", "-"},
      {{"--output", "-", "--svg", "plot.svg"}, true, true, false, "-", "plot.svg", "-.sr"},
      {{"--sr", "s.sr"}, true, true, true, "capture.csv", "capture.svg", "s.sr"},
      {{"--csv", "-", "--no-plot"}, true, false, false, "-", "capture.svg", "capture.sr"},
  };
  for (const auto& c : cases) {
    const auto r = ParseArguments(c.args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    ASSERT_EQ(r.error, "") << line;
    EXPECT_EQ(r.options.writeCsv, c.csv) << line;
    EXPECT_EQ(r.options.writeSvg, c.svg) << line;
    EXPECT_EQ(r.options.writeSr, c.sr) << line;
    EXPECT_EQ(r.options.CsvPath(), c.csvPath) << line;
    EXPECT_EQ(r.options.SvgPath(), c.svgPath) << line;
    EXPECT_EQ(r.options.SrPath(), c.srPath) << line;
    EXPECT_EQ(r.options.WritesToStandardOutput(), line.find("- ") != std::string::npos) << line;
  }
}

TEST(ToolOptions, NewOptionsAndTheirConflicts) {
  const auto r = Parse({"--time", "5ms", "--raw", "--ext-source", "square:2.5:1k:2.5", "--show"});
  ASSERT_EQ(r.error, "");
  EXPECT_DOUBLE_EQ(*r.options.settings.recordTime, 5e-3);
  EXPECT_TRUE(r.options.raw);
  EXPECT_TRUE(r.options.show);
  ASSERT_TRUE(r.options.settings.externalSource.has_value());
  EXPECT_EQ(r.options.settings.externalSource->kind, 3);
  EXPECT_DOUBLE_EQ(r.options.settings.externalSource->offset, 2.5);

  struct Case {
    std::vector<std::string> args;
    const char* fragment;
  };
  const Case cases[] = {
      {{"--time", "0"}, "above 0"},
      {{"--time", "soon"}, "invalid value 'soon': not a number of s"},
      {{"--time", "1ms", "--samples", "100"}, "either --samples or --time"},
      {{"--raw", "--average", "4"}, "does not combine with --average"},
      {{"--format", "png"}, "invalid format 'png'"},
      {{"--format", "csv,"}, "invalid format ''"},
      {{"--output", "-", "--format", "csv,svg"}, "standard output takes one file"},
      {{"--csv", "-", "--svg", "-"}, "only one file can go to standard output"},
      {{"--ext-source", "triangle"}, "invalid value 'triangle': not a source"},
  };
  for (const auto& c : cases) {
    const auto e = ParseArguments(c.args).error;
    EXPECT_NE(e.find(c.fragment), std::string::npos) << c.args[0] << ": " << e;
  }
}

TEST(ToolOptions, DurationsBecomeSamplesAtTheRateReached) {
  EXPECT_EQ(SamplesForDuration(5e-3, 1e6, 65520), 5000u);
  EXPECT_EQ(SamplesForDuration(2e-3, 2.5e6, 65520), 5000u);
  EXPECT_EQ(SamplesForDuration(1.3104e-3, 50e6, 65520), 65520u);
  EXPECT_FALSE(SamplesForDuration(2.0, 50e6, 65520).has_value());
  EXPECT_FALSE(SamplesForDuration(1e-9, 1e6, 65520).has_value());
}

// One table names the trigger sources for the command line, the notes and
// the scope: each name parses to its code, each code has one entry.
TEST(ToolTriggerSources, NamesAndCodesCorrespond) {
  std::set<int> codes;
  for (const auto& source : TriggerSources()) {
    EXPECT_TRUE(codes.insert(source.code).second) << source.name;
    EXPECT_EQ(TriggerSourceCode(source.name), source.code);
    EXPECT_EQ(FindTriggerSource(source.code), &source);
    const auto r = Parse({"--trigger", source.name});
    ASSERT_EQ(r.error, "") << source.name;
    EXPECT_EQ(r.options.settings.triggerSource, source.code);
    const std::string help = HelpText("t");
    EXPECT_TRUE(help.find(std::string(" ") + source.name + ",") != std::string::npos ||
                help.find(std::string(" ") + source.name + " (") != std::string::npos)
        << source.name;
  }
  EXPECT_EQ(codes, (std::set<int>{0, 1, 4, 6, 7, 8, 9}));
  EXPECT_EQ(TriggerSourceCode("external"), 4);
  EXPECT_EQ(TriggerSourceCode("free"), 9);
  EXPECT_FALSE(TriggerSourceCode("CH1"));
  EXPECT_EQ(FindTriggerSource(5), nullptr);
  EXPECT_TRUE(TriggerUsesChannel(7, 1) && TriggerUsesChannel(7, 2));
  EXPECT_FALSE(TriggerUsesChannel(0, 2) || TriggerUsesChannel(4, 1) || TriggerUsesChannel(9, 1));
  EXPECT_EQ(Parse({"--trigger", "5"}).options.settings.triggerSource, 5);  // a number the library judges
}
