// The hardware flavour's single x86 `in` and `out`. Runs only where the
// kernel grants port access (root with CAP_SYS_RAWIO on bare metal). It uses
// the POST diagnostic port 0x80, which every PC takes harmlessly.
#include <benchmark/benchmark.h>
#include <sys/io.h>

#include "hardware/port_io.h"

namespace rk350 {
namespace {

constexpr uint16_t kPostPort = 0x80;

bool PortAccessGranted() { return ioperm(kPostPort, 1, 1) == 0; }

void BM_HardwarePortIn(benchmark::State& state) {
  if (!PortAccessGranted()) {
    state.SkipWithError("no port access from the kernel (ioperm refused)");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(hw::PortIn(kPostPort));
}
BENCHMARK(BM_HardwarePortIn);

void BM_HardwarePortOut(benchmark::State& state) {
  if (!PortAccessGranted()) {
    state.SkipWithError("no port access from the kernel (ioperm refused)");
    return;
  }
  for (auto _ : state) hw::PortOut(kPostPort, 0);
}
BENCHMARK(BM_HardwarePortOut);

}  // namespace
}  // namespace rk350
