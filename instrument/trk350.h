// TRK350: the instrument component. One object models the card: every
// setting, the capabilities of the detected hardware, the calibration read
// from the card's EEPROM, the measurement buffers and the timer that drives
// acquisition. The library keeps exactly one (library/library_state.h).
//
// The class is declared here in one piece; its operations are implemented by
// area, one file each:
//   trk350_component.cpp   construction, notification, timer dispatch
//   eeprom_protocol.cpp, detection.cpp (the protocol and the identity reads
//     themselves: eeprom_protocol.h, card_identity.h)
//   front_end.cpp, front_end_serial.cpp, timebase.cpp, trigger_settings.cpp
//   engine.cpp, hardware_sequence.cpp, readout.cpp
//   generator*.cpp, square_wave.cpp
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "hardware/port_io.h"
#include "hardware/register_map.h"
#include "instrument/card_identity.h"
#include "instrument/zeroed_buffer.h"
#include "platform/platform.h"

namespace rk350 {

// The instrument computes in 80-bit extended precision; its comparisons with
// the 64-bit arguments of the exports depend on it.
static_assert(std::numeric_limits<long double>::digits == 64, "long double must be the x87 80-bit extended type");
using Extended = long double;

enum TMeasureMode : uint8_t {
  mNone,
  mCh1,
  mCh2,
  mCh12,
  mCh3,
  mCh13,
  mCh23,
  mCh123,
  mCh4,
  mCh14,
  mCh24,
  mCh124,
  mCh34,
  mCh134,
  mCh234,
  mCh1234,
  mXY
};
enum TAcquisitionMode : uint8_t { amContinuous, amHold, amOneShot };
enum TTransferMode : uint8_t { tmBlock, tmStream };
enum TTrigSource : uint8_t {
  tsCh1,
  tsCh2,
  tsCh3,
  tsCh4,
  tsExternal,
  tsAnaExt,
  tsAnd,
  tsOr,
  tsXor,
  tsNoTrig,
  tsNeverTrig,
  tsPxiExt,
  tsGenStart,
  tsGenStop,
  tsGenNew,
  tsUnknown
};
enum TGenSignalType : uint8_t { gsSine = 0, gsTriangle = 1, gsSquare = 2, gsDC = 3, gsNoise = 4, gsArbitrary = 7 };

class TRK350;
struct CrossingDetector;

// An event reference: code plus the object it is bound to. Assigned when the
// code is set; called with the instrument as its only argument.
struct TNotifyEvent {
  void (*code)(void* data, TRK350* sender) = nullptr;
  void* data = nullptr;
  bool Assigned() const { return code != nullptr; }
  void operator()(TRK350* sender) const { code(data, sender); }
};

// Buffer sizes, fixed at construction so that no acquisition path allocates.
constexpr int kChannelBufferSamples = 132001;
constexpr int kGenBufferWords = 65536;
constexpr int kAverageBufferFloats = 65521;

// The raw value of a record position the card did not sample (0 V): the
// readout fills such positions with it, as the classic data calls have it.
constexpr uint16_t kUnmeasuredSample = 0x8000;

// Clock mode (register 8) and clock select (register 5) last chosen by
// ProgramSampleClock; the readout ORs the memory-readout bit into the select.
extern uint8_t gClockMode;
extern uint8_t gClockSelect;

// Notification kinds of BindNotificationMessage.
constexpr int NotificationTransientUpdate = 4;
constexpr int NotificationTransientReady = 5;

// The class holds one area under each banner: its operations first, then the
// fields they keep. A field marked "nothing reads it" is kept as the
// component always had it; no operation of the library looks at it.
class TRK350 {
 public:
  explicit TRK350(void* owner);  // Create(owner)
  ~TRK350();                     // Destroy
  TRK350(const TRK350&) = delete;
  TRK350& operator=(const TRK350&) = delete;

  // ---- Component frame ----------------------------------------------------
  void NotifySettingsChanged(void* sender = nullptr);
  void FireMeasurementReady();
  void FireTriggered();
  void TimerDispatch();
  bool BindNotificationMessage(int kind, uint32_t messageId);
  std::string GetCursor() const { return "nvt"; }
  std::string GetHint() const { return "nvt"; }
  std::string GetTag() const { return "nvt"; }

