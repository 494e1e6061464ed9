// The scope's recording: every record the instrument thread reads, written
// by the tools' one recorder into a directory given at start. The page, the
// JSON API and SCPI start and stop it here; the instrument thread only hands
// over records while one is wanted, and never waits for the disk.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture_session.h"
#include "record.h"
#include "recorder.h"

namespace rk350::scope {

// What a client asks for: a file name in the directory and the limits (0: none).
struct RecordingRequest {
  std::string name;
  std::uint64_t count = 0;
  double seconds = 0.0;
  std::uint64_t maxBytes = 0;
};

// Where a recording stands (the one running, else the last one).
struct RecordingState {
  bool available = false;  // a directory was given (--record-dir)
  bool active = false;     // records are being taken
  std::string name;        // of the file (the part being written, else the first)
  RecordingRequest limits;
  std::uint64_t finished = 0;  // records the scope read while recording
  recording::RecorderStatus recorder;
  double seconds = 0.0;  // since the start
  std::string ended;     // why the last recording ended; empty while one runs
  bool failed = false;
};

struct RecordingFileEntry {
  std::string name;
  std::uint64_t bytes = 0;
  double modified = 0.0;  // seconds since 1970
};

class ScopeRecording {
 public:
  explicit ScopeRecording(std::string directory);  // empty: recording is off
  ~ScopeRecording();                               // ends a recording that runs
  ScopeRecording(const ScopeRecording&) = delete;
  ScopeRecording& operator=(const ScopeRecording&) = delete;

  bool Available() const { return !directory_.empty(); }
  const std::string& Directory() const { return directory_; }

  // Empty when started, else why not (recording off, a name of the wrong
  // form, a file of that name exists, a recording runs already).
  std::string Start(const RecordingRequest& request);
  // Ends the recording that runs (the queued records are written first).
  void Stop(const std::string& why = "stopped");
  RecordingState State() const;
  // The finished recordings in the directory, newest first.
  std::vector<RecordingFileEntry> Files() const;
  // The path of a finished recording for download; nothing for a name of
  // the wrong form, one being written, or one that is not a plain file.
  std::optional<std::string> FinishedPath(const std::string& name) const;

  // Instrument thread: whether records are wanted now (then read with their
  // codes), and each record as read with the settings version it was taken
  // with. `session` describes the card for the file's header.
  bool Wanted() const { return wanted_.load(std::memory_order_acquire); }
  void Offer(const capture::Record& record, std::uint64_t settingsVersion, const capture::CaptureSession& session);

  // A recording file's name as clients may give it: letters, digits, '.',
  // '-' and '_', ending in ".h5", no directory part.
  static bool NameHasForm(const std::string& name);

 private:
  void Watch();  // ends the recording at its limits, off the instrument thread

  const std::string directory_;
  std::mutex control_;  // one start or stop at a time
  std::atomic<bool> wanted_{false};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<recording::Recorder> recorder_;  // from the first record on
  RecordingState state_;
  std::chrono::steady_clock::time_point started_;
  bool shuttingDown_ = false;
  // Stop is writing the queued records and closing the file: the recording
  // takes no more records but is said to run until its file is whole.
  bool closing_ = false;
  std::thread watcher_;
};

// A recorder's frame of a record the scope read with its codes.
recording::RecordFrame FrameOf(const capture::Record& record);

}  // namespace rk350::scope
