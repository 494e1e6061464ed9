// The capture tool's writers on a full record (65,520 samples, both
// channels): the CSV, the SVG picture and the sigrok session, each into
// memory, so the figures leave the disk out.
#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>

#include "csv_writer.h"
#include "record.h"
#include "sigrok_session.h"
#include "svg_plot.h"

namespace {

using rk350::capture::Record;

// What a capture at 50 MHz of the looped-back sine and a square on CH2
// gives: 8-bit samples as volts.
Record FullRecord() {
  Record r;
  r.sampleRate = 50e6;
  r.triggerIndex = 16380;
  r.channels = {{"CH1", 2.0, {}}, {"CH2", 2.0, {}}};
  for (int i = 0; i < 65520; ++i) {
    const double sine = std::sin(2 * M_PI * 1e3 * i / 50e6);
    const double square = (i / 100) % 2 == 0 ? 0.5 : -0.5;
    r.channels[0].volts.push_back(std::nearbyint(sine * 64) * 2.0 / 128);
    r.channels[1].volts.push_back(std::nearbyint(square * 64) * 2.0 / 128);
  }
  return r;
}

void BM_CsvFullRecord(benchmark::State& state) {
  const Record r = FullRecord();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    rk350::capture::WriteCsv(out, r);
    bytes = out.str().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_CsvFullRecord)->Unit(benchmark::kMillisecond);

void BM_SvgFullRecord(benchmark::State& state) {
  const Record r = FullRecord();
  for (auto _ : state) benchmark::DoNotOptimize(rk350::capture::RenderSvg(r, {}));
}
BENCHMARK(BM_SvgFullRecord)->Unit(benchmark::kMillisecond);

void BM_SigrokSessionFullRecord(benchmark::State& state) {
  const Record r = FullRecord();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    rk350::capture::WriteSigrokSession(out, r);
    bytes = out.str().size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SigrokSessionFullRecord)->Unit(benchmark::kMillisecond);

}  // namespace
