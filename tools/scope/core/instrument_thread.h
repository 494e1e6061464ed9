// The one thread that owns the instrument: it initialises the card, runs the
// library's continuous mode and pumps its messages, applies settings and
// publishes each new record. Other threads only queue settings for it and
// read what it published.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture_session.h"
#include "core/control_lock.h"
#include "core/frame.h"
#include "core/instrument_state.h"
#include "core/record_history.h"
#include "core/scope_recording.h"
#include "core/scope_settings.h"
#include "library_api.h"
#include "record_average.h"

namespace rk350::scope {

class InstrumentThread {
 public:
  // `initial`: the settings the card starts with (the command line's).
  InstrumentThread(const capture::LoadedLibrary& library, capture::CardPort port, const capture::CardSettings& initial);
  ~InstrumentThread();
  InstrumentThread(const InstrumentThread&) = delete;
  InstrumentThread& operator=(const InstrumentThread&) = delete;

  // Starts the thread and waits until the card is open and set up; false with
  // the reason in `error` when it could not be.
  bool Start(std::string& error);
  void Stop();

  // The request's changes onto the current settings, the whole checked and
  // applied; a refusal leaves the card as it was (the outcome says the
  // library's result and why).
  Outcome Apply(SettingsRequest request);
  Snapshot State() const;                                  // settings, version, what the card reached, the run
  ScopeSettings Settings() const;                          // the settings in force, as State() has them
  const InstrumentOffer& Offer() const { return offer_; }  // written before Start returns
  // The outcome of a request refused with this result code.
  Outcome Refusal(unsigned result, const std::string& message) const;

  // The recording the records are offered to (before Start; null: none).
  void SetRecording(ScopeRecording* recording) { recording_ = recording; }
  ScopeRecording* Recording() const { return recording_; }

  std::shared_ptr<const Frame> Latest() const;
  // Keep the last `count` records (before Start); Records() holds them.
  void KeepRecords(std::size_t count) { records_ = std::make_unique<RecordHistory>(count); }
  const RecordHistory& Records() const { return *records_; }
  // The measurement statistics start again with the next record.
  void ResetMeasurements() { history_->Reset(); }
  // Who may change the settings: an SCPI connection may hold it for itself.
  ControlLock& Control() { return control_; }
  // The first frame after `sequence`, or null after `timeout` (or on Stop).
  std::shared_ptr<const Frame> WaitNewer(std::uint64_t sequence, std::chrono::milliseconds timeout) const;

  // Where the settings stand, for a client that waits for the record its
  // settings version `v` asked for: taken with v or later, while nothing but
  // run/stop/single changed since v.
  struct Progress {
    std::uint64_t version = 0;        // of the settings in force
    std::uint64_t configVersion = 0;  // the last change but run/stop/single
    std::uint64_t stopVersion = 0;    // the last request that left the acquisition stopped
  };
  Progress SettingsProgress() const;
  // The oldest of the last few records that was taken for version `v` as
  // above; null when none is (yet).
  std::shared_ptr<const Frame> RecordFor(std::uint64_t v) const;

 private:
  struct Request {
    SettingsRequest settings;
    std::promise<Outcome> outcome;
  };

  void Run();
  void Open();
  void ServeRequests();
  Outcome Serve(const SettingsRequest& request);
  static bool CardSettingsDiffer(const ScopeSettings& a, const ScopeSettings& b);
  void Configure();  // the settings onto the card; throws capture::LibraryError
  void StartEngine();
  void StopEngine();
  void TakeRecord();
  // What the armed run does while no record is ready (waiting for its
  // trigger, or acquiring after it), for the page.
  void FollowRun();
  void RunArmed();  // a new run starts: nothing to say about it yet
  void Publish(capture::Record record);
  void PublishState();
  void ProbeOffer();

  const capture::LoadedLibrary& library_;
  const capture::LibraryApi& api_;
  const capture::CardPort port_;
  const capture::CardSettings initial_;
  ScopeSettings settings_;  // instrument thread only
  std::unique_ptr<capture::CaptureSession> session_;
  std::shared_ptr<const std::vector<std::uint16_t>> loadedWaveform_;  // in the card's memory
  capture::CardOffer card_;                                           // asked once, before the first configure
  bool engineRunning_ = false;
  capture::RecordAverage average_;
  int averaged_ = 0;
  std::chrono::steady_clock::time_point armedAt_, runShownAt_;        // instrument thread only
  std::optional<std::chrono::steady_clock::time_point> triggeredAt_;  // instrument thread only
  std::uint64_t version_ = 0;
  std::uint64_t configVersion_ = 0;  // version_ at the last change but run/stop/single
  ControlLock control_;
  ScopeRecording* recording_ = nullptr;  // set before Start
  const std::shared_ptr<FigureHistory> history_ = std::make_shared<FigureHistory>();
  std::map<unsigned, std::pair<std::string, std::string>> resultNames_;  // written before Start returns

  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;  // guards what follows
  mutable std::condition_variable changed_;
  std::deque<std::unique_ptr<Request>> requests_;
  std::shared_ptr<const Frame> latest_;
  std::unique_ptr<RecordHistory> records_ = std::make_unique<RecordHistory>();
  std::deque<std::shared_ptr<const Frame>> recent_;  // the last few, so that a waiter finds its own behind newer ones
  Progress progress_;
  std::uint64_t sequence_ = 0;
  Snapshot state_;  // the run is run_'s
  RunState run_;    // what the armed run does
  InstrumentOffer offer_;
  bool opened_ = false;
  std::string openError_;
};

}  // namespace rk350::scope
