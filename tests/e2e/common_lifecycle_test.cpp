// Lifecycle through the shared library. ctest runs every test case in its
// own process, so each case starts from a freshly loaded library.
#include <gtest/gtest.h>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

namespace {

TEST(SharedLibraryLifecycle, GuardedExportsAnswerNoInstrumentBeforeInit) {
  uint16_t channels = 77;
  EXPECT_EQ(GetNrChannels(&channels), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(channels, 77);
  EXPECT_EQ(GetMaxRecordLength(), 0);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  EXPECT_STREQ(RK350_ResultName(RK350_RESULT_INVALID_VALUE), "ResultInvalidValue");
}

}  // namespace
