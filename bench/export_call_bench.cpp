// One guarded export call through the shared library, as a host makes it:
// the guard passing on a found card, and failing before InitInstrument.
#include <benchmark/benchmark.h>

#include "rk350/rk350.h"

namespace {

void BM_GuardedExportNoInstrument(benchmark::State& state) {
  uint16_t channels = 0;
  for (auto _ : state) benchmark::DoNotOptimize(GetNrChannels(&channels));
}
BENCHMARK(BM_GuardedExportNoInstrument);

void BM_GuardedExportReady(benchmark::State& state) {
  if (InitInstrument(0x288) != RK350_RESULT_OK) {
    state.SkipWithError("the virtual card was not found");
    return;
  }
  uint16_t channels = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetNrChannels(&channels));
    benchmark::DoNotOptimize(channels);
  }
}
BENCHMARK(BM_GuardedExportReady);

}  // namespace
