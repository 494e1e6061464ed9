// Construction, destruction, notification and timer dispatch of the
// instrument component.
#include "instrument/trk350.h"

namespace rk350 {

uint8_t gClockMode = 0;
uint8_t gClockSelect = 0;

namespace {
constexpr uint32_t kMeasureTimerIntervalMs = 6;
constexpr Extended kSensitivityTable[13] = {0,    0.02L, 0.04L, 0.1L,  0.2L,  0.4L, 0.8L,
                                            2.0L, 4.0L,  8.0L,  20.0L, 40.0L, 80.0L};
constexpr Extended kDcLevelLimitTable[13] = {0,    0.04L, 0.08L, 0.2L,  0.4L,  0.8L,  1.6L,
                                             4.0L, 8.0L,  16.0L, 40.0L, 80.0L, 160.0L};

void TimerTrampoline(void* context) { static_cast<TRK350*>(context)->TimerDispatch(); }
}  // namespace

void ResetRangeTables(TRK350& instrument) {
  instrument.SensitivityCount = 10;
  for (int r = 0; r <= 12; ++r) {
    instrument.Sensitivities[r] = kSensitivityTable[r];
    instrument.DcLevelLimits[r] = kDcLevelLimitTable[r];
  }
}

TRK350::TRK350(void* owner) : Owner(owner) {
  // The port-driver check decides once whether any register access reaches
  // the bus.
  PortAccessEnabled = hw::FlavourCheckPortDriver();

  MeasureTimer = std::make_unique<platform::PeriodicTimer>(kMeasureTimerIntervalMs, TimerTrampoline, this);
  MeasureTimer->SetEnabled(false);

  for (int ch = 1; ch <= 2; ++ch) ChannelData[ch] = AllocateZeroed<uint16_t>(kChannelBufferSamples);
  for (int ch = 1; ch <= 2; ++ch) InterleaveBuffer[ch] = AllocateZeroed<uint16_t>(kChannelBufferSamples);
  GenUserBuffer = AllocateZeroed<uint16_t>(kGenBufferWords);
  GenWaveBuffer = AllocateZeroed<uint16_t>(kGenBufferWords);
  FuncGenMemoryLength = 65536;
  for (int ch = 1; ch <= 2; ++ch) AverageBuffer[ch] = AllocateZeroed<float>(kAverageBufferFloats);  // all 0.0

  nCalculations = 1;
  nAverageNumber = 1;
  SettingsEventEnabled = false;
  nHardwareAddress = 648;

  ResolutionCount = 1;
  for (auto& r : Resolutions) r = 0;
  Resolutions[0] = 8;

  HardwarePresent = false;
  DeviceName = kDeviceNameRk350;
  InstrumentKind = kKindRk350;

  MaxSampleFrequency = 50000000.0L;
  MaxRecordLength = 65520;
  Resolution = 8;
  ChannelCount = 2;
  SquareWaveGenPresent = true;
  FuncGenMaxAmplitude = 10.0L;

  HasGeneratorBurst = false;
  HasGeneratorTriggerSource = false;
  AllowsTriggerModes5And6 = true;
  AllowsTriggerMode4 = true;
  HasExternalTrigger = true;
  HasAnalogExternalTrigger = false;
  HasPxiTrigger = false;
  HasGeneratorTrigger = false;
  HasLogicTrigger = true;
  HasXorTrigger = false;
  AllowsTriggerModes2And3 = true;
  TriggerLevelBits = 8;
  UseCallerAddress = true;
  DigitalInputsAvailable = 0;
  DigitalOutputsAvailable = 0;
  DcLevelAvailable = true;

  ResetRangeTables(*this);

  Interleaved = false;
  mMeasureMode = mCh12;
  ActiveChannels = 3;

  for (int ch = 1; ch <= 4; ++ch) {
    Coupling[ch] = 0;
    RangeIndex[ch] = 6;
    DcLevelLimit[ch] = DcLevelLimits[RangeIndex[ch]];  // follows the range from the start
    AutoRanging[ch] = true;
    SetChDcLevel(ch, 0.0L);
    TriggerMode[ch] = 0;
    TriggerLevel[ch] = 127;
    TriggerHysteresis[ch] = 10;
  }

  SetrSampleFreq(25000000.0L);

  lRecordLength = 512;
  lPreSamples = 256;
  lPostSamples = lRecordLength - lPreSamples;
  rTransSampleTime = 1.0L;

  SetrTrigTimeOut(1.0L);
  tsTriggerSource = tsCh1;

  bSlowIO = false;
  MeasurementBusy = false;
  SettingsDirty = true;
  GenWaveLength = 1024;

  StopMeasureTimer();
}

TRK350::~TRK350() {
  // Buffers and the timer are released by their owners; nothing touches the
  // card.
  MeasureTimer.reset();
}

void TRK350::NotifySettingsChanged(void* /*sender*/) {
  AppliedTriggerSource = tsTriggerSource;
  if (OnSettingsChanged.Assigned() && SettingsEventEnabled) OnSettingsChanged(this);
  SettingsDirty = true;
}

void TRK350::FireMeasurementReady() {
  if (OnMeasurementReady.Assigned()) OnMeasurementReady(this);
}

void TRK350::FireTriggered() {
  if (OnTriggered.Assigned()) OnTriggered(this);
}

void TRK350::TimerDispatch() {
  switch (amAcquisitionMode) {
    case amContinuous:
      EngineTick();
      break;
    case amHold:
      break;
    case amOneShot:
      EngineTick();
      if (OnSettingsChanged.Assigned()) OnSettingsChanged(this);
      break;
  }
}

bool TRK350::BindNotificationMessage(int kind, uint32_t messageId) {
  switch (kind) {
    case NotificationTransientUpdate:
      TransientUpdateMessage = messageId;
      return true;
    case NotificationTransientReady:
      TransientReadyMessage = messageId;
      return true;
    default:
      return false;
  }
}

void TRK350::StartMeasureTimer() {
  MeasureTimer->SetEnabled(true);
  EngineState = 0;
}

void TRK350::StopMeasureTimer() { MeasureTimer->SetEnabled(false); }

}  // namespace rk350
