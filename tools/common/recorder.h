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

#include "record_sink.h"
#include "recording_file.h"

namespace rk350::recording {

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

class Recorder final : public RecordSink {
 public:
  Recorder(RecorderOptions options, RecordingHeader header);
  ~Recorder() override;  // Finish()
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  bool Offer(RecordFrame&& frame) override;
  void Finish(const std::string& ending) override;
  RecorderStatus Status() const override;

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
