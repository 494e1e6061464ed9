// The SCPI parser alone: headers and their paths, parameters with suffixes,
// blocks, the framing of a byte stream, and the errors each fault gets.
#include "scpi/scpi_parser.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rk350::scpi {
namespace {

std::string Joined(const std::vector<std::string>& path) {
  std::string s;
  for (const auto& p : path) s += (s.empty() ? "" : ":") + p;
  return s;
}

TEST(ScpiParser, HeadersFollowThePathOfTheCommandBefore) {
  const auto m = ParseMessage(":trig:lev 0.5;SLOP POS;:chan2:rang?;*IDN?;OFFS 1");
  ASSERT_FALSE(m.error);
  ASSERT_EQ(m.commands.size(), 5u);
  EXPECT_EQ(Joined(m.commands[0].path), "TRIG:LEV");
  EXPECT_EQ(Joined(m.commands[1].path), "TRIG:SLOP");
  EXPECT_EQ(Joined(m.commands[2].path), "CHAN2:RANG");
  EXPECT_TRUE(m.commands[2].query);
  EXPECT_TRUE(m.commands[3].common);
  EXPECT_EQ(Joined(m.commands[3].path), "*IDN");
  // A common command leaves the path where it was.
  EXPECT_EQ(Joined(m.commands[4].path), "CHAN2:OFFS");
}

TEST(ScpiParser, MnemonicsMatchTheirShortAndLongFormsWithSuffixes) {
  int n = 0;
  EXPECT_TRUE(MatchMnemonic("CHANnel", "CHAN", &n));
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(MatchMnemonic("CHANnel", "channel2", &n));
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(MatchMnemonic("FREQuency", "FREQ", nullptr));
  EXPECT_TRUE(MatchMnemonic("FREQuency", "frequency", nullptr));
  EXPECT_FALSE(MatchMnemonic("FREQuency", "FREQU", nullptr));  // neither form
  EXPECT_FALSE(MatchMnemonic("FREQuency", "FREQ2", nullptr));  // takes no suffix
  EXPECT_FALSE(MatchMnemonic("CHANnel", "CH", &n));
  // A suffix too long to read still matches, out of range (-114, not -113).
  EXPECT_TRUE(MatchMnemonic("CHANnel", "CHAN1234567", &n));
  EXPECT_GT(n, 2);
}

struct NumberCase {
  const char* text;
  double value;
  const char* unit;
};

TEST(ScpiParser, NumbersTakeExponentsMultipliersAndUnits) {
  const NumberCase cases[] = {
      {"1", 1, ""},          {"-2.5", -2.5, ""},   {"+.5", 0.5, ""},     {"1e3", 1e3, ""},    {"1.5 E -3", 1.5e-3, ""},
      {"2kHz", 2e3, "HZ"},   {"2 KHZ", 2e3, "HZ"}, {"5 MHz", 5e6, "HZ"}, {"5mhz", 5e6, "HZ"}, {"500mV", 0.5, "V"},
      {"20 us", 20e-6, "S"}, {"3MAV", 3e6, "V"},   {"10k", 1e4, ""},     {"25%", 25, "PCT"},  {"25 PCT", 25, "PCT"},
      {"#HFF", 255, ""},     {"#B101", 5, ""},     {"#Q17", 15, ""},     {"1EX", 1e18, ""},
  };
  for (const auto& c : cases) {
    const auto m = ParseMessage(std::string(":X ") + c.text);
    ASSERT_FALSE(m.error) << c.text << ": " << m.error->message;
    ASSERT_EQ(m.commands[0].parameters.size(), 1u) << c.text;
    const auto& p = m.commands[0].parameters[0];
    EXPECT_EQ(p.kind, Parameter::Kind::Number) << c.text;
    EXPECT_DOUBLE_EQ(p.number, c.value) << c.text;
    EXPECT_EQ(p.unit, c.unit) << c.text;
  }
}

TEST(ScpiParser, WordsStringsAndBlocks) {
  const auto m = ParseMessage(":X on, 'it''s' , \"a;b\",#14a\nb;,#0rest\n");
  ASSERT_FALSE(m.error) << m.error->message;
  const auto& p = m.commands[0].parameters;
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].kind, Parameter::Kind::Word);
  EXPECT_EQ(p[0].text, "ON");
  EXPECT_EQ(p[1].text, "it's");
  EXPECT_EQ(p[2].text, "a;b");
  EXPECT_EQ(p[3].kind, Parameter::Kind::Block);
  EXPECT_EQ(p[3].text, std::string("a\nb;", 4));
  EXPECT_EQ(p[4].text, "rest\n");
}

