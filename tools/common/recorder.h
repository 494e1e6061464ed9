// Keeps every record the library finishes: the acquisition thread offers
// each one to a bounded queue, and a writer thread appends them to the
// recording file. The acquisition never waits for the disk: a record that
// finds the queue full is counted as lost, and the count is said in the
// progress, at the end and in the file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recording_file.h"
#include "recording_frame.h"

namespace rk350::recording {

struct RecorderOptions {
  std::string path;                      // the file, or the name the parts are numbered after (--split)
  std::uint64_t maxBytes = 0;            // stop before the files would exceed this in all (0: no limit)
  std::uint64_t splitBytes = 0;          // start a new part when one reaches this size (0: never)
  double splitSeconds = 0.0;             // start a new part after this long (0: never)
  std::uint64_t queueBytes = 64u << 20;  // records waiting for the disk, at most
};

// What the recorder has done so far (a snapshot).
struct RecorderStatus {
  std::uint64_t written = 0;  // records in the files
  std::uint64_t lost = 0;     // records offered that found the queue full or came after a failure
  std::uint64_t bytes = 0;    // size of the files on disk
  std::uint64_t files = 0;    // parts started
  bool stopped = false;       // the recorder takes no more records
  std::string reason;         // why it stopped: a limit, or what failed
  bool failed = false;        // stopped by a failure, not by a limit
  std::string currentPath;
};

// The name of part `n` (1, 2, ...) of a recording: "run.h5" -> "run-0002.h5".
std::string PartPath(const std::string& path, std::uint64_t part);
// Bytes a file of `fileSize` may still grow by in `directory`: the free
// space of its file system, or less when the process's file-size limit
// (ulimit -f) leaves less (`byLimit`).
struct Room {
  std::uint64_t bytes = 0;
  bool byLimit = false;
};
Room RoomFor(const std::string& directory, std::uint64_t fileSize);

class Recorder {
 public:
  Recorder(RecorderOptions options, RecordingHeader header);
  ~Recorder();  // Finish()
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // From the acquisition thread; never blocks on the disk. False when the
  // record was not taken (counted as lost, or the recorder has stopped).
  bool Offer(RecordFrame&& frame);
  // Writes what is queued, notes the losses and closes the file.
  void Finish(const std::string& ending);
  RecorderStatus Status() const;

 private:
  void Run();
  bool WriteOne(const RecordFrame& frame);
  bool OpenPart(const RecordFrame& shape);
  bool ClosePart(const std::string& ending);
  void Stop(const std::string& reason, bool failed);

  const RecorderOptions options_;
  const RecordingHeader header_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<RecordFrame> queue_;
  std::uint64_t queuedBytes_ = 0;
  bool finishing_ = false;
  RecorderStatus status_;
  // The writer thread's own.
  std::unique_ptr<RecordingFile> file_;
  std::uint64_t closedBytes_ = 0;  // in parts already closed
  double partStart_ = 0.0;         // host time of the part's first record
  std::thread writer_;
};

}  // namespace rk350::recording
