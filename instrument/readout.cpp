// Readout of a finished record from the card's circular sample memory:
// locating the record, aligning pre- and post-trigger samples by trigger
// path and clock range, the interleave merge, averaging, and the overload
// and fit tests that drive automatic ranging.
#include <algorithm>
#include <cmath>

#include "instrument/trk350.h"
#include "rk350/rk350_ext.h"

namespace rk350 {

namespace {
using namespace regs;

constexpr int32_t kDepth = static_cast<int32_t>(regs::kMemoryDepth);
constexpr int kSingleChannelAttempts = 4;
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
  // Running without trigger, the record's last sample comes with the read
  // that used to be discarded: one read more, one tail read less, so the
  // card sees the same strobes.
  if (source == tsNoTrig) return {2, -8, -9, 0};
  return fastClock ? Alignment{16, -8, -10, 13} : Alignment{15, -8, -10, 12};
}

// The card's readout pipeline, on which the alignment table rests: after the
// address counter was advanced by c, the n-th read strobe (from 0) shows the
// sample at memory address c - 9 + n.
constexpr int32_t kReadoutLag = 9;

TRK350::Span Intersect(TRK350::Span a, int64_t first, int64_t last) {
  const int64_t lo = std::max<int64_t>(a.first, first);
  const int64_t hi = std::min<int64_t>(int64_t{a.first} + a.count - 1, last);
  if (hi < lo) return {};
  return {static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo + 1)};
}

bool AddressMatches(uint16_t address, int32_t count, int32_t start) {
  // The counter wraps with the memory, so compare modulo its depth.
  return ((static_cast<int32_t>(address) - count - start) % kDepth) == 0;
}
}  // namespace

int32_t TRK350::CardTriggerLag() const {
  // A comparator-triggered record's trigger sample is read lead + lag reads
  // after the first post-trigger sample's place is counted from the end.
  return ChooseAlignment(false, tsCh1, GetrSampleFreq() > kSlowClockLimit).lead + kReadoutLag;
}

TRK350::RecordGeometry TRK350::ReadoutGeometry() const {
  if (SoftwareRun && !SoftwareWaits) return SoftwareGeometry;
  return {lPreSamples, lPostSamples, lRecordLength};
}

TRK350::RecordGeometry TRK350::MergedGeometry() const {
  if (SoftwareRun && !SoftwareWaits) return {0, SoftwareLength, SoftwareLength};
  return ReadoutGeometry();
}

void TRK350::ReadChannelRecord(int channel, int32_t start, int32_t count, uint16_t* buffer) {
  const RecordGeometry g = ReadoutGeometry();
  const int32_t L = g.length;
  WriteRegister(kRegSequencer, kSequencerIdle);
  OverloadFlag[channel] = false;
  FitFlag[channel] = true;

  // Positions the readout may fill start out unmeasured.
  const int64_t fill = std::clamp<int64_t>(int64_t{g.pre} + g.post + 11, 0, kChannelBufferSamples);
  std::fill(buffer, buffer + fill, kUnmeasuredSample);

  // A wrapped memory holds samples behind address 0 too: such a record is
  // read like any other, the address advance wrapping with the memory.
  const bool fromStart = start == 0 && !MemoryWrapped;
  const TTrigSource source = SoftwareRun ? tsNoTrig : AppliedTriggerSource;
  const Alignment a = ChooseAlignment(fromStart, source, GetrSampleFreq() > kSlowClockLimit);
  if (fromStart) {
    WriteRegister(kRegCommand, kCommandPrepareFromStart[0]);
    WriteRegister(kRegCommand, kCommandPrepareFromStart[1]);
  }
  // How far before the end of the acquisition the record starts.
  const int64_t startBack =
      MemoryWrapped ? ((int64_t{MemoryEnd} - start) % kDepth + kDepth - 1) % kDepth + 1 : int64_t{MemoryEnd} - start;
  int64_t startAddress = start;
  if (start < a.lead && !MemoryWrapped) startAddress = a.lead;
  const auto advance = static_cast<uint16_t>(startAddress - a.lead);
  AdvanceMemoryAddress(advance);
  // Which reads show samples of this acquisition: read n shows the sample
  // back0 - n places before the end, and the memory holds `held` of them.
  const int64_t advanced = std::max<int64_t>(advance, 1);  // a count of 0 advances by 1
  const int64_t back0 = startBack - (startAddress - start) + a.lead - (advanced - advance) + kReadoutLag;
  const int64_t held = MemoryWrapped ? kDepth : MemoryEnd;

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
  // Record positions filled from held samples: p = offset + i - 2 with
  // read n = i - first, held when 1 <= back0 - n <= held.
  const int64_t firstRead = int64_t{L} + 10 - count;
  const int64_t shift = a.offset - 2 + firstRead;  // p = n + shift
  const int64_t nLow = std::max<int64_t>(0, back0 - held), nHigh = std::min(last - firstRead, back0 - 1);
  ReadSpan = nHigh < nLow ? Span{} : Intersect(Span{0, L}, nLow + shift, nHigh + shift);
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
  bool read[3] = {false, false, false};
  if (SoftwareRun && SoftwareWaits) {
    if (!ReadCardWaitRecord()) return;  // the engine or ADC_Ready runs the card again
    for (int ch = 1; ch <= 2; ++ch) read[ch] = Held[ch].count > 0;
    if (Interleaved) read[2] = read[1];  // both converters were read into the merged record
  } else if (!ReadCardRecord(read)) {
    return;
  }
  for (int ch = 1; ch <= 2; ++ch) HeldOverrange[ch] = OverrangeWithin(ch, Held[ch]);
  if (nAverageNumber != 1) AverageMeasuredChannels();
  RequestRangeSteps(read);
}

