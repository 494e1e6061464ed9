// Measurement exports: timer-driven (DoMeasure), block (ADC_*), synchronous
// (StartMeasurement, GetMeasurement*), measure mode and record geometry.
//
// Data exports copy or convert lRecordLength samples of ChannelData. They
// refuse null buffers and indexes outside the record, and never go beyond the
// channel buffers whatever the record settings.
#include <algorithm>

#include "library/library_state.h"

using namespace rk350;

namespace {

constexpr int32_t kStreamMode = tmStream;

bool KindOffersDataReady(uint8_t kind) { return kind == 18 || kind == 22 || kind == 23; }

// Samples a data export hands out: the record length, within the buffers.
int32_t RecordSamples() { return std::clamp<int32_t>(gInstrument->lRecordLength, 0, kChannelBufferSamples); }

bool IndexInRecord(int32_t index) { return index >= 0 && index < RecordSamples(); }

void RefreshVoltFactor(int channel) {
  gVoltFactor[channel] = static_cast<double>(gInstrument->GetChSensitivity(channel)) / 32768.0;
}

double ToVolts(uint16_t raw, int channel) { return (static_cast<int32_t>(raw) - 0x8000) * gVoltFactor[channel]; }

void CopyRaw(int channel, uint16_t* out) {
  const uint16_t* data = gInstrument->ChannelData[channel].get();
  std::copy(data, data + RecordSamples(), out);
}

void ConvertVolts(int channel, double* out) {
  const uint16_t* data = gInstrument->ChannelData[channel].get();
  const int32_t n = RecordSamples();
  for (int32_t i = 0; i < n; ++i) out[i] = ToVolts(data[i], channel);
}

// The first data call after a block start reads the record from the card.
bool FetchIfNeeded() {
  if (gDataFetched) return false;
  gInstrument->FetchBlockData();
  gDataFetched = true;
  return true;
}

}  // namespace

// ---- Timer-driven and block measurements ------------------------------------------

RK350_API(uint16_t) DoMeasure(int32_t mode) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  if (mode == 0) {
    gInstrument->SetbEnableMeasurements(false);
  } else {
    gInstrument->SetamAcquisitionMode(mode == -1 ? amContinuous : amOneShot);
    gInstrument->SetbEnableMeasurements(true);
  }
  return ResultOk;
}

RK350_API(uint16_t) ADC_Start(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  if (gInstrument->tmTransferMode == kStreamMode) {
    const int32_t n = RecordSamples();
    std::fill(gInstrument->ChannelData[1].get(), gInstrument->ChannelData[1].get() + n, kUnmeasuredSample);
    std::fill(gInstrument->ChannelData[2].get(), gInstrument->ChannelData[2].get() + n, kUnmeasuredSample);
    gDataFetched = true;
    DoMeasure(-1);
  } else {
    gInstrument->StartBlockMeasurement();
    gDataFetched = false;
  }
  return ResultOk;
}

RK350_API(uint16_t) ADC_Abort(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  if (gInstrument->tmTransferMode == kStreamMode) {
    DoMeasure(0);
  } else {
    gInstrument->AbortBlockMeasurement();
  }
  return ResultOk;
}

RK350_API(uint16_t) ADC_ForceTrig(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  gInstrument->ForceTrigger();
  return ResultOk;
}

RK350_API(uint16_t) ADC_Running(void) {
  if (!InstrumentPresent()) return 0;
  return gInstrument->IsBlockRunning() ? 1 : 0;
}

RK350_API(uint16_t) ADC_Triggered(void) {
  if (!InstrumentPresent()) return 0;
  return static_cast<uint16_t>(gInstrument->TriggerStatus());
}

RK350_API(uint16_t) ADC_Ready(void) {
  if (!InstrumentPresent()) return 0;
  return gInstrument->BlockRecordReady() ? 1 : 0;
}

// ---- Block data -------------------------------------------------------------------

RK350_API(uint16_t) ADC_GetDataCh(uint16_t channel, uint16_t* raw) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (raw == nullptr) return ResultInvalidValue;
  FetchIfNeeded();
  CopyRaw(channel, raw);
  return ResultOk;
}

RK350_API(uint16_t) ADC_GetDataVoltCh(uint16_t channel, double* volts) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (volts == nullptr) return ResultInvalidValue;
  if (FetchIfNeeded()) RefreshVoltFactor(channel);
  ConvertVolts(channel, volts);
  return ResultOk;
}

RK350_API(uint16_t) ADC_GetData(uint16_t* raw1, uint16_t* raw2) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (raw1 == nullptr || raw2 == nullptr) return ResultInvalidValue;
  FetchIfNeeded();
  CopyRaw(1, raw1);
  CopyRaw(2, raw2);
  return ResultOk;
}

RK350_API(uint16_t) ADC_GetDataVolt(double* volts1, double* volts2) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (volts1 == nullptr || volts2 == nullptr) return ResultInvalidValue;
  if (FetchIfNeeded()) {
    RefreshVoltFactor(1);
    RefreshVoltFactor(2);
  }
  ConvertVolts(1, volts1);
  ConvertVolts(2, volts2);
  return ResultOk;
}

// ---- Synchronous measurement -----------------------------------------------------

