// Card detection, identification, calibration and hardware initialisation,
// all from the card's serial EEPROM.
#include <array>

#include "hardware/eeprom_layout.h"
#include "instrument/card_identity.h"
#include "instrument/eeprom_protocol.h"
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

namespace {

// Fills the calibration fields through `read`, which offers Byte, Word and
// Integer of an EEPROM address. The order is the card's field by field
// order: channel records range by range, the generator step tables entry by
// entry (both tables per entry), then the generator gains and zeros.
template <class Read>
void FillCalibration(TRK350& t, Read& read) {
  for (int channel = 1; channel <= 2; ++channel) {
    for (int range = 1; range <= 12; ++range) {
      const uint16_t base = layout::ChannelRecord(channel, range);
      t.OffsetTrim[channel][range] = read.Byte(base + layout::kRecOffsetTrim);
      t.InterleaveOffsetTrim[channel][range] = read.Byte(base + layout::kRecInterleaveOffsetTrim);
      t.DcGain[channel][range] = read.Word(base + layout::kRecDcGain);
      t.DcZero[channel][range] = read.Word(base + layout::kRecDcZero);
      t.InterleaveDcZero[channel][range] = read.Word(base + layout::kRecInterleaveDcZero);
      t.DcStep[channel][range] = read.Word(base + layout::kRecDcStep);
      t.DcScale[channel][range] = read.Word(base + layout::kRecDcScale);
    }
  }
  for (int entry = 1; entry <= 15; ++entry) {
    for (int row = 0; row <= 6; ++row) {
      t.GenOffsetStepTable[row][entry] = read.Word(layout::GenOffsetStep(row, entry));
      t.GenAmpStepTable[row][entry] = read.Word(layout::GenAmpStep(row, entry));
    }
  }
  t.GenCalUnused = read.Word(layout::kGenUnused);
  t.GenOffsetZeroHigh = read.Integer(layout::kGenOffsetZeroHigh);
  t.GenGainMid = read.Word(layout::kGenGainMid);
  t.GenOffsetZeroMid = read.Integer(layout::kGenOffsetZeroMid);
  t.GenGainLow = read.Word(layout::kGenGainLow);
  t.GenOffsetZeroLow = read.Integer(layout::kGenOffsetZeroLow);
  t.GenAmpZero = read.Integer(layout::kGenAmpZero);
}

// Each read a random read on the card, reporting its own faults.
struct CardReads {
  TRK350& card;
  uint8_t Byte(uint16_t a) { return card.ReadByte(a); }
  uint16_t Word(uint16_t a) { return card.ReadWord(a); }
  int32_t Integer(uint16_t a) { return card.ReadInteger(a); }
};

// The calibration's three stretches of the memory, each read in one
// sequential read: the channel 1 records, the channel 2 records, and the
// generator tables with its gains and zeros.
struct Stretch {
  uint16_t first, end;
};
constexpr uint16_t kCalibrationEnd = layout::kGenAmpZero + 2;
constexpr Stretch kCalibrationStretches[] = {
    {layout::ChannelRecord(1, 1), layout::ChannelRecord(1, 12) + layout::kChannelRecordSize},
    {layout::ChannelRecord(2, 1), layout::ChannelRecord(2, 12) + layout::kChannelRecordSize},
    {layout::GenOffsetStep(0, 1), kCalibrationEnd},
};

// Reads from a copy of the stretches.
struct CopyReads {
  const std::array<uint8_t, kCalibrationEnd>& bytes;
  uint8_t Byte(uint16_t a) const { return bytes[a]; }
  uint16_t Word(uint16_t a) const { return static_cast<uint16_t>(bytes[a] << 8 | bytes[a + 1]); }
  int32_t Integer(uint16_t a) const {
    const int32_t word = Word(a);
    return (word & 0x8000) != 0 ? word - 65536 : word;
  }
};

}  // namespace

// Each stretch in one sequential read (a fifth of the bus traffic of a
// random read per byte: on the card's bus of port writes that is most of the
// initialisation's time). When a bus fault strikes one, the calibration is
// read again field by field, each read reporting its own fault.
void TRK350::ReadCalibration() {
  std::array<uint8_t, kCalibrationEnd> bytes{};
  bool clean = true;
  for (const Stretch& s : kCalibrationStretches) {
    clean = clean && eeprom_protocol::RanWithoutFault([&] {
              eeprom_protocol::SequentialRead(*this, s.first, bytes.data() + s.first, size_t{s.end} - s.first);
            });
  }
  if (clean) {
    CopyReads copy{bytes};
    FillCalibration(*this, copy);
  } else {
    CardReads card{*this};
    FillCalibration(*this, card);
  }
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
