// A continuous run of the library's engine with every record kept: the
// acquisition loop reads each record the engine finishes and offers it to
// the recorder, until a count, a duration, the recorder's own limits or an
// interruption ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "capture_session.h"
#include "record_sink.h"

namespace rk350::recording {

struct RecordingLimits {
  std::uint64_t count = 0;  // records the library finishes (0: no limit)
  double seconds = 0.0;     // duration of the run (0: no limit)
};

struct RecordingOutcome {
  std::uint64_t finished = 0;  // records the library finished in the run
  double seconds = 0.0;        // from the engine's start to its stop
};

// What a recording says about the card and its settings (the settings
// table's names and values).
RecordingHeader HeaderOf(const capture::CaptureSession& session);

// Reads the engine's newest record with what the library says about it.
RecordFrame ReadFrame(const capture::LibraryApi& api, const capture::CaptureSession& session);

// Runs the engine (DoMeasure(-1)) and offers every record to `recorder`.
// `observe` sees each record as read (before the recorder takes it);
// `progress` is called at most four times a second and at the end.
RecordingOutcome RunRecording(const capture::LibraryApi& api, capture::CaptureSession& session, RecordSink& recorder,
                              const RecordingLimits& limits, const std::function<void(const RecordFrame&)>& observe,
                              const std::function<void(const RecordingOutcome&)>& progress);

// "1000 records, 131.2 MB, 0 lost" and the like.
std::string ProgressText(const RecordingOutcome& outcome, const RecorderStatus& status);

}  // namespace rk350::recording
