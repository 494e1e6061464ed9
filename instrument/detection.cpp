// Card detection, identification, calibration and hardware initialisation,
// all from the card's serial EEPROM.
#include "hardware/eeprom_layout.h"
#include "instrument/card_identity.h"
#include "instrument/trk350.h"

namespace rk350 {

namespace layout = eeprom_layout;

namespace {

// The generator's part of hardware initialisation: switched on once from the
// constructed state, then parked with its output off as DC, 0.2 Hz, 0 V, 0 V.
// The generator layer programs the card inside SetGenOutputOn.
void ParkFunctionGenerator(TRK350& instrument) {
  instrument.SetGenOutputOn(true);
  instrument.GenSignalType = gsDC;
  instrument.GenFrequency = 0.2L;
  instrument.GenAmplitude = 0.0L;
  instrument.GenDCOffset = 0.0L;
  instrument.SetGenOutputOn(false);
}

}  // namespace

// A memory that answers with another model code leaves an unknown kind
// without a name; a card that does not answer changes nothing but
// HardwarePresent.
bool TRK350::DetectCard() {
  const CardIdentity id = ReadIdentity(*this);
  if (id.answered) {
    if (id.rk350) {
      DeviceName = kDeviceNameRk350;
      InstrumentKind = kKindRk350;
      InterleaveCapable = true;
      SerialNumber = id.serial;
      FuncGenPresent = id.generator;
    } else {
      InstrumentKind = kKindUnknown;
      DeviceName.clear();
      InterleaveCapable = false;
      FuncGenPresent = true;
    }
    HasAnalogExternalTrigger = false;
  }
  HardwarePresent = id.rk350;
  return id.rk350;
}

// The read order is part of the card's contract: channel records range by
// range, the generator step tables entry by entry (both tables per entry),
// then the generator gains and zeros.
void TRK350::ReadCalibration() {
  for (int channel = 1; channel <= 2; ++channel) {
    for (int range = 1; range <= 12; ++range) {
      const uint16_t base = layout::ChannelRecord(channel, range);
      OffsetTrim[channel][range] = ReadByte(base + layout::kRecOffsetTrim);
      InterleaveOffsetTrim[channel][range] = ReadByte(base + layout::kRecInterleaveOffsetTrim);
      DcGain[channel][range] = ReadWord(base + layout::kRecDcGain);
      DcZero[channel][range] = ReadWord(base + layout::kRecDcZero);
      InterleaveDcZero[channel][range] = ReadWord(base + layout::kRecInterleaveDcZero);
      DcStep[channel][range] = ReadWord(base + layout::kRecDcStep);
      DcScale[channel][range] = ReadWord(base + layout::kRecDcScale);
    }
  }
  for (int entry = 1; entry <= 15; ++entry) {
    for (int row = 0; row <= 6; ++row) {
      GenOffsetStepTable[row][entry] = ReadWord(layout::GenOffsetStep(row, entry));
      GenAmpStepTable[row][entry] = ReadWord(layout::GenAmpStep(row, entry));
    }
  }
  GenCalUnused = ReadWord(layout::kGenUnused);
  GenOffsetZeroHigh = ReadInteger(layout::kGenOffsetZeroHigh);
  GenGainMid = ReadWord(layout::kGenGainMid);
  GenOffsetZeroMid = ReadInteger(layout::kGenOffsetZeroMid);
  GenGainLow = ReadWord(layout::kGenGainLow);
  GenOffsetZeroLow = ReadInteger(layout::kGenOffsetZeroLow);
  GenAmpZero = ReadInteger(layout::kGenAmpZero);
}

bool TRK350::InitHardware() {
  if (!DetectCard()) {
    StopMeasureTimer();
    return false;
  }
  ResetRangeTables(*this);
  ReadCalibration();
  ParkFunctionGenerator(*this);
  // The input front end reaches the card later, when the measurement engine
  // finds the settings marked dirty.
  return true;
}

CalibrationDateTime TRK350::ReadCalibrationDate() { return ReadCalibrationDateOf(*this); }

// Leaves the card as it is: the generator keeps running with its last
// settings after the library lets go.
void TRK350::ShutdownHardware() {}

}  // namespace rk350