  void* Owner = nullptr;
  bool SettingsEventEnabled = false;
  TNotifyEvent OnSettingsChanged;
  TNotifyEvent OnMeasurementReady;
  TNotifyEvent OnTriggered;
  TNotifyEvent OnTransientUpdate;  // nothing assigns or fires it
  // Notification message ids bound by BindNotificationMessage; nothing reads
  // them (the library posts its own message ids).
  uint32_t TransientUpdateMessage = 0;
  uint32_t TransientReadyMessage = 0;

  // ---- Port access --------------------------------------------------------
  void WriteRegister(uint8_t index, uint8_t value) {
    if (!PortAccessEnabled) return;
    const auto base = static_cast<uint16_t>(nHardwareAddress);
    hw::PortOut(base, index);
    hw::PortOut(static_cast<uint16_t>(base + 1), value);
  }
  uint8_t ReadPort(uint8_t offset) {
    if (!PortAccessEnabled) return 0;
    return hw::PortIn(static_cast<uint16_t>(static_cast<uint16_t>(nHardwareAddress) + offset));
  }

  bool PortAccessEnabled = false;  // the port-driver check passed at construction
  int32_t nHardwareAddress = 648;  // the card's I/O base address
  bool UseCallerAddress = true;    // InitInstrument takes the caller's address
  bool bSlowIO = false;            // nothing reads it

  // ---- Serial EEPROM ------------------------------------------------------
  void SetLines(bool data, bool clock);
  uint8_t SampleDataLine(bool clock);
  void StartCondition();
  void StopCondition();
  void StartAndAddress(bool read);
  void SendByte(uint8_t value);
  uint8_t ReceiveByte();
  uint8_t ReadByte(uint16_t address);
  uint16_t ReadWord(uint16_t address);
  int32_t ReadInteger(uint16_t address);

  uint8_t ControlRegisterShadow = 0;  // register 1 as last written; nothing reads it

  // ---- Detection, identity, calibration -----------------------------------
  bool DetectCard();
  bool InitHardware();
  void ReadCalibration();
  CalibrationDateTime ReadCalibrationDate();
  void ShutdownHardware();

  // Identity.
  bool HardwarePresent = false;
  uint8_t InstrumentKind = kKindRk350;
  std::string DeviceName = kDeviceNameRk350;  // nothing reads it
  int32_t SerialNumber = 0;
  std::string InternalText;  // nothing reads it

  // Capabilities of the detected card.
  int32_t MaxRecordLength = 65520;
  int32_t Resolution = 8;
  Extended MaxSampleFrequency = 50000000.0L;
  uint16_t ChannelCount = 2;
  bool InterleaveCapable = false;
  int32_t SensitivityCount = 10;
  Extended Sensitivities[13] = {};
  bool DcLevelAvailable = true;
  Extended DcLevelLimits[13] = {};
  bool SquareWaveGenPresent = true;
  bool FuncGenPresent = false;
  Extended FuncGenMaxAmplitude = 10.0L;
  bool HasGeneratorBurst = false;
  bool HasGeneratorTriggerSource = false;
  bool AllowsTriggerModes5And6 = true;
  bool AllowsTriggerMode4 = true;
  bool HasExternalTrigger = true;
  bool HasAnalogExternalTrigger = false;
  bool HasPxiTrigger = false;
  bool HasGeneratorTrigger = false;
  int16_t TriggerLevelBits = 8;
  int32_t DigitalInputsAvailable = 0;
  int32_t DigitalOutputsAvailable = 0;
  bool HasLogicTrigger = true;
  bool HasXorTrigger = false;
  bool AllowsTriggerModes2And3 = true;
  uint8_t InstrumentConfig = 0;

  // Calibration copies from the EEPROM, [channel 1..2][range 1..12].
  uint8_t OffsetTrim[3][13] = {};
  uint8_t InterleaveOffsetTrim[3][13] = {};
  uint16_t DcGain[3][13] = {};
  uint16_t DcZero[3][13] = {};
  uint16_t InterleaveDcZero[3][13] = {};
  uint16_t DcStep[3][13] = {};
  uint16_t DcScale[3][13] = {};
  // The generator's calibration.
  uint32_t GenCalUnused = 0;  // word 758: read and stored, nothing reads it
  uint32_t GenGainMid = 0;
  uint32_t GenGainLow = 0;
  int32_t GenAmpZero = 0;
  int32_t GenOffsetZeroHigh = 0;
  int32_t GenOffsetZeroMid = 0;
  int32_t GenOffsetZeroLow = 0;
  uint16_t GenAmpStepTable[7][16] = {};     // [row 0..6][entry 1..15]
  uint16_t GenOffsetStepTable[7][16] = {};  // [row 0..6][entry 1..15]

