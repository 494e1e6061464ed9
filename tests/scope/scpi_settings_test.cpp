// The SCPI headers of the card's settings against the one settings table:
// every header names a row, every row is reached (or left out on purpose),
// every name of a choice is a word SCPI reads back, and a parameter of the
// wrong form gets the standard's error.
#include "scpi/scpi_settings.h"

#include <gtest/gtest.h>

#include <set>

#include "rk350/rk350.h"

namespace rk350::scpi {
namespace {

Parameter Word(const std::string& text) { return {Parameter::Kind::Word, text, 0.0, ""}; }
Parameter Number(double value, const std::string& unit = "") { return {Parameter::Kind::Number, "", value, unit}; }

const ScpiSetting& ByHeader(std::string_view header) {
  for (const auto& s : ScpiSettings())
    if (header == s.header) return s;
  throw std::runtime_error("no header " + std::string(header));
}

TEST(ScpiSettings, EveryHeaderNamesARowAndEveryRowIsReached) {
  const auto without = RowsWithoutScpi();
  std::set<std::string> reached(without.begin(), without.end());
  for (const auto& s : ScpiSettings())
    for (int channel = 1; channel <= 2; ++channel) {
      const auto* row = TableRow(s, channel);
      ASSERT_NE(row, nullptr) << s.header << " names " << TableKey(s, channel);
      EXPECT_NE(row->kind, capture::SettingKind::Source) << s.header;
      reached.insert(row->key);
    }
  for (const auto& row : capture::CardSettingsTable())
    if (row.key != nullptr) {
      EXPECT_TRUE(reached.contains(row.key)) << row.key << " has no SCPI header";
    }
}

TEST(ScpiSettings, EveryNameOfTheTableIsAWordThatReadsBack) {
  for (const auto& s : ScpiSettings()) {
    const auto& row = *TableRow(s, 1);
    std::vector<capture::SettingValue> values;
    for (const auto& choice : row.choices)
      if (choice.label != nullptr) values.emplace_back(static_cast<double>(choice.code));
    if (row.none != nullptr) values.emplace_back();
    for (const auto& value : values) {
      const std::string written = FormatSetting(s, row, value);
      Error error;
      const auto read = ReadSetting(s, row, Word(written), error);
      ASSERT_TRUE(read) << s.header << " " << written << ": " << error.message;
      EXPECT_EQ(*read, value) << s.header << " " << written;
    }
  }
}

TEST(ScpiSettings, ParametersAreReadByTheirRowsKind) {
  struct Case {
    const char* header;
    Parameter parameter;
    capture::SettingValue value;  // when read
    int error;                    // otherwise
  };
  const Case cases[] = {
      {":TRIGger[:EDGE]:SLOPe", Word("NEG"), 1.0, 0},
      {":TRIGger[:EDGE]:SLOPe", Word("FALLING"), 1.0, 0},  // the table's own name
      {":TRIGger[:EDGE]:SLOPe", Number(5), 5.0, 0},        // a mode the library defines beyond the slopes
      {":TRIGger[:EDGE]:SLOPe", Word("UP"), {}, -224},
      {":TRIGger[:EDGE]:SOURce", Word("CHANNEL2"), 0.0 + RK350_TS_CH2, 0},
      {":TRIGger[:EDGE]:SOURce", Word("CHAN3"), {}, -224},
      {":TRIGger:TIMeout", Number(0.5, "S"), 500.0, 0},
      {":TRIGger:TIMeout", Word("INF"), {}, 0},
      {":TRIGger:TIMeout", Number(-1, "S"), {}, -222},
      {":ACQuire:POINts", Number(12.5), {}, -222},
      {":ACQuire:POINts", Number(5, "V"), {}, -138},
      {":ACQuire:COUNt", Number(0), {}, -222},  // the tools' own limit
      {":CHANnel#:RANGe", Word("AUTO"), {}, 0},
      {":CHANnel#:RANGe", Number(2, "HZ"), {}, -131},
      {":CHANnel#:RANGe", Word("ON"), {}, -104},
      {":CHANnel#:DISPlay", Word("OFF"), 0.0, 0},
      {":OUTPut", Number(1), 1.0, 0},
      {"[:SOURce]:FUNCtion", Word("SIN"), 0.0 + RK350_GEN_SINE, 0},
      {"[:SOURce]:FUNCtion", Word("OFF"), {}, 0},  // the table's word for the output off
  };
  for (const auto& c : cases) {
    const auto& s = ByHeader(c.header);
    Error error;
    const auto read = ReadSetting(s, *TableRow(s, 1), c.parameter, error);
    if (c.error == 0) {
      ASSERT_TRUE(read) << c.header << ": " << error.message;
      EXPECT_EQ(*read, c.value) << c.header;
    } else {
      EXPECT_FALSE(read) << c.header;
      EXPECT_EQ(error.code, c.error) << c.header << ": " << error.message;
    }
  }
}

}  // namespace
}  // namespace rk350::scpi
