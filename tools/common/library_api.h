// The driver library loaded at run time, so one tool serves both flavours:
// a table of the exports the tool calls, looked up by their plain names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rk350/rk350_ext.h"

namespace rk350::capture {

// Exports every flavour has.
// clang-format off
#define RK350_CAPTURE_REQUIRED(X) \
  X(InitInstrument) \
  X(ExitInstrument) \
  X(GetSerialNumber) \
  X(GetCalibrationDate) \
  X(GetFunctionGenStatus) \
  X(GetMaxSampleFrequencyF) \
  X(GetMaxRecordLength) \
  X(GetNrChannels) \
  X(GetAvailableSensitivities) \
  X(GetFuncGenMaxAmplitude) \
  X(GetSensitivity) \
  X(SetSensitivity) \
  X(SetAutoRanging) \
  X(SetCoupling) \
  X(SetDcLevel) \
  X(GetSampleFrequencyF) \
  X(SetSampleFrequencyF) \
  X(SetMeasureMode) \
  X(SetRecordLength) \
  X(GetRecordLength) \
  X(SetPostSamples) \
  X(GetPostSamples) \
  X(SetTriggerSource) \
  X(SetTriggerMode) \
  X(SetTriggerModeCh) \
  X(SetTriggerLevel) \
  X(GetTriggerLevel) \
  X(SetTriggerHys) \
  X(SetTriggerTimeOut) \
  X(DoMeasure) \
  X(ADC_Start) \
  X(ADC_Ready) \
  X(ADC_Triggered) \
  X(ADC_ForceTrig) \
  X(ADC_Abort) \
  X(ADC_GetDataVoltCh) \
  X(ADC_GetDataCh) \
  X(GetMeasurement) \
  X(GetMeasurementRaw) \
  X(SetFuncGenSignalType) \
  X(SetFuncGenFrequency) \
  X(SetFuncGenAmplitude) \
  X(SetFuncGenDCOffset) \
  X(SetFuncGenSymmetry) \
  X(SetFuncGenOutputOn) \
  X(FillFuncGenMemory) \
  X(RK350_ProcessMessages) \
  X(RK350_ResultName) \
  X(RK350_ResultText) \
  X(RK350_Version) \
  X(RK350_TakeMeasurementReady) \
  X(RK350_GetValidRange) \
  X(RK350_GetOverrange) \
  X(RK350_SetSoftwareTrigger) \
  X(RK350_GetRecordTrigger) \
  X(RK350_GetArmedRunTime)
// clang-format on

struct LibraryApi {
#define RK350_CAPTURE_MEMBER(name) decltype(&::name) name = nullptr;
  RK350_CAPTURE_REQUIRED(RK350_CAPTURE_MEMBER)
#undef RK350_CAPTURE_MEMBER
};

class LoadedLibrary {
 public:
  // Loads `file` and looks up every export; on failure returns null and
  // says why in `error`.
  static std::unique_ptr<LoadedLibrary> Open(const std::string& file, std::string& error);
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  const LibraryApi& Api() const { return api_; }
  const std::string& File() const { return file_; }
  // Looks up an export the flavour may lack (the virtual card's controls).
  void* Find(const char* name) const;

 private:
  LoadedLibrary() = default;
  void* handle_ = nullptr;
  std::string file_;
  LibraryApi api_;
};

// The files to try, in order, for a flavour: next to the program, in ../lib
// beside it, then the bare name for the system's search.
std::vector<std::string> LibraryCandidates(bool hardware, const std::string& programDirectory);
// Where a library shipped with the tools lies: next to the program (the
// build tree), then in the installed library directory beside it.
std::vector<std::string> BesideProgram(const std::string& name, const std::string& programDirectory);
std::string ProgramDirectory();
// The library of a flavour: `file` when given, else the file RK350_LIBRARY
// names, else the first of the candidates that loads. On failure returns
// null with one line per file tried in `errors`.
std::unique_ptr<LoadedLibrary> LoadFlavour(bool hardware, const std::string& file, std::string& errors);

}  // namespace rk350::capture
