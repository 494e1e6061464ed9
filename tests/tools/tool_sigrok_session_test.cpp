// The sigrok session writer: the archive's members and the metadata that
// sigrok reads (sigrok-cli reading the files back is the end-to-end check).
#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "sigrok_session.h"

using namespace rk350::capture;

namespace {

// The members of a zip archive held in memory, by name.
std::map<std::string, std::string> Members(const std::string& bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  std::map<std::string, std::string> members;
  if (archive == nullptr) {
    zip_source_free(source);
    return members;
  }
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    zip_stat_t stat;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
    std::string content(static_cast<std::size_t>(stat.size), '\0');
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
    zip_fread(file, content.data(), content.size());
    zip_fclose(file);
    members[stat.name] = content;
  }
  zip_close(archive);
  return members;
}

}  // namespace

TEST(ToolSigrokSession, VersionMetadataAndOneFloatMemberPerChannel) {
  ASSERT_TRUE(SigrokSessionsSupported());
  Record r;
  r.sampleRate = 50e6;
  r.channels = {{"CH1", 2.0, {0.5, -1.0, 0.015625}}, {"CH2", 0.8, {0.0, 0.25, -0.8}}};
  std::ostringstream out;
  WriteSigrokSession(out, r);
  const auto members = Members(out.str());
  ASSERT_EQ(members.size(), 4u);
  EXPECT_EQ(members.at("version"), "2");
  EXPECT_EQ(members.at("metadata"), "[device 1]\nsamplerate=50000000\ntotal analog=2\nanalog1=CH1\nanalog2=CH2\n");
  // Little-endian IEEE single precision: 0.5 is 00 00 00 3f.
  const std::string& ch1 = members.at("analog-1-1-1");
  ASSERT_EQ(ch1.size(), 12u);
  EXPECT_EQ(ch1.substr(0, 4), std::string("\x00\x00\x00\x3f", 4));
  float values[3];
  std::memcpy(values, members.at("analog-1-2-1").data(), sizeof values);
  EXPECT_EQ(values[0], 0.0f);
  EXPECT_EQ(values[1], 0.25f);
  EXPECT_EQ(values[2], -0.8f);
}

TEST(ToolSigrokSession, OneChannelRecordsNameTheirChannelAndSayHowTheyWereTaken) {
  Record r;
  r.sampleRate = 100e6;
  r.channels = {{"CH2", 2.0, {}}};
  EXPECT_EQ(SigrokMetadata(r), "[device 1]\nsamplerate=100000000\ntotal analog=1\nanalog1=CH2\n");
  r.taken = "forced: no trigger within the time-out";
  EXPECT_EQ(SigrokMetadata(r),
            "# taken: forced: no trigger within the time-out\n"
            "[device 1]\nsamplerate=100000000\ntotal analog=1\nanalog1=CH2\n");
  r.taken.clear();
  std::ostringstream out;
  WriteSigrokSession(out, r);
  EXPECT_EQ(Members(out.str()).at("analog-1-1-1"), "");
}

TEST(ToolSigrokSession, TheRateIsHeldAsWholeHertz) {
  const struct {
    double hertz;
    std::uint64_t stored;
  } cases[] = {{50e6, 50000000}, {294117.647, 294118}, {0.9999616, 1}, {1.000078e-3, 1}, {0.0, 1}, {-5.0, 1}};
  for (const auto& c : cases) EXPECT_EQ(SigrokSampleRate(c.hertz), c.stored) << c.hertz;
}
