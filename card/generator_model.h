// The card's function generator: waveform memory loaded through registers
// 31..33, a 23-bit phase accumulator advanced by a 24-bit increment at the
// prescaled clock, the six-channel serial level DAC on register 0 and the
// range select, giving an output voltage over virtual time from the card's
// own calibration (its EEPROM image).
//
// How the card reads its registers:
//   30  clock select: divisor index 0..14 of the 50 MHz base clock, 15 stops
//       the clock.
//   31  control: 0x40 low holds the accumulator (and the load counter) at 0;
//       with 0x04 (run) clear, a rising 0x01 writes registers 32/33 into the
//       memory at the current address and a rising 0x20 advances the
//       accumulator by one increment; 0x04 set runs it from the clock; 0x08
//       selects the long memory. The number of samples written after the
//       last hold is the length of the long memory's sweep.
//   34..36  phase increment, 24 bits.
//   37  range: 5 high (gain 1), 6 middle, anything else low.
//   0   serial DAC: data 0x80, clock 0x20 (rising edge shifts), load 0x40
//       (rising edge latches the last 11 bits: channel in bits 10..8, value
//       in 7..0; a load needs at least 11 clocks since the previous one, so
//       the front end's use of this register never loads a word).
// The phase accumulator wraps at 2^23 units: one sample is 2^13 units with
// the 1024-sample memory and 2^7 units with the long memory, whose address
// is 16 bits.
//
// The output stage inverts the memory scale: sample 0 is the positive peak,
// 16383 the negative one. A memory of amplitude A and offset O swings from
// O - A to O + A; a computed sine (which starts at 16383) starts at O - A.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "card/eeprom_image.h"
#include "hardware/register_map.h"

namespace rk350::card {

// What the generator puts out, decoded from its registers and calibration.
struct GeneratorOutput {
  bool running = false;       // the accumulator runs from a clock
  bool longMemory = false;    // 16-bit memory address
  uint8_t clockSelect = 15;   // register 30
  double sampleClockHz = 0;   // prescaled clock (0 while stopped)
  uint32_t increment = 0;     // 24-bit phase increment
  uint32_t sweepSamples = 0;  // memory samples in one waveform period
  double frequencyHz = 0;     // waveform repetition frequency (0 while stopped)
  uint8_t range = 0;          // register 37
  double amplitudeVolts = 0;  // peak: the output spans offset -/+ amplitude
  double offsetVolts = 0;
  bool levelsLoaded = false;  // all six DAC channels written since power-on
};

class GeneratorModel {
 public:
  static constexpr uint32_t kMemorySamples = 65536;
  static constexpr double kBaseClockHz = regs::kBaseClockHz;

  GeneratorModel();
  void Reset();
  // The card's EEPROM, whose generator tables set the level DACs' volts; with
  // none the card uses the default image.
  void AttachCalibration(const EepromImage* image);
  // Every register write reaches the model.
  void OnRegisterWrite(uint8_t index, uint8_t value);
  // The output voltage at a virtual time, in seconds since power-on.
  double OutputVolts(double timeSeconds) const;

  GeneratorOutput Output() const;
  // Lowest and highest output over a whole period of the current waveform.
  void OutputBounds(double& low, double& high) const;
  // The output's mean over a period (what AC coupling takes away).
  double MeanVolts() const;
  uint16_t MemorySample(uint32_t address) const { return memory_[address % kMemorySamples]; }
  uint8_t DacValue(int channel) const { return channel >= 0 && channel < 6 ? dac_[channel] : 0; }

 private:
  void OnSerialLines(uint8_t value);
  void OnControl(uint8_t value);
  void DecodeLevels();
  uint32_t Increment() const;
  uint32_t SweepSamples() const;
  uint32_t PhaseUnitsPerSweep() const;
  uint32_t Address(uint32_t phase) const;
  double SampleVolts(uint16_t sample) const;
  double ClockHz() const;

  const EepromImage* calibration_ = nullptr;

  // Waveform memory and phase accumulator.
  std::vector<uint16_t> memory_;
  std::array<uint8_t, 38> reg_{};
  uint8_t control_ = 0;
  uint32_t phase_ = 0;      // accumulator while the clock is stopped
  uint32_t loadCount_ = 0;  // samples written since the last hold
  uint32_t longSweep_ = kMemorySamples;

  // Serial level DAC.
  uint8_t serial_ = 0;  // last value of register 0
  uint16_t shift_ = 0;
  int bitsSinceLoad_ = 0;
  std::array<uint8_t, 6> dac_{};
  uint8_t loadedChannels_ = 0;  // bit per channel written since power-on

  // Decoded levels.
  double amplitude_ = 0;
  double offset_ = 0;

  // Mean memory sample of the sweep, computed when asked after a change.
  mutable double meanSample_ = 0;
  mutable bool meanValid_ = false;
};

}  // namespace rk350::card
