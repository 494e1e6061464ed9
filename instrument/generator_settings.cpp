// The function generator's settings. Unlike the input settings they reach
// the card at once: while the output is on every change is programmed, while
// it is off the levels stay at 0 V and only what needs no output is written.
// None of them fires the settings-changed notification.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "instrument/trk350.h"

namespace rk350 {

namespace {
// The setters' equality test: a comparison with a NaN counts as equal, so a
// NaN argument changes nothing.
bool SameSetting(Extended stored, Extended requested) { return !(stored < requested) && !(stored > requested); }

constexpr int kStandardWaveSamples = static_cast<int>(regs::kGenShortMemorySamples);
constexpr int kWaveCentre = 8191;
constexpr int kWaveHalfSwing = 8192;
}  // namespace

void TRK350::SetGenFrequency(Extended hertz) {
  // An infinite frequency has no clock; it is ignored like a NaN.
  if (SameSetting(GenFrequency, hertz) || std::isinf(hertz)) return;
  if (GenOutputOn) {
    Extended programmed = hertz;
    ProgramGenClock(programmed);  // may lower it to the 5 MHz limit
    GenFrequency = programmed;
  } else {
    GenFrequency = hertz;
  }
}

void TRK350::SetGenAmplitude(Extended volts) {
  if (SameSetting(GenAmplitude, volts)) return;
  GenAmplitude = volts;
  if (GenOutputOn) ProgramGenLevels(GenAmplitude, GenDCOffset);
}

void TRK350::SetGenOption(uint8_t option) {
  if (GenOption == option) return;
  GenOption = option;
  if (GenOutputOn) {
    ProgramGenLevels(GenAmplitude, GenDCOffset);
  } else {
    ProgramGenLevels(0, 0);
  }
}

void TRK350::SetGenSignalType(uint8_t type) {
  // A user waveform is re-applied every time: its samples may have changed.
  if (GenSignalType == type && type != gsArbitrary) return;
  GenSignalType = type;
  if (type != gsArbitrary) GenWaveLength = kStandardWaveSamples;
  ApplyGenerator();
}

void TRK350::SetGenDCOffset(Extended volts) {
  if (SameSetting(GenDCOffset, volts)) return;
  GenDCOffset = volts;
  if (GenOutputOn) {
    ProgramGenLevels(GenAmplitude, volts);
  } else {
    ProgramGenLevels(0, 0);
  }
}

void TRK350::SetGenSymmetry(Extended symmetry) {
  if (SameSetting(GenSymmetry, symmetry)) return;
  GenSymmetry = symmetry;
  ApplyGenerator();
}

void TRK350::SetGenOutputOn(bool on) {
  if (GenOutputOn == on) return;
  GenOutputOn = on;
  ApplyGenerator();
}

void TRK350::LoadGenUserWaveform(const uint16_t* samples, uint32_t count) {
  // Nothing to copy from: the buffer keeps its samples and nothing is applied
  // (the exports refuse these calls before they get here).
  if (samples == nullptr || count == 0) return;
  const uint32_t n = std::min<uint32_t>(count, kGenBufferWords);
  std::memcpy(GenUserBuffer.get(), samples, n * sizeof(uint16_t));
  // The memory holds 14 bits on an inverted scale: a user sample 0 becomes
  // 16383 and 65535 becomes 0.
  for (uint32_t i = 0; i < n; ++i) GenUserBuffer[i] = static_cast<uint16_t>((65535u - GenUserBuffer[i]) >> 2);
  if (GenSignalType == gsArbitrary) ApplyGenerator();
}

void TRK350::ApplyGenerator() {
  if (GenOutputOn) {
    ProgramGenLevels(GenAmplitude, GenDCOffset);
    const uint16_t* source;
    if (GenSignalType == gsArbitrary) {
      // The card memory holds at most 65536 samples and at least one.
      GenWaveLength = std::clamp<int32_t>(FuncGenMemoryLength, 1, kGenBufferWords);
      source = GenUserBuffer.get();
    } else {
      GenWaveLength = kStandardWaveSamples;
      ComputeGenWaveform(GenWaveBuffer.get(), kStandardWaveSamples, GenSignalType, GenSymmetry, kWaveCentre,
                         kWaveHalfSwing);
      source = GenWaveBuffer.get();
    }
    LoadGenMemory(source, GenWaveLength);
  } else {
    // Output off: levels at 0 V; the memory stays as it is.
    ProgramGenLevels(0, 0);
  }
  ProgramGenClock(GenFrequency);  // a lowering to 5 MHz lands in the setting
}

}  // namespace rk350
