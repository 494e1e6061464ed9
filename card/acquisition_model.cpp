#include "card/acquisition_model.h"

#include <algorithm>
#include <cmath>

#include "card/sample_clock_model.h"
#include "card/signal_sources.h"
#include "card/virtual_time.h"

namespace rk350::card {

namespace {
constexpr int64_t kScanChunk = 1024;
constexpr int64_t kScanBudget = int64_t{1} << 20;
// The longest stretch one bounds check covers; far beyond any run (the
// sample count saturates at kMaxSamples) and far from overflowing k + span.
constexpr int64_t kMaxSpan = int64_t{1} << 60;
constexpr int64_t kMaxSamples = int64_t{4} << 60;

// The converter's code for a voltage on a path of the given full scale; a
// voltage that is not a number (a source at a time beyond its arithmetic)
// reads as mid-scale.
int QuantisedCode(double volts, double fullScaleVolts) {
  if (!(fullScaleVolts > 0)) return 128;
  const double code = std::floor(128.0 + volts * 128.0 / fullScaleVolts + 0.5);
  if (std::isnan(code)) return 128;
  return static_cast<int>(std::clamp(code, 0.0, 255.0));
}
constexpr int64_t kDepth = regs::kMemoryDepth;
}  // namespace

AcquisitionModel::AcquisitionModel(VirtualTime& time, const FrontEndModel& frontEnd, const SampleClockModel& clock,
                                   const SignalSources& sources)
    : time_(time), frontEnd_(frontEnd), clock_(clock), sources_(sources) {
  Reset();
}

void AcquisitionModel::Reset() {
  registers_.fill(0);
  lastCommand_ = 0;
  advanceReset_ = false;
  address_ = 0;
  wrapped_ = false;
  seen_ = 0;
  addressLatched_ = false;
  run_ = Run{};
  for (auto& m : memory_) m.fill(0x80);
}

// ---- Sample clock ------------------------------------------------------------

double AcquisitionModel::ConverterClockHz() const { return clock_.ConverterClockHz(); }

// ---- Register writes -------------------------------------------------------------

void AcquisitionModel::OnRegisterWrite(uint8_t index, uint8_t value) {
  if (index >= regs::kRegisterCount) return;
  const uint8_t previous = registers_[index];
  registers_[index] = value;
  switch (index) {
    case regs::kRegCommand:
      if (lastCommand_ == regs::kCommandStartAcquisition[0] && value == regs::kCommandStartAcquisition[1]) {
        // clears the address counter and the status
        CatchUp();
        if (!run_.active) {
          address_ = 0;
          wrapped_ = false;
          seen_ = 0;
        }
      }
      if (lastCommand_ == regs::kCommandStartAdvance[0] && value == regs::kCommandStartAdvance[1]) {
        advanceReset_ = true;
      }
      // Preparing a readout from address 0 needs nothing here.
      lastCommand_ = value;
      break;
    case regs::kRegTriggerControl:
      // Trigger control 3 while waiting forces the trigger at once.
      if (value == regs::kTriggerControlFreeRun && previous != regs::kTriggerControlFreeRun) {
        CatchUp();
        if (run_.active && !run_.triggered) SetTrigger(std::max(run_.next, SamplesUpTo(time_.Now())));
      }
      break;
    case regs::kRegReadStrobe:
      if (!run_.active) address_ = static_cast<uint16_t>(address_ + 1);
      break;
    case regs::kRegSequencer:
      CatchUp();
      if (run_.active && value != regs::kSequencerAcquireRun) StopRun(SamplesUpTo(time_.Now()));
      if (value == regs::kSequencerAcquireRun && !run_.active) StartRun();
      if (value == regs::kSequencerAdvanceRun) {
        // Counts the address on by the post-trigger count at the fastest
        // clock, without writing the memory. Its 1.3 ms at most are not
        // modelled: the run is complete when the next status read comes.
        const uint32_t count =
            registers_[regs::kRegPostCountLow] | static_cast<uint32_t>(registers_[regs::kRegPostCountHigh]) << 8;
        const uint32_t from = advanceReset_ ? 0 : address_;
        address_ = static_cast<uint16_t>(from + count + kAdvanceOvershoot);
        advanceReset_ = false;
      }
      break;
    default:
      break;
  }
}

// ---- Runs -----------------------------------------------------------------------

void AcquisitionModel::StartRun() {
  Run r;
  r.active = true;
  r.t0 = time_.Now();
  const double hz = ConverterClockHz();
  r.period = hz > 0 ? 1.0 / hz : 1.0;  // no clock selected: a token 1 Hz
  r.interleaved = registers_[regs::kRegClockMode] == regs::kClockModeFixedInterleaved;
  r.slowClock = registers_[regs::kRegClockMode] == regs::kClockModeSlowCounter;
  r.postCount = registers_[regs::kRegPostCountLow] | static_cast<uint32_t>(registers_[regs::kRegPostCountHigh]) << 8;
  if (r.postCount == 0) r.postCount = 1;
  r.paths[0] = frontEnd_.Path(1);
  r.paths[1] = frontEnd_.Path(2);

  const uint8_t control = registers_[regs::kRegTriggerControl];
  const uint8_t path = registers_[regs::kRegTriggerPath];
  const uint8_t special = registers_[regs::kRegSpecialTrigger];
  if (control == regs::kTriggerControlFreeRun) {
    r.path = Path::kFreeRun;
  } else if (path == regs::kTriggerPathCh1) {
    r.path = Path::kCh1;
  } else if (path == regs::kTriggerPathCh2) {
    r.path = Path::kCh2;
  } else if (path == regs::kTriggerPathLogic) {
    r.path = Path::kLogic;
    r.logic = control;
  } else if (path == regs::kTriggerPathSpecial) {
    switch (special & regs::kSpecialSignalMask) {
      case regs::kSpecialExternal:
        r.path = Path::kExternal;
        break;
      case regs::kSpecialCh1DigitalModes5And6:
      case regs::kSpecialCh1DigitalMode4:
        r.path = Path::kCh1Digital;
        break;
      case regs::kSpecialCh2DigitalModes5And6:
      case regs::kSpecialCh2DigitalMode4:
        r.path = Path::kCh2Digital;
        break;
      default:
        r.path = Path::kNone;
    }
  }
  if (r.path == Path::kFreeRun) {
    r.latency = 0;
  } else if (r.path == Path::kExternal) {
    r.latency = kExternalLatency + (r.slowClock ? 1 : 0);
  } else {
    r.latency = kComparatorLatency - (r.slowClock ? 1 : 0);
  }
  run_ = r;
  address_ = 0;
  wrapped_ = false;
  seen_ = 0;
  ConfigureDetectors();
  if (run_.path == Path::kFreeRun) SetTrigger(0);
}

void AcquisitionModel::ConfigureDetectors() {
  // Channel 1: register 15 picks edge or level, register 16 the direction
  // (rising / above, falling / below); the other kinds are not modelled.
  auto direction = [](uint8_t kind, uint8_t dir) {
    const bool rising = dir == regs::kCh1DirectionRising, falling = dir == regs::kCh1DirectionFalling;
    if (kind == regs::kCh1KindEdge) return rising ? Edge::kRising : falling ? Edge::kFalling : Edge::kOff;
    if (kind == regs::kCh1KindLevel) return rising ? Edge::kAbove : falling ? Edge::kBelow : Edge::kOff;
    return Edge::kOff;
  };
  run_.ch1.edge = direction(registers_[regs::kRegCh1ModeA], registers_[regs::kRegCh1ModeB]);
  run_.ch1.a = registers_[regs::kRegCh1CompA];
  run_.ch1.b = registers_[regs::kRegCh1CompB];
  // Channel 2: register 25 is rising, falling or level above.
  const uint8_t m2 = registers_[regs::kRegCh2Mode];
  run_.ch2.edge = m2 == regs::kCh2ModeRising    ? Edge::kRising
                  : m2 == regs::kCh2ModeFalling ? Edge::kFalling
                  : m2 == regs::kCh2ModeAbove   ? Edge::kAbove
                                                : Edge::kOff;
  run_.ch2.a = registers_[regs::kRegCh2CompA];
  run_.ch2.b = registers_[regs::kRegCh2CompB];
  // The special code's slope. The external input compares against its
  // threshold, the channels' digital conditions look at the converter's sign
  // bit; both as 0/1 with arm and fire at 0 and 1. The analog external
  // input's codes are not modelled.
  const uint8_t slope = registers_[regs::kRegSpecialTrigger] & regs::kSpecialSlopeMask;
  run_.special.edge = slope == regs::kSpecialRising    ? Edge::kRising
                      : slope == regs::kSpecialFalling ? Edge::kFalling
                                                       : Edge::kOff;
  run_.special.a = run_.special.edge == Edge::kRising ? 1 : 0;
  run_.special.b = run_.special.edge == Edge::kRising ? 1 : 0;
}

void AcquisitionModel::SetTrigger(int64_t k) {
  // A trigger at the saturated end of the sample count still leaves room
  // for its post-trigger samples, so the record completes.
  k = std::min(k, kMaxSamples - 1 - run_.latency - static_cast<int64_t>(run_.postCount));
  run_.triggered = true;
  run_.triggerIndex = k;
  run_.stopIndex = k + run_.latency + static_cast<int64_t>(run_.postCount);
}

void AcquisitionModel::StopRun(int64_t samplesWritten) {
  if (!run_.active) return;
  run_.active = false;
  if (samplesWritten <= 0) return;
  address_ = static_cast<uint16_t>(samplesWritten % kDepth);
  wrapped_ = samplesWritten >= kDepth;
  // Only the last 65,536 samples survive in the memory: compute those.
  Materialise(std::max<int64_t>(0, samplesWritten - kDepth), samplesWritten - 1);
}

int64_t AcquisitionModel::SamplesUpTo(double now) const {
  if (!(now >= run_.t0)) return 0;
  const double n = std::floor((now - run_.t0) / run_.period) + 1;
  // Saturates (also an infinite or undefined quotient) far beyond any record.
  return n < static_cast<double>(kMaxSamples) ? static_cast<int64_t>(n) : kMaxSamples;
}

void AcquisitionModel::CatchUp() {
  if (!run_.active) return;
  const int64_t now = SamplesUpTo(time_.Now());
  if (!run_.triggered && now > run_.next) Scan(run_.next, now);
  if (run_.triggered && now > run_.stopIndex) {
    StopRun(run_.stopIndex + 1);
    return;
  }
  address_ = static_cast<uint16_t>(now % kDepth);
  wrapped_ = now >= kDepth;
}

// ---- Trigger search -------------------------------------------------------------

double AcquisitionModel::SampleTime(int path, int64_t k) const {
  const double t = run_.t0 + static_cast<double>(k) * run_.period;
  // Interleaved: converter 2 samples half a period after converter 1.
  return path == 2 && run_.interleaved ? t + run_.period / 2 : t;
}

uint8_t AcquisitionModel::ConvertWith(const PathAnalogState& p, double time) const {
  double v = sources_.Volts(p.inputChannel, time);
  if (p.acCoupled) v -= sources_.Mean(p.inputChannel);
  return static_cast<uint8_t>(QuantisedCode(v + p.offsetVolts, p.fullScaleVolts));
}

uint8_t AcquisitionModel::Convert(int path, double time) const { return ConvertWith(frontEnd_.Path(path), time); }

// One sample of a detector; x on its scale. Returns true when it fires.
bool AcquisitionModel::Step(Detector& d, int x) {
  switch (d.edge) {
    case Edge::kOff:
      return false;
    case Edge::kRising:
      if (d.armed && x >= d.b) return true;
      if (x < d.a) d.armed = true;
      return false;
    case Edge::kFalling:
      if (d.armed && x <= d.b) return true;
      if (x > d.a) d.armed = true;
      return false;
    case Edge::kAbove:
      return x >= d.b;
    case Edge::kBelow:
      return x <= d.b;
  }
  return false;
}

bool AcquisitionModel::MayChange(const Detector& d, int low, int high) {
  if (d.fired) return false;
  switch (d.edge) {
    case Edge::kOff:
      return false;
    case Edge::kRising:
      return d.armed ? high >= d.b : low < d.a;
    case Edge::kFalling:
      return d.armed ? low <= d.b : high > d.a;
    case Edge::kAbove:
      return high >= d.b;
    case Edge::kBelow:
      return low <= d.b;
  }
  return true;
}

// The comparators work on the comparator scale, where count L stands for the
// converter code L + 1 (127 is 0 V, the converter's 128).
bool AcquisitionModel::ChunkMayChange(int64_t from, int64_t to) const {
  const double t0 = SampleTime(1, from), t1 = SampleTime(2, to - 1);
  auto codeBounds = [&](int path, int& low, int& high) {
    const PathAnalogState& p = run_.paths[path - 1];
    const VoltBounds b = sources_.Bounds(p.inputChannel, t0, t1);
    if (!b.known) return false;
    const double shift = p.acCoupled ? -sources_.Mean(p.inputChannel) : 0.0;
    const double lowVolts = b.low + shift + p.offsetVolts, highVolts = b.high + shift + p.offsetVolts;
    if (std::isnan(lowVolts) || std::isnan(highVolts)) return false;  // bounds beyond the arithmetic
    // Quantising is monotonic: bound the codes by converting the bounds.
    low = QuantisedCode(lowVolts, p.fullScaleVolts);
    high = QuantisedCode(highVolts, p.fullScaleVolts);
    return true;
  };
  int low = 0, high = 0;
  if (UsesCh1() && !run_.ch1.fired && run_.ch1.edge != Edge::kOff) {
    if (!codeBounds(1, low, high) || MayChange(run_.ch1, low - 1, high - 1)) return true;
  }
  if (UsesCh2() && !run_.ch2.fired && run_.ch2.edge != Edge::kOff) {
    if (!codeBounds(2, low, high) || MayChange(run_.ch2, low - 1, high - 1)) return true;
  }
  if (run_.path == Path::kExternal) {
    const VoltBounds b = sources_.Bounds(SignalSources::kExternalInput, t0, t1);
    if (!b.known) return true;
    if (MayChange(run_.special, b.low >= kExternalThresholdVolts, b.high >= kExternalThresholdVolts)) return true;
  }
  if (run_.path == Path::kCh1Digital || run_.path == Path::kCh2Digital) {
    if (!codeBounds(run_.path == Path::kCh1Digital ? 1 : 2, low, high)) return true;
    if (MayChange(run_.special, low >= 128, high >= 128)) return true;
  }
  return false;
}

// Evaluates sample k on every detector still waiting; returns true when the
// armed path triggers on it.
bool AcquisitionModel::StepDetectors(int64_t k) {
  int code[2] = {-1, -1};
  auto codeOf = [&](int path) {
    if (code[path - 1] < 0) {
      code[path - 1] = ConvertWith(run_.paths[path - 1], SampleTime(path, k));
      ++evaluated_;
    }
    return code[path - 1];
  };
  if (UsesCh1() && !run_.ch1.fired && run_.ch1.edge != Edge::kOff && Step(run_.ch1, codeOf(1) - 1)) {
    run_.ch1.fired = true;
    seen_ |= regs::kStatusTriggeredCh1;
  }
  if (UsesCh2() && !run_.ch2.fired && run_.ch2.edge != Edge::kOff && Step(run_.ch2, codeOf(2) - 1)) {
    run_.ch2.fired = true;
    seen_ |= regs::kStatusTriggeredCh2;
  }
  bool specialFired = false;
  if (run_.path == Path::kExternal) {
    const double v = sources_.Volts(SignalSources::kExternalInput, SampleTime(1, k));
    specialFired = Step(run_.special, v >= kExternalThresholdVolts ? 1 : 0);
    if (specialFired) seen_ |= regs::kStatusTriggeredCh1 | regs::kStatusTriggeredCh2;
  } else if (run_.path == Path::kCh1Digital || run_.path == Path::kCh2Digital) {
    const bool one = run_.path == Path::kCh1Digital;
    specialFired = Step(run_.special, codeOf(one ? 1 : 2) >= 128 ? 1 : 0);
    if (specialFired) seen_ |= one ? regs::kStatusTriggeredCh1 : regs::kStatusTriggeredCh2;
  }
  if (specialFired) run_.special.fired = true;
  const bool s1 = (seen_ & regs::kStatusTriggeredCh1) != 0, s2 = (seen_ & regs::kStatusTriggeredCh2) != 0;
  switch (run_.path) {
    case Path::kCh1:
      return run_.ch1.fired;
    case Path::kCh2:
      return run_.ch2.fired;
    case Path::kLogic:
      // The combination of the channels' latched trigger-seen flags.
      switch (run_.logic) {
        case regs::kTriggerControlAnd:
          return s1 && s2;
        case regs::kTriggerControlOr:
          return s1 || s2;
        case regs::kTriggerControlXor:
          return s1 != s2;
        default:
          return false;
      }
    case Path::kExternal:
    case Path::kCh1Digital:
    case Path::kCh2Digital:
      return specialFired;
    default:
      return false;
  }
}

void AcquisitionModel::Scan(int64_t from, int64_t to) {
  // The search covers stretches whose sources' bounds rule out any
  // comparator change with one check each, doubling the stretch after every
  // such check and halving it where a change may hide; so a jump of any
  // length over a quiet input costs a few dozen checks. Samples that must be
  // looked at one by one (sources without known bounds, or stretches where a
  // comparator may change) are searched from the start of the stretch; if
  // the budget runs out without a trigger over a very long stretch, the
  // search goes on over its last part only. For the stationary signals such
  // stretches come from this is indistinguishable, and it keeps a long
  // unobserved wait from costing seconds.
  int64_t k = from;
  int64_t evaluated = 0;
  int64_t span = kScanChunk;
  bool skipped = false;
  if (UsesGenerator()) sources_.RefreshGeneratorBounds();
  while (k < to && !run_.triggered) {
    if (!skipped && evaluated >= kScanBudget && to - k > kScanBudget) {
      k = to - kScanBudget;
      skipped = true;
    }
    const int64_t end = std::min(to, k + span);
    ++boundChecks_;
    if (!ChunkMayChange(k, end)) {
      k = end;
      span = std::min(span * 2, kMaxSpan);
      continue;
    }
    if (span > kScanChunk) {
      span /= 2;
      continue;
    }
    for (; k < end; ++k) {
      ++evaluated;
      if (StepDetectors(k)) {
        SetTrigger(k);
        ++k;
        break;
      }
    }
  }
  run_.next = k;
}

bool AcquisitionModel::UsesGenerator() const {
  for (const PathAnalogState& p : run_.paths) {
    if (sources_.Get(p.inputChannel).kind == SourceKind::kGenerator) return true;
  }
  return sources_.Get(SignalSources::kExternalInput).kind == SourceKind::kGenerator;
}

// ---- Memory --------------------------------------------------------------------

void AcquisitionModel::Materialise(int64_t first, int64_t last) {
  for (int path = 1; path <= 2; ++path) {
    auto& memory = memory_[path - 1];
    const PathAnalogState& p = run_.paths[path - 1];
    for (int64_t k = first; k <= last; ++k)
      memory[static_cast<size_t>(k % kDepth)] = ConvertWith(p, SampleTime(path, k));
  }
  evaluated_ += static_cast<uint64_t>(2 * (last - first + 1));
}

// ---- Ports ----------------------------------------------------------------------

uint8_t AcquisitionModel::StatusBits() {
  time_.OnStatusPoll();
  CatchUp();
  uint8_t status = seen_;
  if (run_.active) status |= regs::kStatusRunning;
  if (wrapped_) status |= regs::kStatusWrapped;
  return status;
}

uint8_t AcquisitionModel::AddressHigh() {
  CatchUp();
  latchedAddress_ = address_;
  addressLatched_ = true;
  return static_cast<uint8_t>(address_ >> 8);
}

uint8_t AcquisitionModel::AddressLow() {
  // The high-byte read latches the counter, so a pair of reads is coherent.
  if (addressLatched_) {
    addressLatched_ = false;
    return static_cast<uint8_t>(latchedAddress_ & 0xFF);
  }
  CatchUp();
  return static_cast<uint8_t>(address_ & 0xFF);
}

uint8_t AcquisitionModel::ReadSampleByte(int channel) const {
  return memory_[channel == 2 ? 1 : 0][static_cast<uint16_t>(address_ - kReadoutPipeline)];
}

}  // namespace rk350::card