  // ---- Input front end ----------------------------------------------------
  void SetChSensitivity(int channel, Extended fullScale);
  Extended GetChSensitivity(int channel) const;
  void SetChCoupling(int channel, uint8_t code);
  uint8_t GetChCoupling(int channel) const;
  void SetChAutoRanging(int channel, bool flag);
  bool GetChAutoRanging(int channel) const;
  void SetChDcLevel(int channel, Extended volts);
  Extended GetChDcLevel(int channel) const;
  Extended GetAvailableSensitivity(int n) const;
  uint16_t GetAvailableResolution(int n) const;
  void SetResolutionBits(int bits);
  void ClampDcLevel(int channel);
  void ApplyFrontEnd();
  void ApplyChannelFrontEnd(int path);
  void ShiftDacWord(int path, uint16_t word);
  void ShiftFrontEndByte(uint8_t value, uint8_t strobe);
  void WriteTrimDacs(int path, int32_t g);
  void WriteOffsetDacs(int path, int32_t fine, int32_t coarse);
  void ComputeOffset(int source, int path, Extended volts, Extended zero);
  void ApplyOffset(int path);
  void ApplyTrim(int path);
  uint8_t RelayByte(int path) const;

  // Settings, [channel 1..4].
  uint16_t RangeIndex[5] = {0, 6, 6, 6, 6};
  Extended DcLevel[5] = {};
  Extended DcLevelLimit[5] = {};
  uint8_t Coupling[5] = {};
  bool AutoRanging[5] = {false, true, true, true, true};
  uint16_t ResolutionCount = 1;
  uint16_t Resolutions[10] = {8};

  // ---- Timebase and record ------------------------------------------------
  void SetrSampleFreq(Extended hertz);
  Extended GetrSampleFreq() const;
  void SetlRecordLength(int32_t samples);
  void SetlPostSamples(int32_t samples);
  void SetlPreSamples(int32_t samples);
  void SetrTransSampleTime(Extended seconds);

  Extended SampleFreqRequested = 0;
  Extended ClockFrequency = 0;  // the rate the sample clock was last programmed with
  bool bExternalClock = false;
  bool Interleaved = false;
  // A rate above one converter's top was asked for on an interleave-capable
  // card; it interleaves whenever the measure mode lets one input use both
  // converters.
  bool InterleaveWanted = false;
  int32_t lPreSamples = 256;
  int32_t lPostSamples = 256;
  int32_t lRecordLength = 512;
  Extended rTransSampleTime = 1.0L;

  // ---- Trigger settings ---------------------------------------------------
  void SettsTriggerSource(TTrigSource source);
  void SetChTriggerMode(int input, uint8_t mode);
  uint8_t GetChTriggerMode(int input) const;
  void SetChTriggerLevel(int channel, int32_t counts);
  int32_t GetChTriggerLevel(int channel) const;
  void SetChTriggerHys(int channel, int32_t counts);
  int32_t GetChTriggerHys(int channel) const;
  void SetrTrigTimeOut(Extended seconds);
  void SetrTrigDipTime(Extended seconds);
  Extended GetrTrigDipTime() const;
  static int32_t ClampInt(int32_t value, int32_t lowest, int32_t highest);
  // The channel whose comparator and status bit the trigger source watches:
  // 2 for CH2, 1 for every other source (channel 1's comparator values are
  // the ones the card's other paths use).
  int TriggerChannel() const;

  TTrigSource tsTriggerSource = tsCh1;
  // The source the settings were last applied with; the readout aligns by it.
  TTrigSource AppliedTriggerSource = tsCh1;
  uint8_t TriggerMode[5] = {};  // [0] external input, [1..4] channels
  int32_t TriggerLevel[5] = {0, 127, 127, 127, 127};
  int32_t TriggerHysteresis[5] = {0, 10, 10, 10, 10};
  Extended rTrigTimeOut = 0;
  int32_t TrigDipTimeMs = 0;
  uint8_t PxiTriggerSlopes = 0;
  uint8_t PxiTriggerEnables = 0;

