// Cost of programming the input front end (ApplyFrontEnd: offset and trim
// DACs and relay latch of both paths) and the sample clock: port accesses
// per call, and time per call behind a bare counting port pair and behind
// the virtual card.
#include <benchmark/benchmark.h>

#include "hardware/port_io.h"
#include "instrument/trk350.h"

namespace {

using rk350::TRK350;
namespace hw = rk350::hw;

// A port pair that only counts: the library's own cost, without a device.
struct CountingPorts {
  uint64_t accesses = 0;
  static int RK350_PORT_CALL In(void* self, uint16_t) {
    ++static_cast<CountingPorts*>(self)->accesses;
    return 0xFF;
  }
  static int RK350_PORT_CALL Out(void* self, uint16_t, uint8_t) {
    ++static_cast<CountingPorts*>(self)->accesses;
    return 0;
  }
};

void SetUpChannels(TRK350& in) {
  in.SetChSensitivity(1, 2.0L);
  in.SetChDcLevel(1, 0.5L);
  in.SetChSensitivity(2, 0.2L);
  in.SetChCoupling(2, 1);
}

void BM_ApplyFrontEnd_CountingPorts(benchmark::State& state) {
  CountingPorts ports;
  hw::InstallPortPair({&ports, &CountingPorts::In, &CountingPorts::Out});
  {
    TRK350 in(nullptr);
    for (int ch = 1; ch <= 2; ++ch) {
      for (int r = 1; r <= 12; ++r) {
        in.DcGain[ch][r] = 1000;
        in.DcZero[ch][r] = 12800;
        in.DcStep[ch][r] = 10000;
        in.DcScale[ch][r] = 6000;
        in.OffsetTrim[ch][r] = 128;
      }
    }
    SetUpChannels(in);
    ports.accesses = 0;
    for (auto _ : state) in.ApplyFrontEnd();
    state.counters["port_accesses_per_call"] =
        benchmark::Counter(static_cast<double>(ports.accesses) / static_cast<double>(state.iterations()));
  }
  hw::InstallPortPair({});
}
BENCHMARK(BM_ApplyFrontEnd_CountingPorts);

void BM_ApplyFrontEnd_VirtualCard(benchmark::State& state) {
  // The flavour's own ports: the virtual card decodes every write.
  TRK350 in(nullptr);
  in.ReadCalibration();
  SetUpChannels(in);
  for (auto _ : state) in.ApplyFrontEnd();
}
BENCHMARK(BM_ApplyFrontEnd_VirtualCard);

void BM_ProgramSampleClock(benchmark::State& state) {
  CountingPorts ports;
  hw::InstallPortPair({&ports, &CountingPorts::In, &CountingPorts::Out});
  {
    TRK350 in(nullptr);
    const long double request = static_cast<long double>(state.range(0));
    ports.accesses = 0;
    for (auto _ : state) {
      long double f = request;
      in.ProgramSampleClock(f);
      benchmark::DoNotOptimize(f);
    }
    state.counters["port_accesses_per_call"] =
        benchmark::Counter(static_cast<double>(ports.accesses) / static_cast<double>(state.iterations()));
  }
  hw::InstallPortPair({});
}
BENCHMARK(BM_ProgramSampleClock)->Arg(30000000)->Arg(1)->Arg(100);

}  // namespace
