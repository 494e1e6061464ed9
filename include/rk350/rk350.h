/*
 * RK350 ISA driver library: the exported interface.
 *
 * Every function is exported by its plain name. On 32-bit Windows they use the
 * standard calling convention (callee cleans the stack); elsewhere the
 * platform's C convention. Unless stated otherwise a function returns one of
 * the 16-bit result codes below. Arguments narrower than 32 bits travel in
 * 32-bit slots; only their low part is used.
 *
 * All functions must be called from the thread that called InitInstrument,
 * and that thread must process its messages (see rk350_ext.h on POSIX).
 *
 * One export per line, in the form RK350_API(type) Name(arguments); the
 * export-table tests read this file.
 */
#ifndef RK350_RK350_H
#define RK350_RK350_H

#include <stdint.h>

#if defined(_WIN32)
#define RK350_CALL __stdcall
#if defined(RK350_BUILDING_LIBRARY)
#define RK350_DECLSPEC __declspec(dllexport)
#else
#define RK350_DECLSPEC
#endif
#else
#define RK350_CALL
#if defined(RK350_BUILDING_LIBRARY)
#define RK350_DECLSPEC __attribute__((visibility("default")))
#else
#define RK350_DECLSPEC
#endif
#endif

#ifdef __cplusplus
#define RK350_EXTERN extern "C"
#else
#define RK350_EXTERN extern
#endif

#define RK350_API(type) RK350_EXTERN RK350_DECLSPEC type RK350_CALL

/* Result codes: distinct bits, so a caller may test them as flags. */
#define RK350_RESULT_OK 0u
#define RK350_RESULT_NO_INSTRUMENT 1u
#define RK350_RESULT_NOT_INITIALISED 2u
#define RK350_RESULT_NOT_AVAILABLE 4u
#define RK350_RESULT_NO_GENERATOR 8u
#define RK350_RESULT_INVALID_CHANNEL 16u
#define RK350_RESULT_INVALID_VALUE 32u

/* Trigger sources (SetTriggerSource / GetTriggerSource). */
#define RK350_TS_CH1 0
#define RK350_TS_CH2 1
#define RK350_TS_EXTERNAL 4
#define RK350_TS_AND 6
#define RK350_TS_OR 7
#define RK350_TS_XOR 8
#define RK350_TS_NO_TRIG 9

/* Input couplings (SetCoupling / GetCoupling). */
#define RK350_COUPLING_DC 0
#define RK350_COUPLING_AC 1

/* Trigger modes on the channels (SetTriggerMode): through the level upwards
 * or downwards, with the hysteresis band on the side the signal comes from;
 * modes 2 to 6 are the card's comparator variants and digital conditions. */
#define RK350_TRIGGER_RISING 0
#define RK350_TRIGGER_FALLING 1

/* Generator signal types (SetFuncGenSignalType). */
#define RK350_GEN_SINE 0
#define RK350_GEN_TRIANGLE 1
#define RK350_GEN_SQUARE 2
#define RK350_GEN_DC 3
#define RK350_GEN_NOISE 4
#define RK350_GEN_ARBITRARY 5

/* Measure modes (SetMeasureMode). */
#define RK350_MODE_CH1 1
#define RK350_MODE_CH2 2
#define RK350_MODE_CH12 3
#define RK350_MODE_XY 16

typedef void(RK350_CALL *RK350DataReadyCallback)(void);

/* ---- Lifecycle ---------------------------------------------------------- */
RK350_API(uint16_t) InitInstrument(uint16_t address);
RK350_API(uint16_t) ExitInstrument(void);

/* ---- Identity and capabilities ------------------------------------------ */
RK350_API(uint16_t) GetCalibrationDate(uint32_t *date);
RK350_API(uint16_t) GetSerialNumber(int32_t *serial);
RK350_API(uint16_t) GetNrChannels(uint16_t *channels);
RK350_API(double) GetMaxSampleFrequencyF(void);
RK350_API(int32_t) GetMaxSampleFrequency(void);
RK350_API(int32_t) GetMaxRecordLength(void);
RK350_API(uint32_t) GetDCLevelStatus(void);
RK350_API(uint16_t) GetSquareWaveGenStatus(void);
RK350_API(uint16_t) GetFunctionGenStatus(void);
RK350_API(uint16_t) GetFuncGenMaxAmplitude(double *amplitude);

