// Trigger exports: source, modes, level, hysteresis, PXI lines, time-out.
#include <cmath>

#include "library/library_state.h"

using namespace rk350;

namespace {

// Comparator scale of TriggerLevelBits: half-scale divisor D and largest
// count M (mid-scale is D - 1).
struct ComparatorScale {
  Extended divisor;
  int32_t largest;
};
ComparatorScale ScaleOf(const TRK350& in) {
  if (in.TriggerLevelBits == 16) return {32768.0L, 65535};
  return {128.0L, 256};
}

bool SourceOffered(const TRK350& in, uint8_t source) {
  switch (source) {
    case tsCh1:
    case tsNoTrig:
      return true;
    case tsCh2:
      return in.ChannelCount > 1 || in.InstrumentConfig == 2;
    case tsCh3:
      return in.ChannelCount > 2;
    case tsCh4:
      return in.ChannelCount > 3;
    case tsExternal:
      return in.HasExternalTrigger;
    case tsAnaExt:
      return in.HasAnalogExternalTrigger;
    case tsAnd:
    case tsOr:
      return in.HasLogicTrigger;
    case tsXor:
      return in.HasXorTrigger;
    case tsPxiExt:
      return in.HasPxiTrigger;
    case tsGenStart:
    case tsGenStop:
    case tsGenNew:
      return in.HasGeneratorTrigger;
    default:  // tsNeverTrig is never offered
      return false;
  }
}

bool ModeOffered(const TRK350& in, uint8_t mode) {
  switch (mode) {
    case 0:
    case 1:
      return true;
    case 2:
    case 3:
      return in.AllowsTriggerModes2And3;
    case 4:
      return in.AllowsTriggerMode4;
    case 5:
    case 6:
      return in.AllowsTriggerModes5And6;
    default:
      return false;
  }
}

// Trigger inputs: the channels, and 0 for the external input when the card
// has one.
bool ValidTriggerInput(uint8_t input) {
  if (input > gInstrument->ChannelCount) return false;
  return input != 0 || gInstrument->HasExternalTrigger;
}

constexpr uint8_t kModeValueMask = 0x7F;
constexpr uint8_t kHighestMode = 6;
constexpr uint8_t kHighestModeCode = 11;
constexpr uint32_t kNoTimeOutMs = 0xFFFFFFFF;

}  // namespace

RK350_API(uint16_t) GetTriggerSource(uint8_t* source) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->tsTriggerSource > tsUnknown) return ResultInvalidValue;
  if (source != nullptr) *source = gInstrument->tsTriggerSource;
  return ResultOk;
}

RK350_API(uint16_t) SetTriggerSource(uint8_t source) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (source > tsGenNew) return ResultInvalidValue;
  if (!SourceOffered(*gInstrument, source)) return ResultNotAvailable;
  gInstrument->SettsTriggerSource(static_cast<TTrigSource>(source));
  return ResultOk;
}

RK350_API(uint16_t) GetTriggerMode(uint8_t* mode) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  const TRK350& in = *gInstrument;
  const TTrigSource source = in.tsTriggerSource;
  if (source < tsExternal || (source >= tsAnaExt && source <= tsXor)) {
    const uint8_t m = in.TriggerMode[1] & kModeValueMask;
    if (m > kHighestMode) return ResultInvalidValue;
    if (mode != nullptr) *mode = m;
  } else if (source == tsExternal) {
    const uint8_t m = in.TriggerMode[0];
    if (m > 1) return ResultInvalidValue;
    if (mode != nullptr) *mode = m;
  }
  // No trigger, or a later source: nothing to report.
  return ResultOk;
}

RK350_API(uint16_t) SetTriggerMode(uint8_t mode) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  uint16_t result = ResultOk;
  for (uint8_t ch = 1; ch <= gInstrument->ChannelCount; ++ch) {
    const uint16_t code = SetTriggerModeCh(ch, mode);
    if (code != ResultOk) result = code;
  }
  // The external input knows only modes 0 and 1.
  if (mode < 2) SetTriggerModeCh(0, mode);
  return result;
}

RK350_API(uint16_t) GetTriggerModeCh(uint8_t input, uint8_t* mode) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidTriggerInput(input)) return ResultInvalidChannel;
  const uint8_t m = gInstrument->GetChTriggerMode(input) & kModeValueMask;
  if (m > kHighestMode) return ResultInvalidValue;
  if (mode != nullptr) *mode = m;
  return ResultOk;
}

RK350_API(uint16_t) SetTriggerModeCh(uint8_t input, uint8_t mode) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidTriggerInput(input)) return ResultInvalidChannel;
  if (mode > kHighestModeCode) return ResultInvalidValue;
  if (!ModeOffered(*gInstrument, mode)) return ResultNotAvailable;
  gInstrument->SetChTriggerMode(input, mode);
  return ResultOk;
}

