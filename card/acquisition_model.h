// The card's acquisition circuit: sample clock, trigger comparators and
// trigger paths, post-trigger counter, the circular sample memory of each
// channel with its address counter and status bits, the address-advance run
// and the readout strobe.
//
// Runs on virtual time and computes lazily: nothing happens between port
// accesses. When the library looks (status, address, a register write), the
// model catches up to the present: it searches the samples taken since it
// last looked for the trigger, skipping stretches in which the sources'
// bounds rule out any comparator change (stretches that double while they
// stay quiet, so the work does not grow with the jump in time; over a very
// long stretch of a source without bounds, searching its start and its last
// million samples),
// and when the record is complete it computes only the samples the memory
// still holds (the last 65,536).
//
// Pipeline delays (chosen so that the library's alignment puts the trigger
// instant at the record index of the first post-trigger sample):
//   - the post-trigger counter starts `TriggerLatency` samples after the
//     trigger instant: 14 for the comparator paths (channel 1, channel 2,
//     logic combinations, the channels' digital conditions), 7 for the
//     external input; at the slow clock (counter rates up to 100 kHz) one
//     less for the comparator paths and one more for the external input;
//     0 when running without trigger. A trigger forced while waiting goes
//     through the armed path and has its delay;
//   - the address-advance run counts two clock periods beyond its count;
//   - each readout strobe moves the address counter on by one, and the data
//     ports show the sample 12 addresses behind the counter.
#pragma once

#include <array>
#include <cstdint>

#include "card/front_end_model.h"
#include "hardware/register_map.h"

namespace rk350::card {

class VirtualTime;
class SignalSources;
class SampleClockModel;

class AcquisitionModel {
 public:
  static constexpr int kComparatorLatency = 14;
  static constexpr int kExternalLatency = 7;
  static constexpr int kAdvanceOvershoot = 2;
  static constexpr int kReadoutPipeline = 12;
  static constexpr double kExternalThresholdVolts = 1.4;

  AcquisitionModel(VirtualTime& time, const FrontEndModel& frontEnd, const SampleClockModel& clock,
                   const SignalSources& sources);
  void Reset();

  // Bus side.
  void OnRegisterWrite(uint8_t index, uint8_t value);
  uint8_t StatusBits();  // running 0x80, wrapped 0x40, trigger seen 0x02/0x04
  uint8_t AddressHigh();
  uint8_t AddressLow();
  uint8_t ReadSampleByte(int channel) const;

  // Inspection for tests and hosts.
  double ConverterClockHz() const;
  bool Running() { return (StatusBits() & regs::kStatusRunning) != 0; }
  bool InterleavedClock() const { return registers_[regs::kRegClockMode] == 2; }
  uint16_t Address() const { return address_; }
  uint8_t Memory(int channel, uint16_t address) const { return memory_[channel == 2 ? 1 : 0][address]; }
  // Sample index of the trigger instant in the last run (-1: none yet) and
  // the index of its last sample; both count from the run's first sample.
  int64_t TriggerIndex() const { return run_.triggered ? run_.triggerIndex : -1; }
  int64_t StopIndex() const { return run_.triggered ? run_.stopIndex : -1; }
  // The 8-bit code converter `path` (1 or 2) would take at a virtual time.
  uint8_t Convert(int path, double time) const;
  // Samples evaluated since reset (a measure of the model's own work).
  uint64_t SamplesEvaluated() const { return evaluated_; }
  // Bounds checks of the trigger search since reset (the rest of its work).
  uint64_t BoundChecks() const { return boundChecks_; }

 private:
  enum class Edge : uint8_t { kOff, kRising, kFalling, kAbove, kBelow };
  struct Detector {
    Edge edge = Edge::kOff;
    int a = 0, b = 0;  // arm and fire thresholds on the detector's scale
    bool armed = false;
    bool fired = false;
  };
  enum class Path : uint8_t { kNone, kFreeRun, kCh1, kCh2, kLogic, kExternal, kCh1Digital, kCh2Digital };
  struct Run {
    bool active = false;
    double t0 = 0;      // virtual time of sample 0 (converter 1)
    double period = 1;  // converter clock period
    bool interleaved = false;
    bool slowClock = false;
    Path path = Path::kNone;
    uint8_t logic = 0;  // the trigger control: kTriggerControlAnd, Or or Xor
    uint32_t postCount = 1;
    int latency = 0;
    int64_t next = 0;  // first sample not yet examined for the trigger
    bool triggered = false;
    int64_t triggerIndex = 0;
    int64_t stopIndex = 0;  // last sample the run writes
    Detector ch1, ch2, special;
    PathAnalogState paths[2];
  };

  void StartRun();
  void StopRun(int64_t samplesWritten);
  void CatchUp();
  int64_t SamplesUpTo(double now) const;
  void Scan(int64_t from, int64_t to);
  bool ChunkMayChange(int64_t from, int64_t to) const;
  bool StepDetectors(int64_t k);
  void SetTrigger(int64_t k);
  void Materialise(int64_t first, int64_t last);
  double SampleTime(int path, int64_t k) const;
  uint8_t ConvertWith(const PathAnalogState& p, double time) const;
  static bool Step(Detector& d, int x);
  static bool MayChange(const Detector& d, int low, int high);
  void ConfigureDetectors();
  bool UsesGenerator() const;
  // The channel comparators that take part in the armed path.
  bool UsesCh1() const { return run_.path == Path::kCh1 || run_.path == Path::kLogic; }
  bool UsesCh2() const { return run_.path == Path::kCh2 || run_.path == Path::kLogic; }

  VirtualTime& time_;
  const FrontEndModel& frontEnd_;
  const SampleClockModel& clock_;
  const SignalSources& sources_;
  std::array<uint8_t, regs::kRegisterCount> registers_{};
  uint8_t lastCommand_ = 0;
  bool advanceReset_ = false;
  uint16_t address_ = 0;
  bool wrapped_ = false;
  uint8_t seen_ = 0;
  bool addressLatched_ = false;
  uint16_t latchedAddress_ = 0;
  Run run_;
  uint64_t evaluated_ = 0;
  uint64_t boundChecks_ = 0;
  std::array<std::array<uint8_t, regs::kMemoryDepth>, 2> memory_{};
};

}  // namespace rk350::card