RK350_API(uint16_t) StartMeasurement(void) {
  if (const uint16_t r = CheckInstrumentInitialised(); r != ResultOk) return r;
  gInstrument->RunSynchronousMeasurement();
  gDataFetched = true;
  for (int ch = 1; ch <= 4; ++ch) RefreshVoltFactor(ch);
  // A card that stopped answering yields no record: say so.
  return gInstrument->SyncAbandoned ? ResultNoInstrument : ResultOk;
}

RK350_API(uint16_t) GetMeasurement(double* volts1, double* volts2) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (volts1 == nullptr || volts2 == nullptr) return ResultInvalidValue;
  RefreshVoltFactor(1);
  RefreshVoltFactor(2);
  ConvertVolts(1, volts1);
  ConvertVolts(2, volts2);
  return ResultOk;
}

RK350_API(uint16_t) GetOneMeasurement(int32_t index, double* volts1, double* volts2) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (volts1 == nullptr || volts2 == nullptr || !IndexInRecord(index)) return ResultInvalidValue;
  RefreshVoltFactor(1);
  RefreshVoltFactor(2);
  *volts1 = ToVolts(gInstrument->ChannelData[1][index], 1);
  *volts2 = ToVolts(gInstrument->ChannelData[2][index], 2);
  return ResultOk;
}

RK350_API(uint16_t) GetMeasurementRaw(uint16_t* raw1, uint16_t* raw2) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (raw1 == nullptr || raw2 == nullptr) return ResultInvalidValue;
  CopyRaw(1, raw1);
  CopyRaw(2, raw2);
  return ResultOk;
}

RK350_API(uint16_t) GetOneMeasurementRaw(int32_t index, uint16_t* raw1, uint16_t* raw2) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (raw1 == nullptr || raw2 == nullptr || !IndexInRecord(index)) return ResultInvalidValue;
  *raw1 = gInstrument->ChannelData[1][index];
  *raw2 = gInstrument->ChannelData[2][index];
  return ResultOk;
}

RK350_API(uint16_t) GetOneMeasurementRawCh(uint16_t channel, int32_t index, uint16_t* raw) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!ValidChannel(channel)) return ResultInvalidChannel;
  if (raw == nullptr || !IndexInRecord(index)) return ResultInvalidValue;
  *raw = gInstrument->ChannelData[channel][index];
  return ResultOk;
}

// ---- Facilities of other instruments ---------------------------------------------

RK350_API(uint16_t) SetDataReadyCallback(RK350DataReadyCallback callback) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!KindOffersDataReady(gInstrument->InstrumentKind)) return ResultNotAvailable;
  gInstrument->DataReadyCallback = reinterpret_cast<void*>(callback);
  return ResultOk;
}

RK350_API(uint16_t) SetDataReadyEvent(void* eventHandle) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (!KindOffersDataReady(gInstrument->InstrumentKind)) return ResultNotAvailable;
  gInstrument->DataReadyEvent = eventHandle;
  return ResultOk;
}

RK350_API(uint16_t) SetTransferMode(uint32_t mode) {
  if (gInstrument == nullptr) return ResultNoInstrument;
  if (!KindOffersDataReady(gInstrument->InstrumentKind)) return ResultNotAvailable;
  if (!gInstrument->HardwarePresent) return ResultNoInstrument;
  gInstrument->tmTransferMode = static_cast<TTransferMode>(mode & 0xFF);
  return ResultOk;
}

RK350_API(uint16_t) GetTransferMode(uint32_t* mode) {
  if (gInstrument == nullptr) return ResultNoInstrument;
  if (!KindOffersDataReady(gInstrument->InstrumentKind)) return ResultNotAvailable;
  if (!gInstrument->HardwarePresent) return ResultNoInstrument;
  if (mode != nullptr) *mode = gInstrument->tmTransferMode;
  return ResultOk;
}

// ---- Measure mode and record geometry --------------------------------------------

RK350_API(uint16_t) GetMeasureMode(uint8_t* mode) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (mode != nullptr) *mode = gInstrument->mMeasureMode;  // a null out-pointer is skipped
  return ResultOk;
}

RK350_API(uint16_t) SetMeasureMode(uint32_t mode) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  const auto m = static_cast<uint8_t>(mode & 0xFF);
  if ((m == 2 || m == 3) && gInstrument->ChannelCount < 2) return ResultNotAvailable;
  if (m >= 4 && m <= 15 && gInstrument->ChannelCount < 4) return ResultNotAvailable;
  if (m > 16) return ResultInvalidValue;
  gInstrument->SetmMeasureMode(static_cast<TMeasureMode>(m));
  return ResultOk;
}

RK350_API(int32_t) GetRecordLength(void) {
  if (!InstrumentPresent()) return 0;
  return gInstrument->lRecordLength;
}

RK350_API(uint16_t) SetRecordLength(uint32_t length) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (length > static_cast<uint32_t>(gInstrument->MaxRecordLength)) return ResultInvalidValue;
  gInstrument->SetlRecordLength(static_cast<int32_t>(length));
  return ResultOk;
}

RK350_API(int32_t) GetPostSamples(void) {
  if (!InstrumentPresent()) return 0;
  return gInstrument->lPostSamples;
}

RK350_API(uint16_t) SetPostSamples(uint32_t count) {
  if (const uint16_t r = CheckInstrument(); r != ResultOk) return r;
  if (gInstrument->lRecordLength < 0 || count > static_cast<uint32_t>(gInstrument->lRecordLength)) {
    return ResultInvalidValue;
  }
  gInstrument->SetlPostSamples(static_cast<int32_t>(count));
  return ResultOk;
}
