// Register sequences that run one measurement on the card: arming, trigger
// programming, status polling, forcing the trigger and moving the memory
// address counter before a readout.
#include "instrument/trk350.h"

namespace rk350 {

namespace {
using namespace regs;

constexpr uint32_t kAdvanceWaitMs = 10;
constexpr uint16_t kPostTriggerExtra = 10;

// Shadow slots of the six trigger registers, in the order they are written.
enum Shadow { kR10, kR9, kR15, kR16, kR25, kR24 };
constexpr uint8_t kShadowRegister[6] = {kRegTriggerPath, kRegTriggerControl, kRegCh1ModeA,
                                        kRegCh1ModeB,    kRegCh2Mode,        kRegSpecialTrigger};

// Routing of a channel-1 trigger by trigger mode: path, comparator kind and
// direction, and the special code (-1: leave the shadow as it is).
struct Ch1Routing {
  int r10, r15, r16, r24;
};
constexpr int kKeep = -1;
constexpr Ch1Routing kCh1Routing[12] = {
    {kTriggerPathCh1, kCh1KindEdge, kCh1DirectionRising, kKeep},   // 0 rising, hysteresis below
    {kTriggerPathCh1, kCh1KindEdge, kCh1DirectionFalling, kKeep},  // 1 falling, hysteresis above
    {kTriggerPathCh1, kCh1KindEdge, kCh1DirectionRising, kKeep},   // 2 rising, swapped comparator values
    {kTriggerPathCh1, kCh1KindLevel, kCh1DirectionRising, kKeep},  // 3 level
    {kTriggerPathSpecial, kCh1KindOff, kCh1DirectionNone, kSpecialCh1DigitalMode4 | kSpecialRising},        // 4 digital
    {kTriggerPathSpecial, kCh1KindOff, kCh1DirectionNone, kSpecialCh1DigitalModes5And6 | kSpecialRising},   // 5
    {kTriggerPathSpecial, kCh1KindOff, kCh1DirectionNone, kSpecialCh1DigitalModes5And6 | kSpecialFalling},  // 6
    {kTriggerPathCh1, kCh1KindMode7, kCh1DirectionNone, kKeep},                                             // 7
    {kKeep, kKeep, kKeep, kKeep},                                                                           // 8
    {kKeep, kKeep, kKeep, kKeep},                                                                           // 9
    {kKeep, kKeep, kKeep, kKeep},                                                                           // 10
    {kTriggerPathCh1, kCh1KindSpecial, kCh1DirectionNone, kKeep},  // 11 (with the special mode register)
};

struct Ch2Routing {
  int r10, r25, r24;
};
constexpr Ch2Routing kCh2Routing[7] = {
    {kTriggerPathCh2, kCh2ModeRising, kKeep},                                      // 0
    {kTriggerPathCh2, kCh2ModeFalling, kKeep},                                     // 1
    {kTriggerPathCh2, kCh2ModeRising, kKeep},                                      // 2
    {kTriggerPathCh2, kCh2ModeAbove, kKeep},                                       // 3
    {kTriggerPathSpecial, kKeep, kSpecialCh2DigitalMode4 | kSpecialRising},        // 4
    {kTriggerPathSpecial, kKeep, kSpecialCh2DigitalModes5And6 | kSpecialRising},   // 5
    {kTriggerPathSpecial, kKeep, kSpecialCh2DigitalModes5And6 | kSpecialFalling},  // 6
};

// Logic combinations: comparator modes of both channels.
struct LogicRouting {
  uint8_t r15, r16, r25;
};
constexpr LogicRouting kLogicRouting[4] = {
    {kCh1KindEdge, kCh1DirectionRising, kCh2ModeRising},    // 0
    {kCh1KindEdge, kCh1DirectionFalling, kCh2ModeFalling},  // 1
    {kCh1KindEdge, kCh1DirectionRising, kCh2ModeRising},    // 2
    {kCh1KindLevel, kCh1DirectionRising, kCh2ModeAbove},    // 3
};

// The analog external input by the mode of channel 1.
constexpr uint8_t kAnalogExternalCode[4] = {kSpecialAnalogRising, kSpecialAnalogFalling, kSpecialAnalogRising,
                                            kSpecialAnalogLevel};

void Assign(uint8_t& slot, int value) {
  if (value >= 0) slot = static_cast<uint8_t>(value);
}
}  // namespace

void TRK350::ArmMeasurement() {
  if (!HardwarePresent) return;
  ForcedWhileWaiting = false;
  ForcedByTimeOut = false;
  PlanSoftwareRun();
  Extended f = ClockFrequency;
  ProgramSampleClock(f);
  if (f != ClockFrequency) {
    ClockFrequency = f;
    SettingsDirty = true;
    NotifySettingsChanged();
  }
  const int32_t post = SoftwareRun ? SoftwareGeometry.post : lPostSamples;
  LoadPostTriggerCounter(static_cast<uint16_t>(post + kPostTriggerExtra));
  ComputeTriggerComparators();
  ProgramTrigger();
  // Start: the acquisition runs and waits for its trigger.
  WriteRegister(kRegSequencer, kSequencerAcquireHold);
  WriteRegister(kRegCommand, kCommandStartAcquisition[0]);
  WriteRegister(kRegCommand, kCommandStartAcquisition[1]);
  WriteRegister(kRegSequencer, kSequencerAcquireRun);
}

void TRK350::ComputeTriggerComparators() {
  const uint8_t mode = TriggerMode[1];
  for (int k = 1; k <= 3; ++k) {
    const int channel = k == 2 ? 2 : 1;
    const int32_t level = TriggerLevel[channel];
    const int32_t hysteresis = TriggerHysteresis[channel];
    int32_t a = 0, b = 0;
    switch (mode) {
      case 0:
      case 3:
        a = ClampInt(level - hysteresis, 0, 255);
        b = ClampInt(level, 0, 255);
        break;
      case 1:
        a = ClampInt(level + hysteresis, 0, 255);
        b = ClampInt(level, 0, 255);
        break;
      case 2:
        a = ClampInt(level, 0, 255);
        b = ClampInt(level - hysteresis, 0, 255);
        break;
      default:
        break;
    }
    ComparatorValues[k][0] = a;
    ComparatorValues[k][1] = b;
    ComparatorValues[k][2] = 0;
    ComparatorValues[k][3] = 0;
  }
}

void TRK350::ProgramTrigger() {
  uint8_t* shadow = TriggerShadow;
  const uint8_t m1 = TriggerMode[1];
  const uint8_t mx = TriggerMode[0];
  auto writeCh1Comparators = [&] {
    WriteRegister(kRegCh1CompA, static_cast<uint8_t>(ComparatorValues[1][0]));
    WriteRegister(kRegCh1CompB, static_cast<uint8_t>(ComparatorValues[1][1]));
  };
  auto writeCh2Comparators = [&] {
    WriteRegister(kRegCh2CompA, static_cast<uint8_t>(ComparatorValues[2][0]));
    WriteRegister(kRegCh2CompB, static_cast<uint8_t>(ComparatorValues[2][1]));
  };

  switch (tsTriggerSource) {
    case tsCh1: {
      const uint8_t m = m1 & 0x7F;
      if (m < 12) {
        const Ch1Routing& r = kCh1Routing[m];
        Assign(shadow[kR10], r.r10);
        Assign(shadow[kR15], r.r15);
        Assign(shadow[kR16], r.r16);
        Assign(shadow[kR24], r.r24);
        if (m == 11) WriteRegister(kRegCh1Special, kSpecialModeCh1);
      }
      shadow[kR9] = kTriggerControlChannel;
      writeCh1Comparators();
      WriteRegister(kRegCh1CompC, 0);
      WriteRegister(kRegCh1CompD, 0);
      break;
    }
    case tsCh2: {
      const uint8_t m = m1 & 0x7F;
      if (m < 7) {
        const Ch2Routing& r = kCh2Routing[m];
        Assign(shadow[kR10], r.r10);
        Assign(shadow[kR25], r.r25);
        Assign(shadow[kR24], r.r24);
      }
      shadow[kR9] = kTriggerControlChannel;
      writeCh2Comparators();
      break;
    }
    case tsExternal:
      shadow[kR10] = kTriggerPathSpecial;
      shadow[kR9] = kTriggerControlExternal;
      if (mx == 0) shadow[kR24] = kSpecialExternal | kSpecialRising;
      if (mx == 1) shadow[kR24] = kSpecialExternal | kSpecialFalling;
      break;
    case tsAnaExt:
      shadow[kR10] = kTriggerPathSpecial;
      shadow[kR9] = kTriggerControlChannel;
      if (m1 < 4) shadow[kR24] = kAnalogExternalCode[m1];
      break;
    case tsAnd:
    case tsOr:
    case tsXor: {
      shadow[kR10] = kTriggerPathLogic;
      shadow[kR9] = tsTriggerSource == tsAnd  ? kTriggerControlAnd
                    : tsTriggerSource == tsOr ? kTriggerControlOr
                                              : kTriggerControlXor;
      if (m1 < 4) {  // the mode as stored, bit 7 included
        shadow[kR15] = kLogicRouting[m1].r15;
        shadow[kR16] = kLogicRouting[m1].r16;
        shadow[kR25] = kLogicRouting[m1].r25;
      }
      writeCh1Comparators();
      writeCh2Comparators();
      break;
    }
    case tsNoTrig:
      shadow[kR9] = kTriggerControlFreeRun;
      break;
    default:
      break;  // sources this card cannot arm leave the registers as they are
  }
  // A software run that does not wait for the card's comparator is armed as
  // with a time-out of 0: free running.
  if (rTrigTimeOut == 0 || (SoftwareRun && !SoftwareWaits)) shadow[kR9] = kTriggerControlFreeRun;
  for (int i = 0; i < 6; ++i) WriteRegister(kShadowRegister[i], shadow[i]);
}

uint32_t TRK350::TriggerStatus() {
  uint8_t mask = TriggerChannel() == 2 ? kStatusTriggeredCh2 : kStatusTriggeredCh1;
  if (tsTriggerSource == tsExternal || tsTriggerSource == tsAnd || tsTriggerSource == tsOr) {
    mask = kStatusTriggeredCh1 | kStatusTriggeredCh2;
  }
  LastStatus = ReadPort(kPortStatus);
  return LastStatus & mask;
}

bool TRK350::RecordComplete() {
  LastStatus = ReadPort(kPortStatus);
  return (LastStatus & kStatusRunning) == 0;
}

uint16_t TRK350::ReadMemoryAddress() {
  const uint8_t high = ReadPort(kPortAddressHigh);
  const uint8_t low = ReadPort(kPortAddressLow);
  return static_cast<uint16_t>(high << 8 | low);
}

void TRK350::ForceTrigger() {
  // The software trigger's record is taken even without a crossing.
  if (SoftwareRun) SoftwareForced = true;
  // Forced while the card still waited (its last status showed no trigger):
  // the record says so. The caller names a forcing by the time-out.
  const uint8_t seen = TriggerChannel() == 2 ? kStatusTriggeredCh2 : kStatusTriggeredCh1;
  ForcedWhileWaiting = (LastStatus & seen) == 0;
  ForcedByTimeOut = false;
  WriteRegister(kRegTriggerControl, kTriggerControlFreeRun);
}

Extended TRK350::ArmedRunSeconds() const {
  // The counts are of each converter's samples (at 100 MHz each converter
  // runs at half the rate).
  const Extended rate = ClockFrequency;
  if (!(rate > 0)) return 0;
  // After the trigger the card counts the post-trigger count, what the
  // arming adds to it and the trigger path's delay (none when it runs free);
  // a software run counts its search window as well.
  const int32_t post = SoftwareRun && SoftwareWaits ? SoftwareGeometry.post
                       : SoftwareRun                ? SoftwareGeometry.length
                                                    : lPostSamples;
  const int32_t lag = tsTriggerSource == tsNoTrig ? 0 : CardTriggerLag();
  return (post + kPostTriggerExtra + lag) / rate;
}

void TRK350::AdvanceMemoryAddress(uint16_t count) {
  LoadPostTriggerCounter(count);
  Extended fastest = kBaseClockHz;
  ProgramSampleClock(fastest);
  WriteRegister(kRegTriggerControl, kTriggerControlFreeRun);
  WriteRegister(kRegSequencer, kSequencerAdvanceHold);
  WriteRegister(kRegCommand, kCommandStartAdvance[0]);
  WriteRegister(kRegCommand, kCommandStartAdvance[1]);
  WriteRegister(kRegSequencer, kSequencerAdvanceRun);
  // The run takes at most about 1.3 ms; a card that does not finish is given
  // up on after 10 ms (the readout then checks the address).
  const uint32_t t0 = platform::TickCountMs();
  while (!RecordComplete()) {
    if (platform::TickCountMs() - t0 > kAdvanceWaitMs) break;
  }
  WriteRegister(kRegSequencer, kSequencerIdle);
}

}  // namespace rk350
