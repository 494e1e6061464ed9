// Lifecycle through the shared library. ctest runs every test case in its
// own process, so each case starts from a freshly loaded library.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

namespace rk350::e2e {
namespace {

TEST(SharedLibraryLifecycle, GuardedExportsAnswerNoInstrumentBeforeInit) {
  uint16_t channels = 77;
  EXPECT_EQ(GetNrChannels(&channels), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(channels, 77);
  EXPECT_EQ(GetMaxRecordLength(), 0);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_STREQ(RK350_ResultName(RK350_RESULT_INVALID_VALUE), "ResultInvalidValue");
}

TEST(SharedLibraryLifecycle, CardFoundThenSpentUntilReloaded) {
  ProvideCard();
  ASSERT_EQ(InitInstrument(kCardBase), RK350_RESULT_OK);
  uint16_t channels = 0;
  EXPECT_EQ(GetNrChannels(&channels), RK350_RESULT_OK);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(GetMaxRecordLength(), 65520);
  EXPECT_EQ(GetMaxSampleFrequency(), 50000000);
  EXPECT_EQ(InitInstrument(kEmptyBase), RK350_RESULT_OK);  // the second call repeats the first
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_EQ(GetNrChannels(&channels), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(InitInstrument(kCardBase), RK350_RESULT_NO_INSTRUMENT);  // Stale
  EXPECT_EQ(GetMaxRecordLength(), 0);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_TRUE(MessageBoxTexts().empty());
}

TEST(SharedLibraryLifecycle, NoCardThenExitAllowsAnotherAddress) {
  ProvideCard();
  EXPECT_EQ(InitInstrument(kEmptyBase), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(InitInstrument(kCardBase), RK350_RESULT_NO_INSTRUMENT);  // still the first outcome
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_EQ(InitInstrument(kCardBase), RK350_RESULT_OK);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

TEST(SharedLibraryLifecycle, ProcessMessagesRunsOnTheCallersThread) {
  ProvideCard();
  ASSERT_EQ(InitInstrument(kCardBase), RK350_RESULT_OK);
  EXPECT_EQ(RK350_ProcessMessages(), 0u);  // nothing posted, the timer stopped
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

TEST(SharedLibraryExtensions, ResultNamesAndTexts) {
  struct Case {
    uint32_t code;
    const char* name;
  };
  const Case cases[] = {
      {0, "ResultOk"},          {1, "ResultNoInstrument"},    {2, "ResultNotInitialised"}, {4, "ResultNotAvailable"},
      {8, "ResultNoGenerator"}, {16, "ResultInvalidChannel"}, {32, "ResultInvalidValue"},  {3, "Unknown"},
      {64, "Unknown"},          {0xFFFFFFFFu, "Unknown"}};
  for (const Case& c : cases) {
    EXPECT_STREQ(RK350_ResultName(c.code), c.name) << c.code;
    ASSERT_NE(RK350_ResultText(c.code), nullptr);
  }
  EXPECT_STREQ(RK350_ResultText(3), "unknown result code");
  EXPECT_STRNE(RK350_Version(), "");
}

}  // namespace
}  // namespace rk350::e2e