/* ---- Inputs ------------------------------------------------------------- */
RK350_API(uint16_t) GetAvailableSensitivities(double *sensitivities20);
RK350_API(uint16_t) GetAvailableResolutions(double *resolutions20);
RK350_API(uint16_t) GetSensitivity(uint8_t channel, double *fullScale);
RK350_API(uint16_t) SetSensitivity(uint8_t channel, double *fullScale);
RK350_API(uint16_t) GetAutoRanging(uint8_t channel, uint8_t *flag);
RK350_API(uint16_t) SetAutoRanging(uint8_t channel, uint8_t flag);
RK350_API(uint16_t) GetCoupling(uint8_t channel, uint8_t *coupling);
RK350_API(uint16_t) SetCoupling(uint8_t channel, uint8_t coupling);
RK350_API(uint16_t) GetDcLevel(uint8_t channel, double *volts);
RK350_API(uint16_t) SetDcLevel(uint8_t channel, double volts);
RK350_API(uint16_t) GetResolution(uint8_t *bits);
RK350_API(uint16_t) SetResolution(uint8_t bits);

/* ---- Timebase ----------------------------------------------------------- */
RK350_API(double) GetSampleFrequencyF(void);
RK350_API(uint16_t) SetSampleFrequencyF(double *hertz);
RK350_API(uint32_t) GetSampleFrequency(void);
RK350_API(uint16_t) SetSampleFrequency(uint32_t *hertz);
RK350_API(uint16_t) GetExternalClock(uint16_t *flag);
RK350_API(uint16_t) SetExternalClock(uint16_t flag);
RK350_API(uint16_t) GetInstrumentConfig(uint16_t *config);
RK350_API(uint16_t) SetInstrumentConfig(uint16_t config);

/* ---- Trigger ------------------------------------------------------------ */
RK350_API(uint16_t) GetTriggerSource(uint8_t *source);
RK350_API(uint16_t) SetTriggerSource(uint8_t source);
RK350_API(uint16_t) GetTriggerMode(uint8_t *mode);
RK350_API(uint16_t) SetTriggerMode(uint8_t mode);
RK350_API(uint16_t) GetTriggerModeCh(uint8_t input, uint8_t *mode);
RK350_API(uint16_t) SetTriggerModeCh(uint8_t input, uint8_t mode);
RK350_API(uint16_t) GetTriggerLevel(uint8_t channel, double *volts);
RK350_API(uint16_t) SetTriggerLevel(uint8_t channel, double volts);
RK350_API(uint16_t) GetTriggerHys(uint8_t channel, double *volts);
RK350_API(uint16_t) SetTriggerHys(uint8_t channel, double volts);
RK350_API(uint16_t) GetPXITriggerSlopes(uint8_t *mask);
RK350_API(uint16_t) SetPXITriggerSlopes(uint8_t mask);
RK350_API(uint16_t) GetPXITriggerEnables(uint8_t *mask);
RK350_API(uint16_t) SetPXITriggerEnables(uint8_t mask);
RK350_API(int32_t) GetTriggerTimeOut(void);
RK350_API(uint16_t) SetTriggerTimeOut(uint32_t milliseconds);

/* ---- Measurement -------------------------------------------------------- */
RK350_API(uint16_t) DoMeasure(int32_t mode);
RK350_API(uint16_t) ADC_Start(void);
RK350_API(uint16_t) ADC_Abort(void);
RK350_API(uint16_t) ADC_ForceTrig(void);
RK350_API(uint16_t) ADC_Running(void);
RK350_API(uint16_t) ADC_Triggered(void);
RK350_API(uint16_t) ADC_Ready(void);
RK350_API(uint16_t) ADC_GetDataCh(uint16_t channel, uint16_t *raw);
RK350_API(uint16_t) ADC_GetDataVoltCh(uint16_t channel, double *volts);
RK350_API(uint16_t) ADC_GetData(uint16_t *raw1, uint16_t *raw2);
RK350_API(uint16_t) ADC_GetDataVolt(double *volts1, double *volts2);
RK350_API(uint16_t) StartMeasurement(void);
RK350_API(uint16_t) GetMeasurement(double *volts1, double *volts2);
RK350_API(uint16_t) GetOneMeasurement(int32_t index, double *volts1, double *volts2);
RK350_API(uint16_t) GetMeasurementRaw(uint16_t *raw1, uint16_t *raw2);
RK350_API(uint16_t) GetOneMeasurementRaw(int32_t index, uint16_t *raw1, uint16_t *raw2);
RK350_API(uint16_t) GetOneMeasurementRawCh(uint16_t channel, int32_t index, uint16_t *raw);
RK350_API(uint16_t) SetDataReadyCallback(RK350DataReadyCallback callback);
RK350_API(uint16_t) SetDataReadyEvent(void *eventHandle);
RK350_API(uint16_t) SetTransferMode(uint32_t mode);
RK350_API(uint16_t) GetTransferMode(uint32_t *mode);
RK350_API(uint16_t) GetMeasureMode(uint8_t *mode);
RK350_API(uint16_t) SetMeasureMode(uint32_t mode);
RK350_API(int32_t) GetRecordLength(void);
RK350_API(uint16_t) SetRecordLength(uint32_t length);
RK350_API(int32_t) GetPostSamples(void);
RK350_API(uint16_t) SetPostSamples(uint32_t count);