void TRK350::AverageMeasuredChannels() {
  if (mMeasureMode == mCh1 || mMeasureMode == mCh12 || mMeasureMode == mXY) AverageRecord(1);
  if (mMeasureMode == mCh2 || mMeasureMode == mCh12 || mMeasureMode == mXY) AverageRecord(2);
}

void TRK350::RequestRangeSteps(const bool read[3]) {
  // A record that fits the window asks for the next more sensitive range, an
  // overload for the next less sensitive one (it wins).
  const uint8_t channels = Interleaved ? 3 : ActiveChannels;
  for (int ch = 1; ch <= 2; ++ch) {
    if ((channels & (1 << (ch - 1))) == 0 || !read[ch]) continue;
    if (FitFlag[ch] && RangeIndex[ch] > 3) RangeDelta[ch] = -1;
    if (OverloadFlag[ch] && RangeIndex[ch] < SensitivityCount + 2) RangeDelta[ch] = 1;
  }
}

uint32_t TRK350::TriggerOfCardRecord() const {
  if (ForcedWhileWaiting) return ForcedRecord();
  if (AppliedTriggerSource == tsNoTrig || tsTriggerSource == tsNoTrig || rTrigTimeOut == 0)
    return RK350_RECORD_FREE_RUN;
  return RK350_RECORD_TRIGGERED_CARD;
}

TRK350::RecordPlace TRK350::LocateRecord(int32_t length) {
  // A status that reads as an empty bus (stuck, or a card that stopped
  // answering) vouches for nothing the memory reads give: the record then
  // holds no sample.
  const uint8_t status = ReadPort(kPortStatus);
  RecordPlace place;
  place.answering = status != kStatusNoCard;
  MemoryWrapped = (status & kStatusWrapped) != 0;
  MemoryEnd = ReadMemoryAddress();
  place.count = length;
  if (MemoryWrapped) {
    place.start = MemoryEnd - length;
    if (place.start < 0) place.start += kDepth;
  } else if (MemoryEnd >= length) {
    place.start = MemoryEnd - length;
  } else {  // fewer samples than the record were taken
    place.count = MemoryEnd;
    place.start = 0;
  }
  return place;
}

TRK350::Span TRK350::ReadChannelWithRetries(int channel, const RecordPlace& place, uint16_t* buffer, int attempts) {
  // An attempt is good when the address counter ends where the record does.
  Span span;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    ReadChannelRecord(channel, place.start, place.count, buffer);
    span = ReadSpan;
    if (AddressMatches(ReadMemoryAddress(), place.count, place.start)) break;
  }
  return span;
}

void TRK350::ReadByMeasureMode(const RecordPlace& place, bool read[3], Span spans[3]) {
  if (mMeasureMode == mCh1 && !Interleaved) {
    spans[1] = ReadChannelWithRetries(1, place, ChannelData[1].get(), kSingleChannelAttempts);
    read[1] = true;
  } else if (mMeasureMode == mCh1 && Interleaved) {
    const Span first = ReadChannelWithRetries(1, place, InterleaveBuffer[1].get(), kSingleChannelAttempts);
    const Span second = ReadChannelWithRetries(2, place, InterleaveBuffer[2].get(), kSingleChannelAttempts);
    read[1] = read[2] = true;
    MergeInterleaved();
    spans[1] = MergedSpan(first, second);
  } else if (mMeasureMode == mCh2) {
    spans[2] = ReadChannelWithRetries(2, place, ChannelData[2].get(), kSingleChannelAttempts);
    read[2] = true;
  } else if (mMeasureMode == mCh12 || mMeasureMode == mXY) {
    // Both channels once each: a bad address check is not repeated.
    spans[1] = ReadChannelWithRetries(1, place, ChannelData[1].get(), 1);
    spans[2] = ReadChannelWithRetries(2, place, ChannelData[2].get(), 1);
    read[1] = read[2] = true;
  }
}

