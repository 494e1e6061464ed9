// Readout of a finished record from the card's circular sample memory:
// locating the record, aligning pre- and post-trigger samples by trigger
// path and clock range, the interleave merge, averaging, and the overload
// and fit tests that drive automatic ranging.
#include <algorithm>
#include <cmath>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
using namespace regs;

constexpr int32_t kDepth = static_cast<int32_t>(regs::kMemoryDepth);
constexpr uint16_t kUnmeasured = 0x8000;
constexpr int kSingleChannelAttempts = 4;
constexpr uint8_t kSequencerIdle = 0x01;
constexpr uint8_t kSequencerReadout = 0x47;
constexpr uint8_t kReadStrobeValue = 0x01;
constexpr uint8_t kClockSelectReadout = 0x40;
constexpr uint8_t kCommandPrepareFromStart[2] = {0x56, 0x02};
constexpr Extended kSlowClockLimit = 100000.0L;

// How a record is aligned in the memory: the address-counter lead before the
// first read, the buffer offset, the reads trimmed at the end and the reads
// discarded after the record. Chosen by whether the record starts at address
// 0, by the trigger path and by the clock range.
struct Alignment {
  int32_t lead, offset, trim, tail;
};

Alignment ChooseAlignment(bool fromStart, TTrigSource source, bool fastClock) {
  if (fromStart) {
    if (source == tsExternal) return fastClock ? Alignment{0, 2, 0, 6} : Alignment{0, 3, 1, 7};
    if (source == tsNoTrig) return {0, 4, 3, 9};
    return {0, 10, 8, 14};
  }
  if (source == tsExternal) return fastClock ? Alignment{9, -8, -10, 8} : Alignment{10, -8, -10, 7};
  if (source == tsNoTrig) return {2, -8, -8, 1};
  return fastClock ? Alignment{16, -8, -10, 13} : Alignment{15, -8, -10, 12};
}

bool AddressMatches(uint16_t address, int32_t count, int32_t start) {
  // The counter wraps with the memory, so compare modulo its depth.
  return ((static_cast<int32_t>(address) - count - start) % kDepth) == 0;
}
}  // namespace

void TRK350::ReadChannelRecord(int channel, int32_t start, int32_t count, uint16_t* buffer) {
  const int32_t L = lRecordLength;
  WriteRegister(kRegSequencer, kSequencerIdle);
  OverloadFlag[channel] = false;
  FitFlag[channel] = true;

  // Positions the readout may fill start out unmeasured.
  const int64_t fill = std::clamp<int64_t>(int64_t{lPreSamples} + lPostSamples + 11, 0, kChannelBufferSamples);
  std::fill(buffer, buffer + fill, kUnmeasured);

  const bool fromStart = start == 0;
  const Alignment a = ChooseAlignment(fromStart, AppliedTriggerSource, GetrSampleFreq() > kSlowClockLimit);
  if (fromStart) {
    WriteRegister(kRegCommand, kCommandPrepareFromStart[0]);
    WriteRegister(kRegCommand, kCommandPrepareFromStart[1]);
  }
  if (start < a.lead) start = a.lead;
  AdvanceMemoryAddress(static_cast<uint16_t>(start - a.lead));

  const auto base = static_cast<uint16_t>(nHardwareAddress);
  const auto dataPort = static_cast<uint16_t>(channel == 1 ? base + 1 : base);
  gClockSelect |= kClockSelectReadout;
  WriteRegister(kRegClockSelect, gClockSelect);
  WriteRegister(kRegSequencer, kSequencerReadout);

  const uint16_t overloadHigh = OverloadHigh[channel], overloadLow = OverloadLow[channel];
  const uint16_t fitHigh = FitHigh[channel], fitLow = FitLow[channel];
  bool overload = false, fit = true;
  const int64_t last = int64_t{L} - a.trim;
  for (int64_t i = int64_t{L} + 10 - count; i <= last; ++i) {
    hw::PortOut(base, kRegReadStrobe);
    hw::PortOut(static_cast<uint16_t>(base + 1), kReadStrobeValue);
    const auto s = static_cast<uint16_t>(hw::PortIn(dataPort) << 8);
    const int64_t j = a.offset + i - 1;
    if (j > 0 && j - 1 < kChannelBufferSamples) buffer[j - 1] = s;
    if (s > overloadHigh || s < overloadLow) overload = true;
    if (s <= fitLow || s >= fitHigh) fit = false;
  }
  for (int32_t t = 0; t < a.tail; ++t) {
    hw::PortOut(base, kRegReadStrobe);
    hw::PortOut(static_cast<uint16_t>(base + 1), kReadStrobeValue);
    (void)hw::PortIn(dataPort);
  }
  WriteRegister(kRegSequencer, kSequencerIdle);
  OverloadFlag[channel] = overload;
  FitFlag[channel] = fit;
}