/* ---- Function generator ------------------------------------------------- */
RK350_API(uint16_t) SetFuncGenSignalType(uint16_t signalType);
RK350_API(uint16_t) GetFuncGenSignalType(uint16_t *signalType);
RK350_API(uint16_t) SetFuncGenAmplitude(double volts);
RK350_API(uint16_t) GetFuncGenAmplitude(double *volts);
RK350_API(uint16_t) SetFuncGenAmplitudeRange(uint32_t ignored);
RK350_API(uint16_t) GetFuncGenAmplitudeRange(uint32_t ignored);
RK350_API(uint16_t) SetFuncGenDCOffset(double volts);
RK350_API(uint16_t) GetFuncGenDCOffset(double *volts);
RK350_API(uint16_t) SetFuncGenSymmetry(double percent);
RK350_API(uint16_t) GetFuncGenSymmetry(double *percent);
RK350_API(uint16_t) SetFuncGenFrequency(double *hertz);
RK350_API(uint16_t) GetFuncGenFrequency(double *hertz);
RK350_API(uint16_t) SetFuncGenTrigSource(uint8_t source);
RK350_API(uint16_t) GetFuncGenTrigSource(uint8_t *source);
RK350_API(uint16_t) FillFuncGenMemory(uint32_t count, const uint16_t *samples);
RK350_API(uint16_t) SetFuncGenOutputOn(uint16_t on);
RK350_API(uint16_t) GetFuncGenOutputOn(uint16_t *on);
RK350_API(uint16_t) SetFuncGenEnable(uint16_t enable);
RK350_API(uint16_t) GetFuncGenEnable(uint16_t *enable);
RK350_API(uint16_t) FuncGenBurst(uint16_t count);
RK350_API(uint16_t) SetFuncGenMode(uint32_t ignored);
RK350_API(uint16_t) GetFuncGenMode(uint32_t ignored);

/* ---- Square wave generator ---------------------------------------------- */
RK350_API(uint16_t) SetSquareWaveGenFrequency(uint32_t *hertz);
RK350_API(uint32_t) GetSquareWaveGenFrequency(void);

/* ---- Digital I/O and auxiliary functions (absent on this card) ---------- */
RK350_API(uint16_t) GetDigitalInputValues(uint16_t *values);
RK350_API(uint16_t) GetOneDigitalValue(uint32_t input, uint16_t *value);
RK350_API(uint16_t) SetDigitalOutputs(uint32_t outputs);
RK350_API(uint16_t) GetDigitalOutputs(uint32_t *outputs);
RK350_API(uint16_t) SetupOhmMeasurements(uint32_t ignored);
RK350_API(uint16_t) GetOhmValues(void *ignored1, void *ignored2);
RK350_API(uint16_t) I2CWrite(uint32_t address, void *buffer, uint32_t length);
RK350_API(uint16_t) I2CWriteNoStop(uint32_t address, void *buffer, uint32_t length);
RK350_API(uint16_t) I2CRead(uint32_t address, void *buffer, uint32_t length);
RK350_API(uint16_t) I2CReadNoStop(uint32_t address, void *buffer, uint32_t length);
RK350_API(uint16_t) I2CGetSpeed(uint32_t *speed);
RK350_API(uint16_t) I2CSetSpeed(uint32_t speed);
RK350_API(uint16_t) GetActiveQV5(uint32_t ignored);
RK350_API(uint16_t) SetActiveQV5(uint32_t ignored);
RK350_API(uint16_t) SetDAC1451(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
RK350_API(uint16_t) SetMotorOn(uint32_t a, uint32_t b);

#endif /* RK350_RK350_H */