bool TRK350::ReadCardRecord(bool read[3]) {
  OverloadFlag[1] = OverloadFlag[2] = false;
  FitFlag[1] = FitFlag[2] = false;
  const int32_t L = ReadoutGeometry().length;
  const RecordPlace place = LocateRecord(L);
  Span spans[3];
  ReadByMeasureMode(place, read, spans);
  // Reads outside the span showed memory this acquisition did not write
  // (an earlier record's, or the newest samples where a record reaches
  // around the whole memory): they hold no sample of this record.
  for (int ch = 1; ch <= 2; ++ch) {
    Held[ch] = place.answering ? spans[ch] : Span{};
    const bool intoChannelData = read[ch] && !(ch == 2 && mMeasureMode == mCh1);
    if (intoChannelData) BlankUnheld(ch, MergedGeometry().length);
  }

  SoftwareMissed = false;
  if (!SoftwareRun) {
    RecordTrigger = TriggerOfCardRecord();
    return true;
  }
  PlaceSoftwareRecord();
  return !SoftwareMissed;  // false: the engine or ADC_Ready runs the card again
}

void TRK350::BlankUnheld(int channel, int32_t length) {
  uint16_t* data = ChannelData[channel].get();
  const int64_t end = std::min<int64_t>(length, kChannelBufferSamples);
  const int64_t first = std::clamp<int64_t>(Held[channel].first, 0, end);
  const int64_t last = std::clamp<int64_t>(int64_t{Held[channel].first} + Held[channel].count, first, end);
  std::fill(data, data + first, kUnmeasuredSample);
  std::fill(data + last, data + end, kUnmeasuredSample);
}

bool TRK350::OverrangeWithin(int channel, Span span) const {
  const uint16_t* data = ChannelData[channel].get();
  const int64_t end = std::min<int64_t>(int64_t{span.first} + span.count, kChannelBufferSamples);
  for (int64_t k = std::max(span.first, 0); k < end; ++k) {
    if (data[k] > OverloadHigh[channel] || data[k] < OverloadLow[channel]) return true;
  }
  return false;
}

void TRK350::MergeInterleaved() {
  // The two converters sampled input 1 half a period apart: converter 2's
  // sample k precedes converter 1's sample k + 1. Positions that would come
  // from outside the converters' buffers (a negative pre-trigger count) stay
  // unmeasured.
  const RecordGeometry g = MergedGeometry();
  const uint16_t* first = InterleaveBuffer[1].get();
  const uint16_t* second = InterleaveBuffer[2].get();
  uint16_t* out = ChannelData[1].get();
  const int32_t h = g.pre / 2;
  const int32_t r = g.length / 2;
  auto at = [](const uint16_t* buffer, int64_t index) {
    return index >= 0 && index < kChannelBufferSamples ? buffer[index] : kUnmeasuredSample;
  };
  out[0] = at(second, h);
  const uint16_t loops = static_cast<uint16_t>(r + 1);
  for (int64_t k = 1; k <= loops; ++k) {
    if (2 * k >= kChannelBufferSamples) break;
    out[2 * k] = at(second, k + h);
    out[2 * k - 1] = at(first, k + h);
  }
}

TRK350::Span TRK350::MergedSpan(Span first, Span second) const {
  // Output position 0 and 2k come from converter 2's sample k + h, position
  // 2k - 1 from converter 1's; a position holds a sample when its source does.
  const RecordGeometry g = MergedGeometry();
  const int64_t h = g.pre / 2;
  const int64_t loops = static_cast<uint16_t>(g.length / 2 + 1);
  auto inside = [](Span s, int64_t index) { return index >= s.first && index < int64_t{s.first} + s.count; };
  int64_t lo = -1, hi = -2;
  auto note = [&](int64_t q) {
    if (lo < 0) lo = q;
    hi = q;
  };
  for (int64_t q = 0; q < g.length; ++q) {
    const int64_t k = (q + 1) / 2;
    if (q > 2 * loops) break;
    if (q % 2 == 0 ? inside(second, k + h) : inside(first, k + h)) note(q);
  }
  if (lo < 0) return {};
  return {static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo + 1)};
}

void TRK350::AverageRecord(int channel) {
  // Running block mean: m = x / n + (n - 1) * mean / n; element 0 is left as
  // read.
  const Extended n = nCalculations;
  if (nCalculations <= 1) {
    AverageSpan[channel] = Held[channel];
    AverageOverrange[channel] = HeldOverrange[channel];
  } else {
    const Span s = Held[channel];
    AverageSpan[channel] = Intersect(AverageSpan[channel], s.first, int64_t{s.first} + s.count - 1);
    AverageOverrange[channel] = AverageOverrange[channel] || HeldOverrange[channel];
  }
  Held[channel] = AverageSpan[channel];
  HeldOverrange[channel] = AverageOverrange[channel];
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
