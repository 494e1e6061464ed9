// The card's I/O ports and register indexes. Shared by the library and the
// virtual card: the one place where both sides agree on the card.
#pragma once

#include <cstdint>

namespace rk350::regs {

// ---- Ports, relative to the base address ---------------------------------
constexpr uint16_t kPortIndex = 0;        // write: register index; read: channel 2 sample byte
constexpr uint16_t kPortData = 1;         // write: register data;  read: channel 1 sample byte
constexpr uint16_t kPortStatus = 2;       // read: status byte
constexpr uint16_t kPortAddressHigh = 3;  // read: memory address counter, high byte
constexpr uint16_t kPortAddressLow = 4;   // read: memory address counter, low byte
constexpr uint16_t kPortCount = 5;

// Status byte bits (port 2).
constexpr uint8_t kStatusTriggeredCh1 = 0x02;
constexpr uint8_t kStatusTriggeredCh2 = 0x04;
constexpr uint8_t kStatusEepromData = 0x10;
constexpr uint8_t kStatusWrapped = 0x40;
constexpr uint8_t kStatusRunning = 0x80;  // clear: record complete
constexpr uint8_t kStatusNoCard = 0xFF;   // an empty bus: no card answers

// ---- Registers, written through the index/data pair ----------------------
constexpr uint8_t kRegSerialSelect = 0;  // front-end selects and generator serial DAC
// Register 0, front end: idle 0x76; active-low DAC selects, active-high latch strobes.
constexpr uint8_t kSelectIdle = 0x76;
constexpr uint8_t kSelectDacPath1 = 0x02;
constexpr uint8_t kSelectDacPath2 = 0x10;
constexpr uint8_t kStrobeLatchPath1 = 0x01;
constexpr uint8_t kStrobeLatchPath2 = 0x08;
// Register 0, generator serial DAC.
constexpr uint8_t kGenSerialData = 0x80;
constexpr uint8_t kGenSerialLoad = 0x40;
constexpr uint8_t kGenSerialClock = 0x20;

// Front-end serial DACs: 11-bit words, address in bits 10..8, value in 7..0.
constexpr int kFrontEndDacWordBits = 11;
constexpr uint8_t kDacTrimLow = 0;     // receives 255 - trim
constexpr uint8_t kDacTrimHigh = 2;    // receives trim
constexpr uint8_t kDacCoarseDown = 5;  // receives 254 - coarse steps
constexpr uint8_t kDacCoarseUp = 1;    // receives coarse steps - 1
constexpr uint8_t kDacFine = 4;        // receives 255 - fine
// Front-end relay byte, one latch per path.
constexpr uint8_t kRelayAcCoupling = 0x01;
constexpr uint8_t kRelayInterleave = 0x20;  // the path digitises the other input
// Attenuator and gain relays of each range 1..12 (index 0 unused); the two
// bits above are added per path.
inline constexpr uint8_t kRangeRelayBits[13] = {0x00, 0x42, 0x42, 0x42, 0x52, 0x12, 0x82,
                                                0x54, 0x14, 0x84, 0x58, 0x18, 0x88};

constexpr uint8_t kRegSerialLines = 1;  // EEPROM lines and front-end serial line
// Register 1, EEPROM.
constexpr uint8_t kEepromClock = 0x01;
constexpr uint8_t kEepromData = 0x02;
constexpr uint8_t kEepromDrive = 0x04;
constexpr uint8_t kEepromAlwaysSet = 0x08;
// Register 1, front end.
constexpr uint8_t kFrontEndData = 0x10;
constexpr uint8_t kFrontEndClock = 0x20;

constexpr uint8_t kRegCommand = 4;  // command strobe
// Register 4: a rising bit 0 loads the sample clock's reload value; the pairs
// below are written one after the other.
constexpr uint8_t kCommandIdle = 0x00;
constexpr uint8_t kCommandLoadCounter = 0x01;
inline constexpr uint8_t kCommandStartAcquisition[2] = {0x7E, 0x20};  // clears address counter and status
inline constexpr uint8_t kCommandStartAdvance[2] = {0x56, 0x00};      // the advance starts from address 0
inline constexpr uint8_t kCommandPrepareFromStart[2] = {0x56, 0x02};  // a readout from address 0

constexpr uint8_t kRegClockSelect = 5;  // sample clock select
// Register 5: four fixed rates of the base clock, or a counter group plus a
// prescaler code 1..15 in the low nibble; bit 0x40 switches to memory readout.
constexpr uint32_t kBaseClockHz = 50000000;  // the card's crystal, for sampling and the generator
constexpr uint8_t kClockSelect50MHz = 0x0F;
constexpr uint8_t kClockSelect25MHz = 0x10;
constexpr uint8_t kClockSelect10MHz = 0x11;
constexpr uint8_t kClockSelect5MHz = 0x12;
constexpr uint8_t kClockSelectFastCounter = 0x20;  // + prescaler code
constexpr uint8_t kClockSelectSlowCounter = 0x30;  // + prescaler code
constexpr uint8_t kClockSelectGroupMask = 0x30;
constexpr uint8_t kClockSelectPrescalerMask = 0x0F;
constexpr uint8_t kClockSelectReadout = 0x40;
// Divisor of the half base clock for each prescaler code 1..15 (index 0 unused).
inline constexpr uint32_t kPrescalerDivisor[16] = {0,   5,    10,   20,    40,    80,      160,      320,
                                                   640, 1280, 5120, 20480, 81920, 1310720, 20971520, 335544320};
constexpr int kLastPrescaler = 15;

constexpr uint8_t kRegClockReloadLow = 6;
constexpr uint8_t kRegClockReloadHigh = 7;
constexpr uint8_t kRegClockMode = 8;
// Register 8, clock mode.
constexpr uint8_t kClockModeFixed = 6;
constexpr uint8_t kClockModeFixedInterleaved = 2;
constexpr uint8_t kClockModeFastCounter = 6;
constexpr uint8_t kClockModeSlowCounter = 0x14;

constexpr uint8_t kRegTriggerControl = 9;
// Register 9: on the logic path, how the channels' latched trigger flags
// combine; the channel paths are armed with 1, the external input with 0;
// 3 runs without a trigger, or forces the trigger of a waiting run.
constexpr uint8_t kTriggerControlAnd = 0;
constexpr uint8_t kTriggerControlOr = 1;
constexpr uint8_t kTriggerControlXor = 2;
constexpr uint8_t kTriggerControlChannel = 1;
constexpr uint8_t kTriggerControlExternal = 0;
constexpr uint8_t kTriggerControlFreeRun = 3;

constexpr uint8_t kRegTriggerPath = 10;
// Register 10, the trigger path.
constexpr uint8_t kTriggerPathCh1 = 1;
constexpr uint8_t kTriggerPathCh2 = 2;
constexpr uint8_t kTriggerPathLogic = 3;    // both channels' comparators, combined by register 9
constexpr uint8_t kTriggerPathSpecial = 4;  // external input or digital condition, chosen by register 24
constexpr uint8_t kRegCh1CompA = 11;
constexpr uint8_t kRegCh1CompB = 12;
constexpr uint8_t kRegCh1CompC = 13;
constexpr uint8_t kRegCh1CompD = 14;
constexpr uint8_t kRegCh1ModeA = 15;
constexpr uint8_t kRegCh1ModeB = 16;
// Register 15, channel 1's comparator kind; register 16, its direction.
constexpr uint8_t kCh1KindOff = 0;      // the digital conditions of register 24 trigger instead
constexpr uint8_t kCh1KindSpecial = 1;  // trigger mode 11, with the special mode register 17
constexpr uint8_t kCh1KindMode7 = 2;    // trigger mode 7
constexpr uint8_t kCh1KindLevel = 4;    // fires while beyond comparator value B
constexpr uint8_t kCh1KindEdge = 5;     // arms beyond value A, fires at value B
constexpr uint8_t kCh1DirectionNone = 0;
constexpr uint8_t kCh1DirectionRising = 1;   // rising edge, or level above
constexpr uint8_t kCh1DirectionFalling = 2;  // falling edge, or level below
constexpr uint8_t kRegCh1Special = 17;
constexpr uint8_t kSpecialModeCh1 = 0x8C;  // register 17 for channel 1's trigger mode 11
constexpr uint8_t kRegCh2CompA = 22;
constexpr uint8_t kRegCh2CompB = 23;
constexpr uint8_t kRegSpecialTrigger = 24;
// Register 24, the special trigger code of trigger path 4: the high nibble
// picks the signal (the external input, or a digital condition of a
// channel's converter), the low nibble its slope.
constexpr uint8_t kSpecialSignalMask = 0xF0;
constexpr uint8_t kSpecialSlopeMask = 0x0F;
constexpr uint8_t kSpecialExternal = 0x00;
constexpr uint8_t kSpecialCh1DigitalModes5And6 = 0x10;
constexpr uint8_t kSpecialCh1DigitalMode4 = 0x20;
constexpr uint8_t kSpecialCh2DigitalModes5And6 = 0x30;
constexpr uint8_t kSpecialCh2DigitalMode4 = 0x40;
constexpr uint8_t kSpecialFalling = 0x08;
constexpr uint8_t kSpecialRising = 0x09;
// Register 24 for the analog external input, by the mode of channel 1.
constexpr uint8_t kSpecialAnalogRising = 1;
constexpr uint8_t kSpecialAnalogFalling = 2;
constexpr uint8_t kSpecialAnalogLevel = 6;
constexpr uint8_t kRegCh2Mode = 25;
// Register 25, channel 2's comparator mode.
constexpr uint8_t kCh2ModeRising = 1;   // arms below value A, fires at value B
constexpr uint8_t kCh2ModeFalling = 2;  // arms above value A, fires at value B
constexpr uint8_t kCh2ModeAbove = 5;    // fires while at or above value B
constexpr uint8_t kRegPostCountLow = 26;
constexpr uint8_t kRegPostCountHigh = 27;
constexpr uint8_t kRegReadStrobe = 28;
constexpr uint8_t kReadStrobeValue = 0x01;  // any write moves the readout on by one sample

constexpr uint8_t kRegSequencer = 29;
// Register 29, sequencer: each run is entered held, then released.
constexpr uint8_t kSequencerIdle = 0x01;
constexpr uint8_t kSequencerAcquireHold = 0xAC;
constexpr uint8_t kSequencerAcquireRun = 0xAE;
constexpr uint8_t kSequencerAdvanceHold = 0xA1;
constexpr uint8_t kSequencerAdvanceRun = 0xA3;  // counts the address on by the post-trigger count
constexpr uint8_t kSequencerReadout = 0x47;

constexpr uint8_t kRegGenClockSelect = 30;
constexpr uint8_t kRegGenControl = 31;
constexpr uint8_t kRegGenMemDataLow = 32;
constexpr uint8_t kRegGenMemDataHigh = 33;
constexpr uint8_t kRegGenIncrementLow = 34;
constexpr uint8_t kRegGenIncrementMid = 35;
constexpr uint8_t kRegGenIncrementHigh = 36;
constexpr uint8_t kRegGenRangeSelect = 37;
constexpr uint8_t kRegisterCount = 38;

// Register 30, generator clock select: prescaler index 0..14; 15 stops the
// clock while the waveform memory is loaded.
constexpr uint8_t kGenClockStopped = 15;
// Divisor of the base clock for each generator prescaler index 0..14.
inline constexpr uint32_t kGenPrescalerDivisor[15] = {1,   2,   5,    10,   20,    40,    80,     160,
                                                      320, 640, 1280, 5120, 20480, 81920, 1310720};
constexpr int kGenSlowestPrescaler = 14;
// Register 31, generator control bits.
constexpr uint8_t kGenCtrlWriteStrobe = 0x01;  // rising edge (clock stopped): sample into memory
constexpr uint8_t kGenCtrlRun = 0x04;          // phase accumulator runs from the prescaled clock
constexpr uint8_t kGenCtrlLongMemory = 0x08;   // 16-bit memory address instead of 10-bit
constexpr uint8_t kGenCtrlAdvance = 0x20;      // rising edge (clock stopped): one increment
constexpr uint8_t kGenCtrlNotReset = 0x40;     // low: phase accumulator and load counter held at 0
// Register 31 bytes of the waveform load (kGenCtrlLongMemory added for the
// long memory).
constexpr uint8_t kGenLoadHoldReset = 0x31;   // accumulator held at 0, clock stopped
constexpr uint8_t kGenLoadReleased = 0x71;    // accumulator released, strobes idle high
constexpr uint8_t kGenLoadStrobeLow = 0x70;   // write strobe low
constexpr uint8_t kGenLoadAdvanceLow = 0x51;  // advance line low
constexpr uint8_t kGenLoadRun = 0x75;         // run from the prescaled clock
// Register 31 bytes that start the accumulator with a new increment and clock.
inline constexpr uint8_t kGenShortClockSequence[3] = {0x56, 0x56, 0x57};
inline constexpr uint8_t kGenLongClockSequence[3] = {0x56, 0x5E, 0x5F};
// Register 37, generator amplitude range.
constexpr uint8_t kGenRangeLow = 0;
constexpr uint8_t kGenRangeHigh = 5;
constexpr uint8_t kGenRangeMid = 6;
// Generator serial DAC: 11-bit words, channel in bits 10..8.
constexpr int kGenDacWordBits = 11;
constexpr uint8_t kGenDacAmpCoarseUp = 0;    // amplitude coarse code + 1
constexpr uint8_t kGenDacOffCoarseDown = 1;  // offset coarse code - 1
constexpr uint8_t kGenDacAmpFine = 2;
constexpr uint8_t kGenDacOffCoarseUp = 3;    // offset coarse code + 1
constexpr uint8_t kGenDacAmpCoarseDown = 4;  // amplitude coarse code - 1
constexpr uint8_t kGenDacOffFine = 5;
// Phase accumulator: 2^23 phase units per memory sweep; one sample is 2^13
// units with the 1024-sample memory and 2^7 units with the 65536-sample one.
constexpr uint32_t kGenPhaseUnits = 1u << 23;
constexpr uint32_t kGenShortMemorySamples = 1024;
constexpr uint32_t kGenLongMemorySamples = 65536;

// EEPROM device address (24-series, chip selects 0).
constexpr uint8_t kEepromDeviceWrite = 0xA0;
constexpr uint8_t kEepromDeviceRead = 0xA1;

// Sample memory.
constexpr uint32_t kMemoryDepth = 65536;

}  // namespace rk350::regs
