// A recording on disk: one HDF5 file that grows by one record at a time and
// is flushed after each, so that the file holds every finished record when
// the process is killed or the disk fills. The layout is described in
// docs/recording.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "recording_frame.h"

namespace rk350::recording {

class RecordingFile {
 public:
  // Creates (or replaces) `path` for records of `frame`'s shape.
  static std::unique_ptr<RecordingFile> Create(const std::string& path, const RecordingHeader& header,
                                               const RecordFrame& shape, std::string& error);
  ~RecordingFile();  // closes without the closing notes when Close was not called
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // Whether the frame has the channels and length this file was made for.
  bool Fits(const RecordFrame& frame) const;
  // Appends one record and flushes the file. On failure the file keeps the
  // records before it.
  bool Append(const RecordFrame& frame, std::string& error);
  // Notes how the run ended (records lost, why it stopped) and closes.
  bool Close(std::uint64_t lost, const std::string& ending, std::string& error);

  std::uint64_t Records() const { return records_; }
  std::uint64_t SizeOnDisk() const;
  const std::string& Path() const { return path_; }

 private:
  struct Handles;
  RecordingFile(std::string path, std::unique_ptr<Handles> handles);
  bool Shrink(std::uint64_t records);  // back to `records` rows after a failed append

  std::string path_;
  std::unique_ptr<Handles> h_;
  std::uint64_t records_ = 0;
};

}  // namespace rk350::recording