RK350_API(uint16_t) GetTriggerLevel(uint8_t channel, double* volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  const auto scale = ScaleOf(*gInstrument);
  const Extended s = gInstrument->GetChSensitivity(channel);
  const Extended counts = gInstrument->GetChTriggerLevel(channel) - (scale.divisor - 1);
  if (volts != nullptr) *volts = static_cast<double>(counts * s / scale.divisor);
  return ResultOk;
}

RK350_API(uint16_t) SetTriggerLevel(uint8_t channel, double volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  // Compared at 80 bits: 0.8 is just above an 80-bit 0.8 V full scale.
  const Extended s = gInstrument->GetChSensitivity(channel);
  const Extended level = volts;
  if (!(level >= -s && level <= s)) return ResultInvalidValue;
  const auto scale = ScaleOf(*gInstrument);
  auto counts = static_cast<int32_t>(std::nearbyint(level / s * scale.divisor) + (scale.divisor - 1));
  if (counts < 0) counts = 0;
  if (counts >= scale.largest) counts = scale.largest;
  gInstrument->SetChTriggerLevel(channel, counts);
  return ResultOk;
}

RK350_API(uint16_t) GetTriggerHys(uint8_t channel, double* volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  const auto scale = ScaleOf(*gInstrument);
  const Extended s = gInstrument->GetChSensitivity(channel);
  const auto counts = static_cast<uint16_t>(gInstrument->GetChTriggerHys(channel));
  if (volts != nullptr) *volts = static_cast<double>(counts * s / scale.divisor);
  return ResultOk;
}

RK350_API(uint16_t) SetTriggerHys(uint8_t channel, double volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  // A hysteresis band has a width, never a negative one (nor NaN).
  if (!(volts >= 0)) return ResultInvalidValue;

  // The band must stay inside the full scale on the side the mode of
  // channel 1 puts it.
  double level = 0;
  GetTriggerLevel(channel, &level);
  const Extended s = gInstrument->GetChSensitivity(channel);
  const Extended hysteresis = volts;
  switch (gInstrument->TriggerMode[1]) {
    case 0:
      if (level - hysteresis < -s) return ResultInvalidValue;
      break;
    case 1:
      if (level + hysteresis > s) return ResultInvalidValue;
      break;
    case 2:
    case 3:
      break;
    default:
      return ResultInvalidValue;
  }

  const auto scale = ScaleOf(*gInstrument);
  // Limited, not wrapped, when far beyond the comparator scale.
  Extended counts = std::nearbyint(hysteresis / s * scale.divisor);
  if (counts >= scale.largest) counts = scale.largest;
  gInstrument->SetChTriggerHys(channel, static_cast<int32_t>(counts));
  return ResultOk;
}

RK350_API(uint16_t) GetPXITriggerSlopes(uint8_t* mask) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasPxiTrigger) return ResultNotAvailable;
  if (mask != nullptr) *mask = gInstrument->PxiTriggerSlopes;
  return ResultOk;
}

RK350_API(uint16_t) SetPXITriggerSlopes(uint8_t mask) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasPxiTrigger) return ResultNotAvailable;
  gInstrument->PxiTriggerSlopes = mask;
  return ResultOk;
}

RK350_API(uint16_t) GetPXITriggerEnables(uint8_t* mask) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasPxiTrigger) return ResultNotAvailable;
  if (mask != nullptr) *mask = gInstrument->PxiTriggerEnables;
  return ResultOk;
}

RK350_API(uint16_t) SetPXITriggerEnables(uint8_t mask) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->HasPxiTrigger) return ResultNotAvailable;
  gInstrument->PxiTriggerEnables = mask;
  return ResultOk;
}

RK350_API(int32_t) GetTriggerTimeOut(void) {
  if (!InstrumentPresent()) return 1;
  const Extended seconds = gInstrument->rTrigTimeOut;
  if (seconds == -1.0L) return -1;
  // Milliseconds as the 32 bits the setter took them in (an unsigned count
  // above 2^31 comes back with the same bits).
  Extended ms = std::nearbyint(seconds * 1000.0L);
  if (std::isnan(ms)) ms = 0;
  if (ms > 4294967295.0L) ms = 4294967295.0L;
  if (ms < INT32_MIN) ms = INT32_MIN;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(ms)));
}

RK350_API(uint16_t) SetTriggerTimeOut(uint32_t milliseconds) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (milliseconds == kNoTimeOutMs) {
    gInstrument->SetrTrigTimeOut(-1.0L);
  } else {
    gInstrument->SetrTrigTimeOut(milliseconds / 1000.0L);
  }
  return ResultOk;
}
