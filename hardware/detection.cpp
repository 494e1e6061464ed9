// Card detection, identification, calibration and hardware initialisation,
// all from the card's serial EEPROM.
#include "hardware/eeprom_layout.h"
#include "instrument/trk350.h"

namespace rk350 {

namespace layout = eeprom_layout;

namespace {

constexpr uint8_t kKindRk350 = 5;
constexpr uint8_t kKindUnknown = 0;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month];
}

// A stored calibration time that names no real date and time of day.
bool IsValidCalibration(const CalibrationDateTime& t) {
  if (t.year == 0 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
  return t.hour <= 23 && t.minute <= 59;
}

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

bool TRK350::DetectCard() {
  bool found = false;
  if (ReadByte(layout::kSignature) == layout::kSignatureValue) {
    if (ReadByte(layout::kModelCode) == layout::kModelCodeRk350) {
      DeviceName = "RK350 ISA";
      InstrumentKind = kKindRk350;
      InterleaveCapable = true;
      found = true;
    } else {
      InstrumentKind = kKindUnknown;
      DeviceName.clear();
      InterleaveCapable = false;
    }
    HasAnalogExternalTrigger = false;
    if (InstrumentKind != kKindUnknown) {
      const int serialLow = ReadByte(layout::kSerialLow);  // low byte first, on the wire too
      SerialNumber = serialLow + 256 * ReadByte(layout::kSerialLow + 1);
      FuncGenPresent = ReadByte(layout::kGeneratorFitted) == 0;
    }
    if (InstrumentKind == kKindUnknown) FuncGenPresent = true;
  }
  HardwarePresent = found;
  return found;
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

CalibrationDateTime TRK350::ReadCalibrationDate() {
  CalibrationDateTime stored;
  const int yearLow = ReadByte(layout::kYearLow);
  const int yearHigh = ReadByte(layout::kYearLow + 1);
  stored.year = yearLow + 256 * yearHigh;
  stored.month = ReadByte(layout::kMonth);
  stored.day = ReadByte(layout::kDay);
  stored.hour = ReadByte(layout::kHour);
  stored.minute = ReadByte(layout::kMinute);
  return IsValidCalibration(stored) ? stored : CalibrationDateTime{};
}

// Leaves the card as it is: the generator keeps running with its last
// settings after the library lets go.
void TRK350::ShutdownHardware() {}

}  // namespace rk350
