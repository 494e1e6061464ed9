// One PortOut / PortIn: through the virtual card, and through a host port
// pair that does nothing, which leaves the library's own cost per access
// (the budget is 5 ns against an ISA bus cycle of about 1 us).
#include <benchmark/benchmark.h>

#include "card/virtual_card.h"
#include "hardware/port_io.h"
#include "instrument/trk350.h"

namespace rk350 {
namespace {

int RK350_PORT_CALL NothingIn(void*, uint16_t) { return 0x80; }
int RK350_PORT_CALL NothingOut(void*, uint16_t, uint8_t) { return 0; }

// Restores the flavour's own pair around a benchmark.
struct HostPair {
  explicit HostPair(hw::PortPair pair) { hw::InstallPortPair(pair); }
  ~HostPair() { hw::InstallPortPair({}); }
};

void BM_VirtualCardPortOut(benchmark::State& state) {
  uint8_t value = 0;
  for (auto _ : state) hw::PortOut(0x288 + 0, value++ & 0x1F);  // register index writes
}
BENCHMARK(BM_VirtualCardPortOut);

void BM_VirtualCardPortIn(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(hw::PortIn(0x288 + 2));  // status port
}
BENCHMARK(BM_VirtualCardPortIn);

void BM_NothingPairPortOut(benchmark::State& state) {
  HostPair pair({nullptr, &NothingIn, &NothingOut});
  uint8_t value = 0;
  for (auto _ : state) hw::PortOut(0x288, value++);
}
BENCHMARK(BM_NothingPairPortOut);

void BM_NothingPairPortIn(benchmark::State& state) {
  HostPair pair({nullptr, &NothingIn, &NothingOut});
  for (auto _ : state) benchmark::DoNotOptimize(hw::PortIn(0x28A));
}
BENCHMARK(BM_NothingPairPortIn);

// A register write is two port writes behind the PortAccessEnabled test.
void BM_NothingPairWriteRegister(benchmark::State& state) {
  HostPair pair({nullptr, &NothingIn, &NothingOut});
  TRK350 instrument(nullptr);
  uint8_t value = 0;
  for (auto _ : state) instrument.WriteRegister(37, value++);
}
BENCHMARK(BM_NothingPairWriteRegister);

}  // namespace
}  // namespace rk350