  // ---- Measurement engine -------------------------------------------------
  void EngineTick();
  void SetbEnableMeasurements(bool enable);
  void SetamAcquisitionMode(TAcquisitionMode mode);
  void SetmMeasureMode(TMeasureMode mode);
  void RunSynchronousMeasurement();
  void StartBlockMeasurement();
  void FetchBlockData();
  bool IsBlockRunning() const { return BlockRunning; }
  void AbortBlockMeasurement();
  void ClampRangeIndex(int channel);
  void StartMeasureTimer();  // enables MeasureTimer and clears EngineState
  void StopMeasureTimer();
  void ApplyRangeStep(int channel);
  void UpdateFitWindows();
  void ArmFromEngine();
  void CompleteFromEngine();

  std::unique_ptr<platform::PeriodicTimer> MeasureTimer;
  uint32_t EngineTiming[2] = {0, 0};  // nothing reads it
  uint8_t EngineState = 0;            // cleared by StartMeasureTimer; nothing reads it
  bool MeasurementBusy = false;
  bool SettingsDirty = true;
  int32_t PollCount = 0;
  // A trigger was seen or forced since the synchronous measurement began.
  bool TriggerSeen = false;
  bool SyncDone = false;
  bool BlockRunning = false;
  // Settings.
  TMeasureMode mMeasureMode = mCh12;
  uint8_t ActiveChannels = 3;
  bool bEnableMeasurements = false;
  TAcquisitionMode amAcquisitionMode = amContinuous;
  TTransferMode tmTransferMode = tmBlock;
  int32_t nAverageNumber = 1;
  int32_t nCalculations = 1;
  void* DataReadyCallback = nullptr;  // stored by its export; nothing reads it
  void* DataReadyEvent = nullptr;     // stored by its export; nothing reads it
  // Automatic ranging: the range step of the last record, and the windows,
  // [channel 1..4] (raw 16-bit sample values).
  int32_t RangeDelta[3] = {};
  uint16_t FitHigh[5] = {0, 0xAC00, 0xAC00, 0xAC00, 0xAC00};
  uint16_t FitLow[5] = {0, 0x5400, 0x5400, 0x5400, 0x5400};
  uint16_t OverloadHigh[5] = {0, 0xFD00, 0xFD00, 0xFD00, 0xFD00};
  uint16_t OverloadLow[5] = {0, 0x0300, 0x0300, 0x0300, 0x0300};

  // ---- Measurement hardware sequence --------------------------------------
  void ArmMeasurement();
  void ProgramSampleClock(Extended& hertz);
  void LoadPostTriggerCounter(uint16_t count);
  void ComputeTriggerComparators();
  void ProgramTrigger();
  uint32_t TriggerStatus();
  bool RecordComplete();
  uint16_t ReadMemoryAddress();
  void ForceTrigger();
  void AdvanceMemoryAddress(uint16_t count);

  int32_t ComparatorValues[4][4] = {};  // [trigger channel 1..3][A, B, 0, 0]
  uint8_t TriggerShadow[6] = {};        // registers 10, 9, 15, 16, 25, 24
  // Last byte read from the status port (0xFF: the card does not answer).
  uint8_t LastStatus = 0;
  // True when the last synchronous measurement was given up because the
  // card stopped answering.
  bool SyncAbandoned = false;

  // ---- Readout ------------------------------------------------------------
  // Pre-trigger, post-trigger and total samples of the record being read.
  struct RecordGeometry {
    int32_t pre = 0, post = 0, length = 0;
  };
  // A run of record positions, first and count.
  struct Span {
    int32_t first = 0, count = 0;
  };
  // A finished record: located in the memory, read by measure mode, averaged,
  // and the range steps it asks for.
  void ReadMeasurement();
  bool ReadCardRecord(bool read[3]);  // false: a software run without a crossing
  // Where the record lies in the memory: its start address and the samples
  // it has there; answering is false when the status read as an empty bus.
  struct RecordPlace {
    int32_t start = 0, count = 0;
    bool answering = true;
  };
  RecordPlace LocateRecord(int32_t length);
  void ReadByMeasureMode(const RecordPlace& place, bool read[3], Span spans[3]);
  Span ReadChannelWithRetries(int channel, const RecordPlace& place, uint16_t* buffer, int attempts);
  void AverageMeasuredChannels();
  void RequestRangeSteps(const bool read[3]);
  void ReadChannelRecord(int channel, int32_t start, int32_t count, uint16_t* buffer);
  void MergeInterleaved();
  void AverageRecord(int channel);

