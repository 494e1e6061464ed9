// The card's input front end as the card sees it: the relay shift register
// with its two latches and the serial DACs of both converter paths, decoded
// from the writes to registers 0 and 1. Each path ends up with a range (full
// scale), a coupling, the input it digitises and an input offset.
//
// The serial bus: register 1 bit 0x10 is data, bit 0x20 the clock; every
// rising clock edge shifts one bit, most significant first, into the relay
// shift register and into the DAC of each path whose select (register 0,
// active low: 0x02 path 1, 0x10 path 2) is low. A DAC takes its word when its
// select rises after exactly 11 bits (address 10..8, value 7..0); any other
// count is a framing error and the word is dropped. A rising latch strobe
// (register 0, 0x01 path 1, 0x08 path 2) copies the shift register into the
// path's relay latch.
//
// The offset is decoded with the calibration of the card's own EEPROM image:
// the DAC codes give T = coarse * DcStep/100 + fine * (DcScale/50)/256 - 10
// DAC units, and the input offset is (zero - T) * S / (4 * DcGain) at full
// scale S. The trim DACs cancel the converter's own offset exactly at the
// calibrated trim value; every trim count away from it shifts the path by
// S/1024.
#pragma once

#include <array>
#include <cstdint>

#include "card/eeprom_image.h"
#include "card/front_end_trace.h"
#include "hardware/register_map.h"

namespace rk350::card {

// What one converter path does to its input, as decoded from the card's
// latches and DACs.
struct PathAnalogState {
  double fullScaleVolts = 0.8;  // input voltage at the end of the ADC scale; 0: no valid range relay set
  bool acCoupled = false;       // relay bit 0
  int inputChannel = 1;         // the input this path digitises (1 or 2)
  double offsetVolts = 0.0;     // added to the input before conversion
};

// The raw front-end state of one path, for tests and traces.
struct FrontEndPathRegisters {
  uint8_t relayLatch = 0;            // last byte strobed into the path's relay latch
  std::array<uint8_t, 8> dac{};      // serial DAC outputs by address 0..7
  std::array<bool, 8> dacWritten{};  // written since reset
  uint32_t wordsReceived = 0;        // complete 11-bit words taken
  uint32_t framingErrors = 0;        // select pulses with a bit count other than 11
};

class FrontEndModel {
 public:
  // Relay latch content at power-on: 0.8 V range, DC coupled.
  static constexpr uint8_t kPowerOnRelay = regs::kRangeRelayBits[6];

  FrontEndModel();
  void Reset();
  // The calibration the card decodes its DAC codes with: its own EEPROM
  // image (not owned; must outlive the model). Null: the default image.
  void UseCalibration(const EepromImage* image);

  // Every register write reaches the model; it follows registers 0 and 1.
  void OnRegisterWrite(uint8_t index, uint8_t value);
  // Path 1 or 2 (anything else reads as path 1).
  PathAnalogState Path(int path) const;

  // ---- Decoded state, for tests ---------------------------------------
  const FrontEndPathRegisters& Registers(int path) const { return paths_[Index(path)]; }
  uint8_t RelayShiftRegister() const { return relayShift_; }
  // Logic trace of the serial lines (kept across Reset).
  void StartTrace() { trace_.Start(select_, lines_); }
  void StopTrace() { trace_.Stop(); }
  const FrontEndTrace& Trace() const { return trace_; }
  // Range number 3..12 of a relay byte (AC and interleave bits ignored),
  // 0 when the byte selects none of them.
  static int RangeOfRelay(uint8_t relay);
  static double FullScaleOfRange(int range);

 private:
  struct PathBus {
    uint16_t shift = 0;
    int bits = 0;
  };
  static int Index(int path) { return path == 2 ? 1 : 0; }
  void OnSelectWrite(uint8_t value);
  void OnLinesWrite(uint8_t value);
  double DecodedOffset(int path, int input, int range, double fullScale) const;

  const EepromImage* calibration_ = nullptr;
  uint8_t select_ = 0;
  uint8_t lines_ = 0;
  uint8_t relayShift_ = 0;
  std::array<PathBus, 2> bus_{};
  std::array<FrontEndPathRegisters, 2> paths_{};
  FrontEndTrace trace_;
};

}  // namespace rk350::card
