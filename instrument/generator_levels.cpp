// Generator output levels: the calibrated amplitude and offset DAC codes, the
// range choice, and the serial DAC words that carry them to the card.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "hardware/generator_dac_ladder.h"
#include "instrument/trk350.h"

namespace rk350 {

namespace {

using gen_ladder::AmpSpanRow;
using gen_ladder::CodeSegment;
using gen_ladder::OffsetSpanRow;
using gen_ladder::StepRow;

constexpr Extended kAmplitudeLimit = 10.0L;
constexpr Extended kOffsetLimit = 10.0L;
// Range thresholds, as the extended values nearest to these decimals: a
// double argument of 0.9 lies just above 0.9L and takes the high range.
constexpr Extended kLowRangeTop = 0.09L;
constexpr Extended kMidRangeTop = 0.9L;
constexpr Extended kSmallestAmplitude = 0.000001L;
// Calibration units.
constexpr Extended kAmpStepUnit = 400000.0L;     // 2.5 uV
constexpr Extended kOffsetStepUnit = 100000.0L;  // 10 uV
constexpr Extended kAmpZeroUnit = 100000.0L;
constexpr Extended kOffsetZeroUnit = 10000.0L;
constexpr Extended kLowGainUnit = 100.0L;
constexpr Extended kMidGainUnit = 1000.0L;
constexpr int kMaxCode = 255;

// rnd(x * 255 / span) with the failures the level arithmetic tolerates:
// division by zero, overflow and not-a-number give no value.
std::optional<int64_t> RoundedFineValue(Extended x, Extended span) {
  if (span == 0) return std::nullopt;
  const Extended value = std::nearbyint(x * kMaxCode / span);
  constexpr Extended kInt64Limit = 9223372036854775808.0L;  // 2^63
  if (!std::isfinite(value) || value >= kInt64Limit || value < -kInt64Limit) return std::nullopt;
  return static_cast<int64_t>(value);
}

// A code for the DAC writers, which limit it to 0..255.
int32_t ClampToInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

void TRK350::ProgramGenLevels(Extended amplitude, Extended offset) {
  const auto ampStep = [this](int k) { return GenAmpStepTable[StepRow(k)][CodeSegment(k)] / kAmpStepUnit; };
  const auto ampSpan = [this](int k) { return GenAmpStepTable[AmpSpanRow(k)][CodeSegment(k)] / kAmpStepUnit; };
  const auto offStep = [this](int k) { return GenOffsetStepTable[StepRow(k)][CodeSegment(k)] / kOffsetStepUnit; };
  const auto offSpan = [this](int k) { return GenOffsetStepTable[OffsetSpanRow(k)][CodeSegment(k)] / kOffsetStepUnit; };

  Extended a = amplitude;
  Extended o = offset;
  if (GenSignalType == gsDC) a = 0;
  if (a > kAmplitudeLimit) {
    a = kAmplitudeLimit;
  } else if (!(a >= 0)) {  // also catches NaN
    a = 0;
  }
  if (o > kOffsetLimit) {
    o = kOffsetLimit;
  } else if (!(o >= -kOffsetLimit)) {
    o = -kOffsetLimit;
  }

  // The range follows the amplitude; the offset zero belongs to the range.
  Extended gain;
  uint8_t range;
  Extended offsetZero;
  if (a <= kLowRangeTop) {
    gain = GenGainLow / kLowGainUnit;
    range = regs::kGenRangeLow;
    offsetZero = GenOffsetZeroLow / kOffsetZeroUnit;
  } else if (a <= kMidRangeTop) {
    gain = GenGainMid / kMidGainUnit;
    range = regs::kGenRangeMid;
    offsetZero = GenOffsetZeroMid / kOffsetZeroUnit;
  } else {
    gain = 1;
    range = regs::kGenRangeHigh;
    offsetZero = GenOffsetZeroHigh / kOffsetZeroUnit;
  }

  // Amplitude target at the DAC: zero correction, then the range's gain.
  if (gain != 0) a = a + (GenAmpZero / kAmpZeroUnit) / gain;
  a = a * gain;
  if (a < kSmallestAmplitude) a = 0;

  // Amplitude coarse code: the largest sum of steps 2..p not above the target.
  Extended sum = 0;
  int p = 1;
  Extended lastStep = 0;
  do {
    ++p;
    lastStep = ampStep(p);
    sum += lastStep;
  } while (sum <= a && p < kMaxCode);
  --p;
  sum -= lastStep;
  const int64_t f = RoundedFineValue(a - sum, ampSpan(p)).value_or(0);
  // f >= 0 (the sum never passes the target); beyond the span of the coarse
  // code the fine code goes below 0 and the writer limits it.
  const int32_t ampFine = ClampToInt32(kMaxCode - f);

  // Offset: the DAC target counts down from +10 V plus the range's zero.
  const Extended target = offsetZero - o + 10;
  sum = 0;
  int q = 0;
  do {
    ++q;
    lastStep = offStep(q);
    sum += lastStep;
  } while (sum <= target && q < kMaxCode);
  --q;
  sum -= lastStep;
  const int32_t offFine = ClampToInt32(RoundedFineValue(target - sum, offSpan(q)).value_or(1));

  WriteGenAmplitudeDacs(ampFine, p, range);
  WriteGenOffsetDacs(offFine, q, range);
}

namespace {
uint16_t DacWord(uint8_t channel, int32_t value) {
  return static_cast<uint16_t>(channel << 8 | (static_cast<uint32_t>(value) & 0xFF));
}
void LimitCodes(int32_t& fine, int32_t& coarse) {
  coarse = std::clamp<int32_t>(coarse, 1, 254);
  fine = std::clamp<int32_t>(fine, 0, 255);
}
}  // namespace

void TRK350::WriteGenAmplitudeDacs(int32_t fine, int32_t coarse, uint8_t range) {
  LimitCodes(fine, coarse);
  ShiftGenDac(DacWord(regs::kGenDacAmpCoarseUp, coarse + 1), range);
  ShiftGenDac(DacWord(regs::kGenDacAmpCoarseDown, coarse - 1), range);
  ShiftGenDac(DacWord(regs::kGenDacAmpFine, fine), range);
}

void TRK350::WriteGenOffsetDacs(int32_t fine, int32_t coarse, uint8_t range) {
  LimitCodes(fine, coarse);
  ShiftGenDac(DacWord(regs::kGenDacOffCoarseUp, coarse + 1), range);
  ShiftGenDac(DacWord(regs::kGenDacOffCoarseDown, coarse - 1), range);
  ShiftGenDac(DacWord(regs::kGenDacOffFine, fine), range);
}

// One 11-bit word into the generator's serial DAC, most significant bit
// first, each bit clocked on the rising clock line; the load line latches it.
// The range select follows every word.
void TRK350::ShiftGenDac(uint16_t word, uint8_t range) {
  WriteRegister(regs::kRegSerialSelect, regs::kGenSerialLoad);
  uint8_t data = 0;
  for (int bit = regs::kGenDacWordBits - 1; bit >= 0; --bit) {
    data = (word >> bit & 1) != 0 ? regs::kGenSerialData : 0;
    WriteRegister(regs::kRegSerialSelect, data);
    WriteRegister(regs::kRegSerialSelect, data | regs::kGenSerialClock);
  }
  WriteRegister(regs::kRegSerialSelect, data);
  WriteRegister(regs::kRegSerialSelect, data | regs::kGenSerialLoad);
  WriteRegister(regs::kRegGenRangeSelect, range);
}

}  // namespace rk350
