// Where a recording run sends its records: the recorder, in this process or
// loaded as a module (recorder_module.h). The run needs only these calls.
#pragma once

#include <cstdint>
#include <string>

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

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // From the acquisition thread; never blocks on the disk. False when the
  // record was not taken (counted as lost, or the recorder has stopped).
  virtual bool Offer(RecordFrame&& frame) = 0;
  // Writes what is queued, notes the losses and closes the file.
  virtual void Finish(const std::string& ending) = 0;
  virtual RecorderStatus Status() const = 0;
};

}  // namespace rk350::recording
