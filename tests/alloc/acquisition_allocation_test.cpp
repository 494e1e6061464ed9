// The acquisition paths allocate nothing once the instrument exists: arming,
// polling, reading a record, averaging, the engine's ticks and the data
// exports. This executable counts every allocation by replacing the global
// operator new, so it stays apart from the other tests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "card/virtual_card.h"
#include "hardware/port_io.h"
#include "instrument/trk350.h"
#include "library/library_state.h"
#include "rk350/rk350.h"

namespace {
std::atomic<long> gAllocations{0};
}  // namespace

// The replacements pair malloc with free; GCC cannot see that they match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using rk350::card::VirtualCard;

int RK350_PORT_CALL CardIn(void* card, uint16_t port) { return static_cast<VirtualCard*>(card)->In(port); }
int RK350_PORT_CALL CardOut(void* card, uint16_t port, uint8_t value) {
  static_cast<VirtualCard*>(card)->Out(port, value);
  return 0;
}

class AllocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<VirtualCard>(0x288);
    rk350::hw::InstallPortPair({card_.get(), &CardIn, &CardOut});
    card_->Time().SetManual(0);
    card_->Time().SetAutoStep(1e-5);
    rk350::card::SignalSource sine;
    sine.kind = rk350::card::SourceKind::kSine;
    sine.amplitude = 0.3;
    sine.frequency = 1e3;
    card_->Sources().Set(1, sine);
    card_->Sources().Set(2, sine);
  }
  void TearDown() override {
    ExitInstrument();
    rk350::hw::InstallPortPair({});
  }
  std::unique_ptr<VirtualCard> card_;
};

TEST_F(AllocationTest, InstrumentPathsAllocateNothing) {
  rk350::TRK350 t(nullptr);
  t.HardwarePresent = true;
  t.nAverageNumber = 4;
  t.SetlRecordLength(65520);
  t.SetlPostSamples(1000);
  for (int ch = 1; ch <= 4; ++ch) t.AutoRanging[ch] = true;
  t.SetamAcquisitionMode(rk350::amContinuous);
  // One record first: everything that is created lazily exists afterwards.
  t.RunSynchronousMeasurement();
  const long before = gAllocations;
  for (int record = 0; record < 3; ++record) t.RunSynchronousMeasurement();
  t.StartBlockMeasurement();
  card_->Time().Advance(1);
  t.TriggerStatus();
  t.FetchBlockData();
  t.SetamAcquisitionMode(rk350::amOneShot);
  for (int tick = 0; tick < 50; ++tick) t.TimerDispatch();
  EXPECT_EQ(gAllocations - before, 0);
}

TEST_F(AllocationTest, MeasurementExportsAllocateNothing) {
  ASSERT_EQ(InitInstrument(0x288), RK350_RESULT_OK);
  ASSERT_EQ(SetRecordLength(65520), RK350_RESULT_OK);
  std::vector<double> v1(65520), v2(65520);
  std::vector<uint16_t> r1(65520), r2(65520);
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  const long before = gAllocations;
  ASSERT_EQ(StartMeasurement(), RK350_RESULT_OK);
  ASSERT_EQ(GetMeasurement(v1.data(), v2.data()), RK350_RESULT_OK);
  ASSERT_EQ(GetMeasurementRaw(r1.data(), r2.data()), RK350_RESULT_OK);
  ASSERT_EQ(ADC_Start(), RK350_RESULT_OK);
  card_->Time().Advance(1);
  ADC_Ready();
  ASSERT_EQ(ADC_GetDataVolt(v1.data(), v2.data()), RK350_RESULT_OK);
  ASSERT_EQ(ADC_GetDataCh(2, r2.data()), RK350_RESULT_OK);
  ASSERT_EQ(DoMeasure(-1), RK350_RESULT_OK);
  for (int i = 0; i < 20; ++i) rk350::gInstrument->TimerDispatch();
  ASSERT_EQ(DoMeasure(0), RK350_RESULT_OK);
  EXPECT_EQ(gAllocations - before, 0);
}

}  // namespace