struct ErrorCase {
  const char* message;
  int code;
  std::size_t commandsBefore;  // the commands before the fault still run
};

TEST(ScpiParser, EachFaultGetsItsErrorAndEndsTheMessage) {
  const ErrorCase cases[] = {
      {":X 1;:Y 2 3", -103, 1},     {":X 1,", -109, 0},      {":X 2 furlongs", -131, 0}, {":X 2 kOhm", -131, 0},
      {":X 1e999", -123, 0},        {":X 'open", -151, 0},   {":X #", -161, 0},          {":X #15ab", -161, 0},
      {":X #3a", -161, 0},          {":X #Hxyz", -121, 0},   {":X .", -121, 0},          {":X ABCDEFGHIJKLM", -144, 0},
      {":ABCDEFGHIJKLMN", -112, 0}, {"*IDN?;:X:?", -102, 1}, {":X $", -102, 0},          {"\x01\x02", -101, 0},
      {":X \xff", -101, 0},         {"*IDN?x", -102, 0},
  };
  for (const auto& c : cases) {
    const auto m = ParseMessage(c.message);
    ASSERT_TRUE(m.error) << c.message;
    EXPECT_EQ(m.error->code, c.code) << c.message << ": " << m.error->message;
    EXPECT_EQ(m.commands.size(), c.commandsBefore) << c.message;
  }
}

TEST(ScpiParser, EmptyMessagesAndCommandsAreNothing) {
  EXPECT_TRUE(ParseMessage("").commands.empty());
  EXPECT_FALSE(ParseMessage("  \r").error);
  const auto m = ParseMessage(";;*CLS;;");
  EXPECT_FALSE(m.error);
  EXPECT_EQ(m.commands.size(), 1u);
}

TEST(ScpiFramer, NewlinesInsideStringsAndBlocksDoNotEndAMessage) {
  MessageFramer framer(1024, 1024);
  auto items = framer.Feed(":A #15a\nb\nc;*OPC?\n:B 'x");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].message, ":A #15a\nb\nc;*OPC?");
  items = framer.Feed("y'\n");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].message, ":B 'xy'");
}

TEST(ScpiFramer, ABlockSplitAcrossReadsIsKeptWhole) {
  MessageFramer framer(1024, 1024);
  std::vector<MessageFramer::Item> items;
  const std::string message = ":A #210\n\n\n\n\n\n\n\n\n\n;*OPC?\n";
  for (char c : message)
    for (auto& item : framer.Feed(std::string(1, c))) items.push_back(std::move(item));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].message, message.substr(0, message.size() - 1));
}

TEST(ScpiFramer, OverlongLinesAndBlocksAreSkippedAndReported) {
  MessageFramer framer(100, 50);
  auto items = framer.Feed(std::string(1000, 'A') + "\n*IDN?\n:B #3051" + std::string(51, '\n') + "\n*OPC?\n");
  ASSERT_EQ(items.size(), 4u);
  ASSERT_TRUE(items[0].error);
  EXPECT_EQ(items[0].error->code, -363);
  EXPECT_EQ(items[1].message, "*IDN?");
  ASSERT_TRUE(items[2].error);
  EXPECT_EQ(items[2].error->code, -223);
  EXPECT_EQ(items[3].message, "*OPC?");
}

TEST(ScpiFramer, AnAbandonedBlockLeavesTheStreamUsable) {
  MessageFramer framer(100, 100);
  EXPECT_TRUE(framer.Feed(":A #15ab\n").empty());
  EXPECT_TRUE(framer.InsideBlock());
  EXPECT_EQ(framer.Abandon().code, -160);
  const auto items = framer.Feed("*IDN?\n");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].message, "*IDN?");
}

TEST(ScpiResponses, NumbersBlocksAndStrings) {
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(std::stod(FormatNumber(1.0 / 3)), 1.0 / 3);
  EXPECT_EQ(FormatNumber(NAN), "9.91E+37");
  EXPECT_EQ(DefiniteBlock("abc"), "#13abc");
  EXPECT_EQ(DefiniteBlock(std::string(12345, 'x')).substr(0, 7), "#512345");
  EXPECT_EQ(QuotedString("say \"hi\""), "\"say \"\"hi\"\"\"");
}

}  // namespace
}  // namespace rk350::scpi
