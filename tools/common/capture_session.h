// One capture session: the library loaded, the instrument initialised and set
// up from the options, measurements run and read out as records.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "card_settings.h"
#include "library_api.h"
#include "record.h"

namespace rk350::capture {

// A library call that answered with a result code other than ResultOk.
class LibraryError : public std::runtime_error {
 public:
  LibraryError(const std::string& what, unsigned code) : std::runtime_error(what), code_(code) {}
  unsigned Code() const { return code_; }

 private:
  unsigned code_;
};

// A command line that the card cannot carry out (found once the card
// answered, e.g. a --time that needs more samples than a record holds).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Set from a signal handler to stop waiting.
extern std::atomic<bool> gInterrupted;

// Which card: the library's flavour and the card's port address.
struct CardPort {
  bool hardware = false;  // the real card, not the virtual one
  std::uint16_t address = 0x288;
};

// How the tool reads records out; none of it reaches the card.
struct Readout {
  bool raw = false;    // the converters' codes besides the volts
  bool quiet = false;  // no progress display
  int count = 0;       // continuous: records to take (0 = until interrupted)
};

class CaptureSession {
 public:
  CaptureSession(const LoadedLibrary& library, CardPort port);
  ~CaptureSession();  // ExitInstrument

  // InitInstrument and every one of the settings.
  void Open(const CardSettings& settings);
  // Every one of the settings, on an initialised instrument; the session
  // keeps them as the settings in force.
  void Configure(const CardSettings& settings);
  // InitInstrument alone (for --show).
  void Initialise();
  const CardSettings& Settings() const { return settings_; }
  std::string IdentityLine() const;  // card, serial, calibration, library
  std::string Describe() const;      // identity and settings in one paragraph
  // What a file says about the record it holds: card, library, date, rate,
  // record geometry, channels with their ranges, trigger, what the values are.
  std::vector<std::string> FileNotes(const Record& record) const;
  // How the library took the record last read: its code and words.
  void NoteHowTaken(Record& record) const;
  static std::string HowTakenInWords(uint32_t how);
  // Why the card's own trigger takes records of this capture, and the remedy.
  std::string CardTriggerReason(int64_t length, int64_t pre) const;
  // The longest record the library's trigger search serves (the record and a
  // 64-sample window in the card's memory).
  static constexpr int64_t kLongestSearchedRecord = 65456;

  // One record (averaged when asked) by block measurement, with progress.
  Record CaptureBlock(const Readout& readout);
  // The timer-driven engine: counts the records it finishes and calls `show`
  // with the newest one and the count, at most four times a second, until
  // the readout's count of records (0: until interrupted).
  void RunContinuous(const Readout& readout, const std::function<void(const Record&, int)>& show);
  // The engine's run as every continuous loop drives it: StartEngine() arms
  // the first run (DoMeasure(-1)); PollEngine() runs the engine's timer on
  // this thread, forces a run whose trigger time-out passed and says whether
  // a record was finished (read it before the next poll); StopEngine() ends
  // the run (DoMeasure(0)).
  void StartEngine();
  bool PollEngine();
  void StopEngine();
  // The engine's newest record (GetMeasurement), NaN where no sample was
  // taken; `raw` adds the converters' codes.
  Record ReadEngineRecord(bool raw);
  // The trigger time-out in wall time, in every mode: the library counts its
  // own in engine ticks, so the session gives it none and forces the record
  // from here. Armed() marks a run's start (the engine arms the next run as
  // a record is handed over); ForceWhenTimedOut(), called while waiting,
  // forces the run once no trigger came within the pre-trigger time and the
  // time-out, and says whether it did.
  void Armed();
  bool ForceWhenTimedOut();
  double SampleRate() const { return sampleRate_; }
  // The generator's frequency as the card runs it (the library keeps it
  // within what the card reaches); 0 when the session did not set it.
  double GeneratorFrequency() const { return generatorFrequency_; }
  // The frequency the virtual card's generator runs at (nothing on a real
  // card, or while the output is off).
  std::optional<double> RunningGeneratorFrequency() const;
  int MeasureMode() const { return measureMode_; }

 private:
  void Check(unsigned result, const std::string& call) const;
  void ApplyChannels();
  void ApplyTimebase();
  void ApplyTrigger();
  void ApplyGenerator();
  void ApplyWaveform(const tools::ArbitraryWaveform& waveform);
  void NoteRunningFrequency();  // on the virtual card: what the generator really runs at
  void ApplySources();
  Record EmptyRecord() const;
  void WaitForRecord(bool quiet);
  // Volts of the block record, NaN where the library says no sample was
  // taken; the codes too when `raw`.
  void FetchInto(Record& record, bool raw);
  void MarkHeldSamples(ChannelTrace& trace, uint16_t channel) const;
  double RangeAtLeast(double fullScale) const;

  const LoadedLibrary& library_;
  const LibraryApi& api_;
  const CardPort port_;
  CardSettings settings_;  // in force since the last Configure
  bool open_ = false;
  double sampleRate_ = 0.0;
  double generatorFrequency_ = 0.0;
  std::string generatorNote_;
  std::string triggerNote_;
  std::string modeNote_;
  std::string roundingNote_;
  int measureMode_ = RK350_MODE_CH12;
  std::chrono::steady_clock::time_point armedAt_{};
  bool forcedThisRun_ = false;
};

}  // namespace rk350::capture
