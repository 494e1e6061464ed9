// The library unloads: every cycle of dlopen, InitInstrument, ExitInstrument
// and dlclose removes it from the process, so the next load starts fresh
// (InitInstrument answers ResultOk again, which a library that stayed loaded
// refuses after ExitInstrument), and the cycles leave no memory behind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>

#include "rk350/rk350.h"

namespace {

constexpr int kCycles = 50;
constexpr int kWarmUpCycles = 10;  // the loader's own tables settle in the first few

// Heap bytes in use (0 under AddressSanitizer, whose LeakSanitizer checks
// the same at exit).
size_t HeapInUse() { return mallinfo2().uordblks; }

struct Library {
  explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
  // F is the export's pointer type, from the header's declaration (which
  // this program never links against).
  template <typename F>
  F Find(const char* name) const {
    return reinterpret_cast<F>(dlsym(handle, name));
  }
  void* handle;
};

bool StillLoaded(const char* path) {
  void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

// Runs the cycles on one library file; `initResult` is what InitInstrument
// answers in a fresh load.
void Cycle(const char* path, uint16_t initResult) {
  size_t heapAfterWarmUp = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE(::testing::Message() << path << ", cycle " << cycle);
    const Library library(path);
    ASSERT_NE(library.handle, nullptr) << dlerror();
    auto* init = library.Find<decltype(&InitInstrument)>("InitInstrument");
    auto* exit = library.Find<decltype(&ExitInstrument)>("ExitInstrument");
    ASSERT_NE(init, nullptr);
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(init(0x288), initResult);
    EXPECT_EQ(exit(), RK350_RESULT_OK);
    if (initResult == RK350_RESULT_OK) {
      // Within one load the library is spent after ExitInstrument.
      EXPECT_EQ(init(0x288), RK350_RESULT_NO_INSTRUMENT);
      EXPECT_EQ(exit(), RK350_RESULT_OK);
    }
    ASSERT_EQ(dlclose(library.handle), 0) << dlerror();
    ASSERT_FALSE(StillLoaded(path)) << "dlclose left the library loaded";
    if (cycle == kWarmUpCycles) heapAfterWarmUp = HeapInUse();
  }
  EXPECT_EQ(HeapInUse(), heapAfterWarmUp) << "heap bytes in use grew over the cycles";
}

TEST(Unload, VirtualCardLibraryStartsFreshAfterEveryReload) { Cycle(RK350_VIRTUAL_LIBRARY, RK350_RESULT_OK); }

// Without port access or a card the hardware flavour finds nothing, and
// unloads just the same.
TEST(Unload, HardwareLibraryUnloads) { Cycle(RK350_HARDWARE_LIBRARY, RK350_RESULT_NO_INSTRUMENT); }

}  // namespace
