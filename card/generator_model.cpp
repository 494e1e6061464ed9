#include "card/generator_model.h"

#include <algorithm>
#include <cmath>

#include "hardware/generator_dac_ladder.h"
#include "hardware/register_map.h"

namespace rk350::card {

namespace L = eeprom_layout;

namespace {

constexpr uint32_t kShortSampleUnits = regs::kGenPhaseUnits / regs::kGenShortMemorySamples;  // 2^13
constexpr uint32_t kLongSampleUnits = regs::kGenPhaseUnits / regs::kGenLongMemorySamples;    // 2^7
constexpr double kSampleCentre = 8191.5;  // between the peaks 0 and 16383
constexpr uint16_t kSampleMask = 0x3FFF;  // 14-bit memory

bool Rose(uint8_t before, uint8_t after, uint8_t bit) { return (before & bit) == 0 && (after & bit) != 0; }

using gen_ladder::AmpSpanRow;
using gen_ladder::OffsetSpanRow;
using gen_ladder::StepRow;
constexpr int Segment(int k) { return gen_ladder::CodeSegment(k); }

int16_t SignedWord(const EepromImage& image, uint16_t address) { return static_cast<int16_t>(image.Word(address)); }

}  // namespace

GeneratorModel::GeneratorModel() : memory_(kMemorySamples, 0) { Reset(); }

void GeneratorModel::Reset() {
  std::fill(memory_.begin(), memory_.end(), 0);
  reg_.fill(0);
  reg_[regs::kRegGenClockSelect] = regs::kGenClockStopped;
  control_ = 0;
  phase_ = 0;
  loadCount_ = 0;
  longSweep_ = kMemorySamples;
  serial_ = 0;
  shift_ = 0;
  bitsSinceLoad_ = 0;
  dac_.fill(0);
  loadedChannels_ = 0;
  amplitude_ = 0;
  offset_ = 0;
  meanValid_ = false;
}

void GeneratorModel::AttachCalibration(const EepromImage* image) {
  calibration_ = image;
  DecodeLevels();
}

void GeneratorModel::OnRegisterWrite(uint8_t index, uint8_t value) {
  if (index >= reg_.size()) return;
  reg_[index] = value;
  switch (index) {
    case regs::kRegSerialSelect:
      OnSerialLines(value);
      break;
    case regs::kRegGenControl:
      OnControl(value);
      break;
    case regs::kRegGenRangeSelect:
      DecodeLevels();
      break;
    default:
      break;
  }
}

void GeneratorModel::OnSerialLines(uint8_t value) {
  if (Rose(serial_, value, regs::kGenSerialClock)) {
    shift_ = static_cast<uint16_t>((shift_ << 1 | ((value & regs::kGenSerialData) != 0 ? 1 : 0)) & 0x7FF);
    ++bitsSinceLoad_;
  }
  if (Rose(serial_, value, regs::kGenSerialLoad)) {
    if (bitsSinceLoad_ >= regs::kGenDacWordBits) {
      const int channel = shift_ >> 8;
      if (channel < 6) {
        dac_[channel] = static_cast<uint8_t>(shift_);
        loadedChannels_ |= static_cast<uint8_t>(1u << channel);
        DecodeLevels();
      }
    }
    bitsSinceLoad_ = 0;
  }
  serial_ = value;
}

void GeneratorModel::OnControl(uint8_t value) {
  const uint8_t before = control_;
  control_ = value;
  meanValid_ = false;  // memory, mode or sweep may change
  if ((value & regs::kGenCtrlNotReset) == 0) {
    phase_ = 0;
    loadCount_ = 0;
    return;
  }
  const bool stopped = (value & regs::kGenCtrlRun) == 0;
  if (stopped && Rose(before, value, regs::kGenCtrlWriteStrobe)) {
    memory_[Address(phase_)] =
        static_cast<uint16_t>(reg_[regs::kRegGenMemDataHigh] << 8 | reg_[regs::kRegGenMemDataLow]);
    if (loadCount_ < kMemorySamples) ++loadCount_;
  }
  if (stopped && Rose(before, value, regs::kGenCtrlAdvance)) {
    phase_ = (phase_ + Increment()) % regs::kGenPhaseUnits;
  }
  // Starting the clock after a load: the long memory sweeps what was loaded.
  if (Rose(before, value, regs::kGenCtrlRun) && loadCount_ > 0) longSweep_ = loadCount_;
}

uint32_t GeneratorModel::Increment() const {
  return static_cast<uint32_t>(reg_[regs::kRegGenIncrementLow]) |
         static_cast<uint32_t>(reg_[regs::kRegGenIncrementMid]) << 8 |
         static_cast<uint32_t>(reg_[regs::kRegGenIncrementHigh]) << 16;
}

uint32_t GeneratorModel::SweepSamples() const {
  return (control_ & regs::kGenCtrlLongMemory) != 0 ? longSweep_ : regs::kGenShortMemorySamples;
}

uint32_t GeneratorModel::PhaseUnitsPerSweep() const {
  return (control_ & regs::kGenCtrlLongMemory) != 0 ? longSweep_ * kLongSampleUnits : regs::kGenPhaseUnits;
}

uint32_t GeneratorModel::Address(uint32_t phase) const {
  return (control_ & regs::kGenCtrlLongMemory) != 0 ? (phase / kLongSampleUnits) % kMemorySamples
                                                    : (phase / kShortSampleUnits) % regs::kGenShortMemorySamples;
}

double GeneratorModel::ClockHz() const {
  const uint8_t select = reg_[regs::kRegGenClockSelect];
  const bool running = (control_ & regs::kGenCtrlNotReset) != 0 && (control_ & regs::kGenCtrlRun) != 0;
  if (!running || select >= regs::kGenClockStopped) return 0;
  return kBaseClockHz / regs::kGenPrescalerDivisor[select];
}

double GeneratorModel::SampleVolts(uint16_t sample) const {
  const double wave = (kSampleCentre - (sample & kSampleMask)) / kSampleCentre;
  return offset_ + amplitude_ * wave;
}

double GeneratorModel::OutputVolts(double timeSeconds) const {
  const double clock = ClockHz();
  uint32_t phase = phase_;
  const double ticks = std::floor(timeSeconds * clock);
  if (clock > 0 && ticks > 0 && std::isfinite(ticks)) {
    // The accumulator as if it had run from time 0 with today's settings;
    // only the ticks modulo one sweep matter, taken exactly in floating
    // point so that no time is too late for the arithmetic.
    const uint64_t units = PhaseUnitsPerSweep();
    const auto ticksInSweep = static_cast<uint64_t>(std::fmod(ticks, static_cast<double>(units)));
    phase = static_cast<uint32_t>((phase_ + ticksInSweep * (Increment() % units)) % units);
  }
  return SampleVolts(memory_[Address(phase)]);
}

void GeneratorModel::DecodeLevels() {
  if (loadedChannels_ != 0x3F) return;  // levels hold until every channel has a value
  static const EepromImage kDefaultImage = EepromImage::Default();
  const EepromImage& image = calibration_ != nullptr ? *calibration_ : kDefaultImage;
  const auto ampTable = [&image](int row, int k) { return image.Word(L::GenAmpStep(row, Segment(k))) / 400000.0; };
  const auto offTable = [&image](int row, int k) { return image.Word(L::GenOffsetStep(row, Segment(k))) / 100000.0; };

  double gain;
  double offsetZero;
  switch (reg_[regs::kRegGenRangeSelect]) {
    case regs::kGenRangeHigh:
      gain = 1;
      offsetZero = SignedWord(image, L::kGenOffsetZeroHigh) / 10000.0;
      break;
    case regs::kGenRangeMid:
      gain = image.Word(L::kGenGainMid) / 1000.0;
      offsetZero = SignedWord(image, L::kGenOffsetZeroMid) / 10000.0;
      break;
    default:
      gain = image.Word(L::kGenGainLow) / 100.0;
      offsetZero = SignedWord(image, L::kGenOffsetZeroLow) / 10000.0;
      break;
  }

  // Amplitude DAC: the coarse ladder up to code p (steps 2..p) plus the fine
  // DAC, which counts down from 255 across the span at p.
  const int p = std::max(1, dac_[regs::kGenDacAmpCoarseUp] - 1);
  double ampDac = 0;
  for (int k = 2; k <= p; ++k) ampDac += ampTable(StepRow(k), k);
  ampDac += (255 - dac_[regs::kGenDacAmpFine]) / 255.0 * ampTable(AmpSpanRow(p), p);
  const double ampZero = SignedWord(image, L::kGenAmpZero) / 100000.0;
  amplitude_ = gain != 0 ? (ampDac - ampZero) / gain : 0;

  // Offset DAC: steps 1..q plus the fine DAC; the output counts down from
  // +10 V plus the range's zero.
  const int q = std::max(0, dac_[regs::kGenDacOffCoarseUp] - 1);
  double offDac = 0;
  for (int k = 1; k <= q; ++k) offDac += offTable(StepRow(k), k);
  offDac += dac_[regs::kGenDacOffFine] / 255.0 * offTable(OffsetSpanRow(q), q);
  offset_ = offsetZero + 10.0 - offDac;
}

GeneratorOutput GeneratorModel::Output() const {
  GeneratorOutput out;
  out.longMemory = (control_ & regs::kGenCtrlLongMemory) != 0;
  out.clockSelect = reg_[regs::kRegGenClockSelect];
  out.sampleClockHz = ClockHz();
  out.running = out.sampleClockHz > 0;
  out.increment = Increment();
  out.sweepSamples = SweepSamples();
  out.frequencyHz = out.sampleClockHz * out.increment / PhaseUnitsPerSweep();
  out.range = reg_[regs::kRegGenRangeSelect];
  out.amplitudeVolts = amplitude_;
  out.offsetVolts = offset_;
  out.levelsLoaded = loadedChannels_ == 0x3F;
  return out;
}

double GeneratorModel::MeanVolts() const {
  if (!meanValid_) {
    const bool longMemory = (control_ & regs::kGenCtrlLongMemory) != 0;
    const uint32_t n = SweepSamples();
    double sum = 0;
    for (uint32_t i = 0; i < n; ++i) sum += memory_[longMemory ? i : i % regs::kGenShortMemorySamples] & kSampleMask;
    meanSample_ = n > 0 ? sum / n : 0;
    meanValid_ = true;
  }
  return offset_ + amplitude_ * (kSampleCentre - meanSample_) / kSampleCentre;
}

void GeneratorModel::OutputBounds(double& low, double& high) const {
  uint16_t lowest = kSampleMask;
  uint16_t highest = 0;
  const bool longMemory = (control_ & regs::kGenCtrlLongMemory) != 0;
  const uint32_t n = SweepSamples();
  for (uint32_t i = 0; i < n; ++i) {
    const uint16_t s = memory_[longMemory ? i : i % regs::kGenShortMemorySamples] & kSampleMask;
    lowest = std::min(lowest, s);
    highest = std::max(highest, s);
  }
  const double a = SampleVolts(lowest);
  const double b = SampleVolts(highest);
  low = std::min(a, b);
  high = std::max(a, b);
}

}  // namespace rk350::card