  // Overload and fit flags of the last ReadChannelRecord, [channel 1..2].
  bool OverloadFlag[3] = {};
  bool FitFlag[3] = {};
  // What the memory holds while a record is read: the address counter at the
  // end of the acquisition and whether the memory wrapped around.
  int32_t MemoryEnd = 0;
  bool MemoryWrapped = false;
  // Record buffers, [channel 1..2], allocated once at construction.
  ZeroedBuffer<uint16_t> ChannelData[3];
  ZeroedBuffer<uint16_t> InterleaveBuffer[3];
  ZeroedBuffer<float> AverageBuffer[3];

  // ---- What a record holds ------------------------------------------------
  RecordGeometry ReadoutGeometry() const;  // of what each converter read
  RecordGeometry MergedGeometry() const;   // of the record the merge makes
  Span MergedSpan(Span first, Span second) const;
  bool OverrangeWithin(int channel, Span span) const;
  void BlankUnheld(int channel, int32_t length);

  // Positions of the last record read that hold samples the card took, and
  // whether one of those samples lies beyond the overload thresholds,
  // [channel 1..2]; a channel that was not read holds none.
  Span Held[3];
  bool HeldOverrange[3] = {};
  // The same for the buffer the last ReadChannelRecord filled.
  Span ReadSpan;
  // Of the running mean: positions every record in it held, and whether any
  // of them overranged.
  Span AverageSpan[3];
  bool AverageOverrange[3] = {};

  // ---- Software trigger ---------------------------------------------------
  // Complete records from a free-running acquisition: the library finds the
  // trigger condition in the samples instead of the card (software_trigger.cpp).
  void PlanSoftwareRun();
  bool SoftwareSearchable() const;
  bool ReadsChannel(int channel) const;  // the measure mode reads the channel
  void PlaceSoftwareRecord();
  int64_t FindSoftwareTrigger(const uint16_t* data, Span held, int32_t pre, int32_t post);
  bool BlockRecordReady();

  // The card waits for its trigger and the library searches the memory it
  // held (card_wait_record.cpp).
  bool ReadCardWaitRecord();
  void FinishCardWaitRecord(int trigger);
  // At 100 MHz: the record from the merged converters (card_wait_merged.cpp).
  bool ReadMergedWaitRecord(int64_t held);
  // Learns the spacing of consecutive crossings seen in data[from, to).
  bool LearnSpacingWithin(const CrossingDetector& like, const uint16_t* data, int64_t from, int64_t to);
  // Reads merged positions [lo, hi) of the run into channel 1's buffer,
  // each converter's samples in one readout.
  void ReadMergedPositions(int64_t held, int64_t lo, int64_t hi);
  template <typename Take>
  void ReadBack(int channel, int64_t back, int64_t count, Take&& take);
  int64_t SearchWindow() const;
  // Where the search of a run whose card trigger came too early starts
  // reading (positions from the oldest sample held).
  int64_t SearchStart(CrossingDetector& detector, int64_t cardTrigger, int64_t pre) const;
  // Samples from the card's comparator trigger to the end of its run beyond
  // the post-trigger count (the trigger path's delay and the readout's lag).
  int32_t CardTriggerLag() const;
  bool LearnCrossingSpacing(int64_t spacing);  // false: nothing learned
  void KeepWindowThatFound();
  // What a crossing spacing is a spacing of: the trigger channel, its edge,
  // level and hysteresis, and the sample rate. A spacing sizes the window
  // only under the setting it was seen in; a level mode has none (it fires
  // on every sample beyond the level).
  struct CrossingSetting {
    int channel = 0;
    uint8_t mode = 0xFF;
    int32_t level = 0, hysteresis = 0;
    Extended rate = 0;
    bool operator==(const CrossingSetting&) const = default;
  };
  CrossingSetting CurrentCrossingSetting() const;
  bool CrossingSettingHasSpacing() const;  // an edge mode
  bool CrossingSpacingKnown() const;       // for the current setting

