// The recorder as the capture tool loads it: librk350_recorder (the writer,
// its queue and thread, HDF5), opened only when a recording is asked for.
// Linking HDF5 into the tool cost every run, recording or not, the loading
// of some thirty libraries; the Python binding loads the same module.
#pragma once

#include <memory>
#include <string>

#include "record_sink.h"

namespace rk350::recording {

class RecorderModule {
 public:
  // The module named by RK350_RECORDER, else the first found beside the
  // program (capture::BesideProgram). Null with the reason in `error` when
  // none is there, it does not load or lacks a function.
  static std::unique_ptr<RecorderModule> Load(std::string& error);

  // A recorder writing to `options.path` (the file is created with the
  // first record); it may outlive this object. Null when the module refuses
  // the options.
  std::unique_ptr<RecordSink> Start(const RecorderOptions& options, const RecordingHeader& header) const;
  const std::string& File() const { return file_; }

  struct Functions;

 private:
  std::string file_;
  std::shared_ptr<const Functions> functions_;
};

}  // namespace rk350::recording
