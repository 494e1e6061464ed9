// Acquisition benchmarks: fetching a full record from the virtual card with
// conversion to volts, and records per second of the timer-driven engine
// against the bound its 6 ms tick sets.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "card/virtual_card.h"
#include "hardware/port_io.h"
#include "instrument/trk350.h"
#include "platform/platform.h"

namespace {

using rk350::card::VirtualCard;

// A port pair to a virtual card that counts the accesses.
struct CountingCard {
  VirtualCard card{0x288};
  uint64_t accesses = 0;
  static int RK350_PORT_CALL In(void* self, uint16_t port) {
    auto* c = static_cast<CountingCard*>(self);
    ++c->accesses;
    return c->card.In(port);
  }
  static int RK350_PORT_CALL Out(void* self, uint16_t port, uint8_t value) {
    auto* c = static_cast<CountingCard*>(self);
    ++c->accesses;
    c->card.Out(port, value);
    return 0;
  }
};

struct Bench {
  std::unique_ptr<CountingCard> card = std::make_unique<CountingCard>();
  std::unique_ptr<rk350::TRK350> instrument;
  Bench() {
    rk350::hw::InstallPortPair({card.get(), &CountingCard::In, &CountingCard::Out});
    instrument = std::make_unique<rk350::TRK350>(nullptr);
    instrument->HardwarePresent = true;
    for (int ch = 1; ch <= 4; ++ch) instrument->AutoRanging[ch] = false;
    rk350::card::SignalSource sine;
    sine.kind = rk350::card::SourceKind::kSine;
    sine.amplitude = 0.5;
    sine.frequency = 1e3;
    card->card.Sources().Set(1, sine);
    card->card.Sources().Set(2, sine);
  }
  ~Bench() {
    instrument.reset();
    rk350::hw::InstallPortPair({});
  }
};

// Read a complete record of 65,520 samples on both channels and convert it
// to volts, as the first ADC_GetDataVolt after a block measurement does.
void BM_FetchFullRecordBothChannelsToVolts(benchmark::State& state) {
  Bench b;
  rk350::TRK350& t = *b.instrument;
  b.card->card.Time().SetManual(0);
  t.SetlRecordLength(65520);
  t.SetlPostSamples(32760);
  // Forced once the memory has filled, so the record is a whole one.
  t.TriggerLevel[1] = 250;
  t.ArmMeasurement();
  b.card->card.Time().Advance(0.01);
  t.ForceTrigger();
  b.card->card.Time().Advance(0.01);
  if (!t.RecordComplete()) state.SkipWithError("record not complete");
  std::vector<double> volts1(65520), volts2(65520);
  const double factor = 0.8 / 32768;
  uint64_t accesses = 0;
  for (auto _ : state) {
    const uint64_t before = b.card->accesses;
    t.ReadMeasurement();
    accesses += b.card->accesses - before;
    const uint16_t* d1 = t.ChannelData[1].get();
    const uint16_t* d2 = t.ChannelData[2].get();
    for (int i = 0; i < 65520; ++i) {
      volts1[i] = (static_cast<int>(d1[i]) - 0x8000) * factor;
      volts2[i] = (static_cast<int>(d2[i]) - 0x8000) * factor;
    }
    benchmark::DoNotOptimize(volts1.data());
    benchmark::DoNotOptimize(volts2.data());
  }
  const double samples = 2.0 * 65520 * static_cast<double>(state.iterations());
  state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
  state.counters["port accesses/sample"] = static_cast<double>(accesses) / samples;
}
BENCHMARK(BM_FetchFullRecordBothChannelsToVolts)->Unit(benchmark::kMillisecond);

// The card's own work for one record: arming, catching up with a long wait
// and computing the 65,536 samples the memory keeps per converter.
void BM_CardCompletesAFullMemoryRecord(benchmark::State& state) {
  Bench b;
  rk350::TRK350& t = *b.instrument;
  b.card->card.Time().SetManual(0);
  t.SetlRecordLength(65520);
  t.SetlPostSamples(32760);
  for (auto _ : state) {
    t.ArmMeasurement();
    b.card->card.Time().Advance(10.0);  // 250 million samples of card time at 25 MHz
    benchmark::DoNotOptimize(t.RecordComplete());
  }
}
BENCHMARK(BM_CardCompletesAFullMemoryRecord)->Unit(benchmark::kMillisecond);

// One block record of both channels (a 1 kHz sine at 1 MHz, trigger at 0 V
// rising, 25 % before the trigger) with the card's trigger and with the
// software trigger: the library's CPU time per record (readout, search and
// placement; the card's computing included), the port accesses per record
// (each about a microsecond on a real ISA bus) and the samples the card
// takes. Argument: record length; second: 1 for the software trigger.
void BM_BlockRecordByTrigger(benchmark::State& state) {
  Bench b;
  rk350::TRK350& t = *b.instrument;
  b.card->card.Time().SetManual(0);
  t.ClockFrequency = t.SampleFreqRequested = 1e6L;
  const auto length = static_cast<int32_t>(state.range(0));
  t.SetlRecordLength(length);
  t.SetlPostSamples(length - length / 4);
  t.SetmMeasureMode(rk350::mCh12);
  t.SoftwareTriggerEnabled = state.range(1) == 1;
  uint64_t accesses = 0, held = 0, taken = 0, runs = 0;
  for (auto _ : state) {
    const uint64_t before = b.card->accesses;
    t.SoftwareAttempt = 0;
    int attempts = 0;
    do {
      ++runs;
      if (++attempts > 100) {
        state.SkipWithError("no crossing in 100 runs");
        break;
      }
      t.ArmMeasurement();
      // Long enough for the trigger and the whole run at 1 MHz.
      b.card->card.Time().Advance(0.2);
      if (!t.RecordComplete()) state.SkipWithError("record not complete");
      taken += static_cast<uint64_t>(b.card->card.Acquisition().StopIndex() + 1);
      t.ReadMeasurement();
    } while (t.SoftwareMissed);
    accesses += b.card->accesses - before;
    held += static_cast<uint64_t>(t.Held[1].count);
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["port accesses/record"] = static_cast<double>(accesses) / n;
  state.counters["samples taken/record"] = static_cast<double>(taken) / n;
  state.counters["held positions"] = static_cast<double>(held) / n;
  state.counters["runs/record"] = static_cast<double>(runs) / n;
}
BENCHMARK(BM_BlockRecordByTrigger)
    ->ArgsProduct({{1000, 5000, 20000, 60000}, {0, 1}})
    ->ArgNames({"length", "software"})
    ->Unit(benchmark::kMicrosecond);

// The cost of a complete record against its physical minimum, for rates
// from 100 Hz to 100 MHz, records from 100 to 65,456 samples and sine
// periods from 1/50 of the record to twice the record (at least 10 samples),
// each at several phases, with the software trigger on (both channels; at
// 100 MHz channel 1 on both converters), in three settings: rising at 0 V
// with 25 % before the trigger, level (mode 3) at 0 V with 25 %, and rising
// with 99.99 % before the trigger (at least 1 sample after it). Records
// follow each other as in continuous mode, so what the library learns from
// one record serves the next; the first record of each setting is counted
// apart ("first record").
//   port accesses / minimum: the minimum reads the record once (3 accesses
//     per sample and channel; at 100 MHz the one merged channel) after one
//     arming;
//   card time / minimum: the minimum is the record's time plus the time from
//     the end of the pre-trigger part to the first qualifying crossing.
// Arguments: rate index, record length, period index, setting index.
constexpr double kRates[] = {100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
constexpr double kPeriodShares[] = {1.0 / 50, 1.0 / 8, 0.5, 1, 2};
constexpr int kPhases = 8;
struct CostSetting {
  uint8_t mode;           // trigger mode: 0 rising, 3 level
  int32_t postPerMyriad;  // post-trigger part, in 1/10,000 of the record
};
constexpr CostSetting kCostSettings[] = {{0, 7500}, {3, 7500}, {0, 1}};

// The first sample at or after `pre` (counted from the run's first sample)
// that meets the condition as the comparators apply it: rising (the samples
// before it re-arming) or level; -1 when none comes within `limit` samples.
int64_t FirstCrossingAfter(rk350::card::AcquisitionModel& a, double t0, double period, int64_t pre, int64_t limit,
                           bool level, int lowArm, int fire) {
  bool armed = false;
  for (int64_t k = 0; k < limit; ++k) {
    const int x = a.Convert(1, t0 + static_cast<double>(k) * period) - 1;
    if ((armed || level) && x >= fire) {
      if (k >= pre) return k;
      armed = false;
      continue;
    }
    if (x < lowArm) armed = true;
  }
  return -1;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void BM_CompleteRecordCost(benchmark::State& state) {
  const double rate = kRates[state.range(0)];
  const auto length = static_cast<int32_t>(state.range(1));
  const double periodSamples = std::max(10.0, static_cast<double>(length) * kPeriodShares[state.range(2)]);
  Bench b;
  rk350::TRK350& t = *b.instrument;
  VirtualCard& card = b.card->card;
  card.Time().SetManual(1.0);
  const bool interleaved = rate > 50e6;
  if (interleaved) {
    t.InterleaveCapable = true;
    t.SetmMeasureMode(rk350::mCh1);
  } else {
    t.SetmMeasureMode(rk350::mCh12);
  }
  t.SetrSampleFreq(static_cast<rk350::Extended>(rate));
  const CostSetting setting = kCostSettings[state.range(3)];
  t.SetChTriggerMode(1, setting.mode);
  t.SetlRecordLength(length);
  t.SetlPostSamples(std::max<int32_t>(1, static_cast<int32_t>(int64_t{length} * setting.postPerMyriad / 10000)));
  const int32_t pre = t.lPreSamples;
  const int channels = interleaved ? 1 : 2;  // both channels, or at 100 MHz the merged one
  rk350::card::SignalSource sine;
  sine.kind = rk350::card::SourceKind::kSine;
  sine.amplitude = 0.5;
  sine.frequency = rate / periodSamples;
  card.Sources().Set(1, sine);
  card.Sources().Set(2, sine);
  // The arming alone, as the card's own trigger arms it.
  t.SoftwareTriggerEnabled = false;
  uint64_t before = b.card->accesses;
  t.ArmMeasurement();
  const double arming = static_cast<double>(b.card->accesses - before);
  card.Time().Advance(static_cast<double>(length + 100) / rate);
  t.SoftwareTriggerEnabled = true;
  t.ComputeTriggerComparators();
  const int lowArm = t.ComparatorValues[1][0], fire = t.ComparatorValues[1][1];
  const double minimumAccesses = 3.0 * length * channels + arming;

  std::vector<double> accessRatio, timeRatio, runsPerRecord;
  double firstAccess = 0, firstTime = 0;
  int failed = 0;
  for (auto _ : state) {
    for (int record = 0; record <= kPhases; ++record) {
      // A new phase: the signal moves on by an irrational share of a period.
      card.Time().Advance(0.618034 * periodSamples / rate * (record + 1));
      before = b.card->accesses;
      double cardSeconds = 0, minimumSeconds = 0;
      int runs = 0;
      t.SoftwareAttempt = 0;
      t.SoftwareForced = false;
      do {
        if (++runs > 40) break;
        const double t0 = card.Time().Now();
        t.ArmMeasurement();
        if (runs == 1) {
          const int64_t p = FirstCrossingAfter(card.Acquisition(), t0, 1.0 / rate, pre,
                                               pre + 4 * int64_t(periodSamples) + 64, setting.mode == 3, lowArm, fire);
          minimumSeconds = static_cast<double>(length + (p < 0 ? 0 : p - pre)) / rate;
        }
        while (!t.RecordComplete()) card.Time().Advance(static_cast<double>(length) / 4 / rate + 1e-6);
        cardSeconds += static_cast<double>(card.Acquisition().StopIndex() + 1) / card.Acquisition().ConverterClockHz();
        t.ReadMeasurement();
      } while (t.SoftwareMissed);
      if (runs > 40 || t.Held[1].count != length) ++failed;
      const double a = static_cast<double>(b.card->accesses - before) / minimumAccesses;
      const double c = cardSeconds / minimumSeconds;
      if (record == 0) {
        firstAccess = a;
        firstTime = c;
        continue;
      }
      accessRatio.push_back(a);
      timeRatio.push_back(c);
      runsPerRecord.push_back(runs);
    }
  }
  state.counters["period/record"] = periodSamples / length;
  state.counters["accesses: median"] = Median(accessRatio);
  state.counters["accesses: worst"] = *std::max_element(accessRatio.begin(), accessRatio.end());
  state.counters["card time: median"] = Median(timeRatio);
  state.counters["card time: worst"] = *std::max_element(timeRatio.begin(), timeRatio.end());
  state.counters["first record: accesses"] = firstAccess;
  state.counters["first record: card time"] = firstTime;
  state.counters["runs/record"] = Median(runsPerRecord);
  state.counters["incomplete"] = failed;
}
BENCHMARK(BM_CompleteRecordCost)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {100, 1000, 10000, 65456}, {0, 1, 2, 3, 4}, {0, 1, 2}})
    ->ArgNames({"rate", "length", "period", "setting"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Continuous mode on the host clock: the 6 ms timer runs the engine while
// the thread pumps its messages. The timer gives at most 1000 / 6 ticks per
// second; a record needs an arming tick and a completing tick at best, so
// the bound is half that. The first record after the settings are applied
// is armed twice (the engine does so after every settings change).
void BM_ContinuousRecordsPerSecond(benchmark::State& state) {
  Bench b;
  rk350::TRK350& t = *b.instrument;
  t.SetlRecordLength(static_cast<int32_t>(state.range(0)));
  t.SetlPostSamples(static_cast<int32_t>(state.range(0) / 2));
  t.SetmMeasureMode(rk350::mCh12);
  t.SetrTrigTimeOut(0.05L);
  long records = 0;
  t.OnMeasurementReady = {[](void* count, rk350::TRK350*) { ++*static_cast<long*>(count); }, &records};
  t.SetamAcquisitionMode(rk350::amContinuous);
  double seconds = 0;
  for (auto _ : state) {
    records = 0;
    t.SetbEnableMeasurements(true);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) rk350::platform::ProcessPendingMessages();
    t.SetbEnableMeasurements(false);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["records/s"] = static_cast<double>(records) / seconds;
  state.counters["ticks bound/s"] = 1000.0 / 6.0;
  state.counters["records bound/s"] = 1000.0 / 12.0;
  state.counters["% of bound"] = 100.0 * static_cast<double>(records) / seconds / (1000.0 / 12.0);
}
BENCHMARK(BM_ContinuousRecordsPerSecond)->Arg(512)->Arg(65520)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