  bool SoftwareTriggerEnabled = false;
  bool SoftwareRun = false;         // the armed acquisition is one of the software trigger's
  bool SoftwareSearching = false;   // ... and looks for the trigger condition
  bool SoftwareWaits = false;       // ... with the card's comparator armed (else running free)
  RecordGeometry SoftwareGeometry;  // of that acquisition (of each converter at 100 MHz)
  int32_t SoftwareLength = 0;       // samples of that acquisition's record (merged at 100 MHz)
  void SetFreeSoftwareRun(int32_t length);
  int32_t SoftwareAttempt = 0;      // runs without a crossing since the last record
  bool SoftwareForced = false;      // take the next record even without a crossing
  bool SoftwareMissed = false;      // the last record read held no crossing
  bool SoftwareRecordHeld = false;  // a block record was read and placed by ADC_Ready
  // Spacing of the signal's crossings seen in the last records (samples; 0
  // unknown) and the setting it was seen under: it sizes the search window.
  int64_t CrossingSpacing = 0;
  CrossingSetting CrossingSpacingSetting;

  // ---- How the record was taken -------------------------------------------
  // The RK350_RECORD_* code of the record last read (0: none yet), and how
  // the armed acquisition was forced, if it was: by the trigger time-out or
  // by a call, while the card still waited for its trigger.
  uint32_t RecordTrigger = 0;
  bool ForcedWhileWaiting = false;
  bool ForcedByTimeOut = false;
  uint32_t TriggerOfCardRecord() const;
  uint32_t ForcedRecord() const;  // the forced code: by time-out or by a call
  // Longest card time of the armed acquisition after its trigger (or its
  // forcing) until the record is complete, in seconds.
  Extended ArmedRunSeconds() const;

  // ---- Function generator -------------------------------------------------
  void SetGenFrequency(Extended hertz);
  void SetGenAmplitude(Extended volts);
  void SetGenOption(uint8_t option);
  void SetGenSignalType(uint8_t type);
  void SetGenDCOffset(Extended volts);
  void SetGenSymmetry(Extended symmetry);
  void SetGenOutputOn(bool on);
  void LoadGenUserWaveform(const uint16_t* samples, uint32_t count);
  void ApplyGenerator();
  void ProgramGenLevels(Extended amplitude, Extended offset);
  void WriteGenAmplitudeDacs(int32_t fine, int32_t coarse, uint8_t range);
  void WriteGenOffsetDacs(int32_t fine, int32_t coarse, uint8_t range);
  void ShiftGenDac(uint16_t word, uint8_t range);
  static void ComputeGenWaveform(uint16_t* buffer, int n, uint8_t type, Extended symmetry, int centre, int halfSwing);
  void LoadGenMemory(const uint16_t* samples, int32_t count);
  void ProgramGenClock(Extended& hertz);
  // The frequency as the card runs it: the short memory's phase increment
  // is an integer, the long memory plays at one of the fixed clocks.
  Extended GenRunFrequency() const;

  Extended GenFrequency = 0;
  Extended GenAmplitude = 0;
  uint8_t GenOption = 0;
  uint8_t GenSignalType = gsSine;
  Extended GenDCOffset = 0;
  Extended GenSymmetry = 0;
  bool GenOutputOn = false;
  bool GenEnable = false;
  int64_t GenBurstCount = 0;  // stored by FuncGenBurst; nothing reads it
  bool GenTrigExternal = false;
  int32_t FuncGenMemoryLength = 65536;
  int32_t GenWaveLength = 1024;
  // Waveform buffers, allocated once at construction.
  ZeroedBuffer<uint16_t> GenUserBuffer;
  ZeroedBuffer<uint16_t> GenWaveBuffer;

  // ---- Square wave generator ----------------------------------------------
  void SetSquareWave(Extended hertz);
};

// Resets the range table to the constructor's values (construction and
// hardware initialisation).
void ResetRangeTables(TRK350& instrument);

}  // namespace rk350
