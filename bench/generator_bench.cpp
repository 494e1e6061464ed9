// The generator's card traffic: a full waveform load (short and long memory)
// and one level programming, timed against the virtual card, with the number
// of port accesses each needs (on an ISA bus each costs about 1 us).
#include <benchmark/benchmark.h>

#include "card/eeprom_image.h"
#include "card/virtual_card.h"
#include "hardware/port_io.h"
#include "instrument/trk350.h"

namespace {

using rk350::TRK350;
using rk350::card::VirtualCard;

// A virtual card behind a port pair that counts every access.
class CountingCard {
 public:
  CountingCard() { rk350::hw::InstallPortPair({this, &In, &Out}); }
  ~CountingCard() { rk350::hw::InstallPortPair({}); }
  uint64_t accesses = 0;

 private:
  static int RK350_PORT_CALL In(void* context, uint16_t port) {
    auto* self = static_cast<CountingCard*>(context);
    ++self->accesses;
    return self->card_.In(port);
  }
  static int RK350_PORT_CALL Out(void* context, uint16_t port, uint8_t value) {
    auto* self = static_cast<CountingCard*>(context);
    ++self->accesses;
    self->card_.Out(port, value);
    return 0;
  }
  VirtualCard card_;
};

void LoadDefaultCalibration(TRK350& in) {
  namespace L = rk350::card::eeprom_layout;
  const auto image = rk350::card::EepromImage::Default();
  for (int row = 0; row <= 6; ++row) {
    for (int entry = 1; entry <= 15; ++entry) {
      in.GenAmpStepTable[row][entry] = image.Word(L::GenAmpStep(row, entry));
      in.GenOffsetStepTable[row][entry] = image.Word(L::GenOffsetStep(row, entry));
    }
  }
  in.GenGainLow = image.Word(L::kGenGainLow);
  in.GenGainMid = image.Word(L::kGenGainMid);
}

void BM_LoadGenMemory(benchmark::State& state) {
  CountingCard bus;
  TRK350 in(nullptr);
  const auto samples = static_cast<int32_t>(state.range(0));
  in.GenWaveLength = samples;  // 1024: short memory; else long memory
  uint64_t perLoad = 0;
  for (auto _ : state) {
    const uint64_t before = bus.accesses;
    in.LoadGenMemory(in.GenUserBuffer.get(), samples);
    perLoad = bus.accesses - before;
  }
  state.counters["port_accesses"] = static_cast<double>(perLoad);
  state.counters["samples_per_s"] =
      benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadGenMemory)->Arg(1024)->Arg(65536)->Unit(benchmark::kMicrosecond);

void BM_ProgramGenLevels(benchmark::State& state) {
  CountingCard bus;
  TRK350 in(nullptr);
  LoadDefaultCalibration(in);
  uint64_t perCall = 0;
  for (auto _ : state) {
    const uint64_t before = bus.accesses;
    in.ProgramGenLevels(2.5L, 1.0L);
    perCall = bus.accesses - before;
  }
  state.counters["port_accesses"] = static_cast<double>(perCall);
}
BENCHMARK(BM_ProgramGenLevels)->Unit(benchmark::kMicrosecond);

}  // namespace
