// Cost of finding the card: InitInstrument on the virtual card (detection,
// the whole calibration read and the generator's parking), and the single
// EEPROM byte read it is made of. Besides the wall time, each benchmark
// counts the port accesses it makes; on a real ISA bus every access takes
// about a microsecond, which the "isa_ms" counter shows.
#include <benchmark/benchmark.h>

#include "flavour/default_card.h"
#include "hardware/port_io.h"
#include "library/library_state.h"

namespace {

using rk350::card::DefaultVirtualCard;

// Counts the accesses on their way to the virtual card.
struct CountingPorts {
  static int RK350_PORT_CALL In(void* context, uint16_t port) {
    ++static_cast<CountingPorts*>(context)->accesses;
    return DefaultVirtualCard().BusIn(port);
  }
  static int RK350_PORT_CALL Out(void* context, uint16_t port, uint8_t value) {
    ++static_cast<CountingPorts*>(context)->accesses;
    DefaultVirtualCard().Out(port, value);
    return 0;
  }
  CountingPorts() { rk350::hw::InstallPortPair({this, &In, &Out}); }
  ~CountingPorts() { rk350::hw::InstallPortPair({}); }
  uint64_t accesses = 0;
};

void ReportAccesses(benchmark::State& state, uint64_t accesses) {
  const double perIteration = static_cast<double>(accesses) / static_cast<double>(state.iterations());
  state.counters["port_accesses"] = perIteration;
  state.counters["isa_ms"] = perIteration * 1e-3;  // at 1 us per access
}

void BM_InitInstrument(benchmark::State& state) {
  uint64_t accesses = 0;
  for (auto _ : state) {
    CountingPorts ports;
    if (InitInstrument(0x288) != 0) state.SkipWithError("the card was not found");
    state.PauseTiming();
    accesses += ports.accesses;
    ExitInstrument();
    rk350::gInitialised = false;  // as after reloading the library
    state.ResumeTiming();
  }
  ReportAccesses(state, accesses);
}
BENCHMARK(BM_InitInstrument)->Unit(benchmark::kMillisecond);

void BM_ReadByte(benchmark::State& state) {
  CountingPorts ports;
  rk350::TRK350 instrument(nullptr);
  uint16_t address = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(instrument.ReadByte(address));
    address = static_cast<uint16_t>((address + 1) & 0x3FF);
  }
  ReportAccesses(state, ports.accesses);
}
BENCHMARK(BM_ReadByte);

void BM_ReadCalibration(benchmark::State& state) {
  CountingPorts ports;
  rk350::TRK350 instrument(nullptr);
  for (auto _ : state) instrument.ReadCalibration();
  ReportAccesses(state, ports.accesses);
}
BENCHMARK(BM_ReadCalibration)->Unit(benchmark::kMillisecond);

}  // namespace
