// Input exports: ranges, auto ranging, coupling, DC level, resolution.
#include <cmath>

#include "library/library_state.h"

using namespace rk350;

namespace {
constexpr int kSensitivityEntries = 20;
constexpr int kResolutionEntries = 20;
constexpr Extended kCountsPerFullScale = 32768.0L;

double VoltFactorOf(Extended fullScale) { return static_cast<double>(fullScale / kCountsPerFullScale); }
}  // namespace

RK350_API(uint16_t) GetAvailableSensitivities(double* sensitivities) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (sensitivities == nullptr) return ResultOk;
  for (int i = 0; i < kSensitivityEntries; ++i) sensitivities[i] = 0;
  // Largest first: 80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1.
  const int count = gInstrument->SensitivityCount;
  for (int i = 0; i < count && i < kSensitivityEntries; ++i) {
    sensitivities[i] = static_cast<double>(gInstrument->GetAvailableSensitivity(count - i));
  }
  return ResultOk;
}

RK350_API(uint16_t) GetAvailableResolutions(double* resolutions) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (resolutions == nullptr) return ResultOk;
  for (int i = 0; i < kResolutionEntries; ++i) resolutions[i] = 0;
  for (int i = 0; i < gInstrument->ResolutionCount && i < kResolutionEntries; ++i) {
    resolutions[i] = gInstrument->GetAvailableResolution(i);
  }
  return ResultOk;
}

RK350_API(uint16_t) GetSensitivity(uint8_t channel, double* fullScale) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  const Extended s = gInstrument->GetChSensitivity(channel);
  if (fullScale != nullptr) *fullScale = static_cast<double>(s);
  gVoltFactor[channel] = VoltFactorOf(s);
  return ResultOk;
}

RK350_API(uint16_t) SetSensitivity(uint8_t channel, double* fullScale) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (fullScale == nullptr || std::isnan(*fullScale)) return ResultInvalidValue;
  gInstrument->SetChSensitivity(channel, *fullScale);
  *fullScale = static_cast<double>(gInstrument->GetChSensitivity(channel));
  gVoltFactor[channel] = *fullScale / 32768.0;
  return ResultOk;
}

RK350_API(uint16_t) GetAutoRanging(uint8_t channel, uint8_t* flag) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (flag != nullptr) *flag = gInstrument->GetChAutoRanging(channel) ? 1 : 0;
  return ResultOk;
}

RK350_API(uint16_t) SetAutoRanging(uint8_t channel, uint8_t flag) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (flag > 1) return ResultInvalidValue;
  gInstrument->SetChAutoRanging(channel, flag == 1);
  return ResultOk;
}

RK350_API(uint16_t) GetCoupling(uint8_t channel, uint8_t* coupling) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  const uint8_t code = gInstrument->GetChCoupling(channel);
  if (code > 1) return ResultInvalidValue;
  if (coupling != nullptr) *coupling = code;
  return ResultOk;
}

RK350_API(uint16_t) SetCoupling(uint8_t channel, uint8_t coupling) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (coupling > 1) return ResultInvalidValue;
  gInstrument->SetChCoupling(channel, coupling);
  return ResultOk;
}

RK350_API(uint16_t) GetDcLevel(uint8_t channel, double* volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->DcLevelAvailable) return ResultNotAvailable;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (volts != nullptr) *volts = static_cast<double>(gInstrument->GetChDcLevel(channel));
  return ResultOk;
}

RK350_API(uint16_t) SetDcLevel(uint8_t channel, double volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!gInstrument->DcLevelAvailable) return ResultNotAvailable;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  // Compared at 80 bits: 1.6 lies just above twice an 80-bit 0.8 V range.
  // Written so that NaN fails too.
  const Extended limit = 2 * gInstrument->GetChSensitivity(channel);
  const Extended level = volts;
  if (!(level <= limit && level >= -limit)) return ResultInvalidValue;
  gInstrument->SetChDcLevel(channel, level);
  return ResultOk;
}

RK350_API(uint16_t) GetResolution(uint8_t* bits) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (bits != nullptr) *bits = static_cast<uint8_t>(gInstrument->Resolution);
  return ResultOk;
}

RK350_API(uint16_t) SetResolution(uint8_t bits) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  TRK350& in = *gInstrument;
  bool offered = false;
  for (int i = 0; i < in.ResolutionCount && i < 10; ++i) offered = offered || in.Resolutions[i] == bits;
  if (!offered) return ResultInvalidValue;

  // The generator state is taken down to 64 bits and applied again, in the
  // generator's own order, after the resolution is set.
  const uint8_t signalType = in.GenSignalType;
  const double frequency = static_cast<double>(in.GenFrequency);
  const double amplitude = static_cast<double>(in.GenAmplitude);
  const double dcOffset = static_cast<double>(in.GenDCOffset);
  const double symmetry = static_cast<double>(in.GenSymmetry);
  in.SetResolutionBits(bits);
  in.SetGenSignalType(signalType);
  in.SetGenFrequency(frequency);
  in.SetGenAmplitude(amplitude);
  in.SetGenDCOffset(dcOffset);
  in.SetGenSymmetry(symmetry);
  return ResultOk;
}