void TRK350::ReadMeasurement() {
  if (!PortAccessEnabled) return;
  RangeDelta[1] = RangeDelta[2] = 0;
  uint8_t channels = Interleaved ? 3 : ActiveChannels;
  OverloadFlag[1] = OverloadFlag[2] = false;
  FitFlag[1] = FitFlag[2] = false;

  const bool wrapped = (ReadPort(kPortStatus) & kStatusWrapped) != 0;
  const int32_t end = ReadMemoryAddress();
  int32_t count = lRecordLength;
  int32_t start = 0;
  if (wrapped) {
    start = end - lRecordLength;
    if (start < 0) start += kDepth;
  } else if (end >= lRecordLength) {
    start = end - lRecordLength;
  } else {
    count = end;
    start = 0;
  }

  auto readWithRetries = [&](int channel, uint16_t* buffer, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
      ReadChannelRecord(channel, start, count, buffer);
      if (AddressMatches(ReadMemoryAddress(), count, start)) return;
    }
  };

  bool read[3] = {false, false, false};
  if (mMeasureMode == mCh1 && !Interleaved) {
    readWithRetries(1, ChannelData[1].get(), kSingleChannelAttempts);
    read[1] = true;
  } else if (mMeasureMode == mCh1 && Interleaved) {
    readWithRetries(1, InterleaveBuffer[1].get(), kSingleChannelAttempts);
    readWithRetries(2, InterleaveBuffer[2].get(), kSingleChannelAttempts);
    read[1] = read[2] = true;
    MergeInterleaved();
  } else if (mMeasureMode == mCh2) {
    readWithRetries(2, ChannelData[2].get(), kSingleChannelAttempts);
    read[2] = true;
  } else if (mMeasureMode == mCh12 || mMeasureMode == mXY) {
    readWithRetries(1, ChannelData[1].get(), 1);
    readWithRetries(2, ChannelData[2].get(), 1);
    read[1] = read[2] = true;
  }

  if (nAverageNumber != 1) {
    if (mMeasureMode == mCh1 || mMeasureMode == mCh12 || mMeasureMode == mXY) AverageRecord(1);
    if (mMeasureMode == mCh2 || mMeasureMode == mCh12 || mMeasureMode == mXY) AverageRecord(2);
  }

  // Range requests: a record that fits the window asks for the next more
  // sensitive range, an overload for the next less sensitive one (it wins).
  for (int ch = 1; ch <= 2; ++ch) {
    if ((channels & (1 << (ch - 1))) == 0 || !read[ch]) continue;
    if (FitFlag[ch] && RangeIndex[ch] > 3) RangeDelta[ch] = -1;
    if (OverloadFlag[ch] && RangeIndex[ch] < SensitivityCount + 2) RangeDelta[ch] = 1;
  }
}

void TRK350::MergeInterleaved() {
  // The two converters sampled input 1 half a period apart: converter 2's
  // sample k precedes converter 1's sample k + 1. Positions that would come
  // from outside the converters' buffers (a negative pre-trigger count) stay
  // unmeasured.
  const uint16_t* first = InterleaveBuffer[1].get();
  const uint16_t* second = InterleaveBuffer[2].get();
  uint16_t* out = ChannelData[1].get();
  const int32_t h = lPreSamples / 2;
  const int32_t r = lRecordLength / 2;
  auto at = [](const uint16_t* buffer, int64_t index) {
    return index >= 0 && index < kChannelBufferSamples ? buffer[index] : kUnmeasured;
  };
  out[0] = at(second, h);
  const uint16_t loops = static_cast<uint16_t>(r + 1);
  for (int64_t k = 1; k <= loops; ++k) {
    if (2 * k >= kChannelBufferSamples) break;
    out[2 * k] = at(second, k + h);
    out[2 * k - 1] = at(first, k + h);
  }
}

void TRK350::AverageRecord(int channel) {
  // Running block mean: m = x / n + (n - 1) * mean / n; element 0 is left as
  // read.
  const Extended n = nCalculations;
  float* mean = AverageBuffer[channel].get();
  uint16_t* data = ChannelData[channel].get();
  const uint16_t positions = static_cast<uint16_t>(lPreSamples + lPostSamples);
  for (int32_t k = 1; k <= positions && k < kAverageBufferFloats; ++k) {
    const Extended m = static_cast<Extended>(data[k]) / n + (n - 1) * static_cast<Extended>(mean[k]) / n;
    mean[k] = static_cast<float>(m);
    data[k] = static_cast<uint16_t>(std::clamp(std::nearbyint(m), 0.0L, 65535.0L));
  }
}

}  // namespace rk350
