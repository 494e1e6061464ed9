// rk350-capture --continuous --record FILE: every record into a recording.
#pragma once

#include <cstdio>

#include "capture_session.h"
#include "options.h"
#include "recorder_module.h"

namespace rk350::capture {

// Runs the recording the options ask for on an open session, written by
// `recorder`; returns the tool's exit status (0, 3 when the recording
// failed, 130 when interrupted).
int RecordContinuously(const LoadedLibrary& library, CaptureSession& session, const CaptureOptions& options,
                       const recording::RecorderModule& recorder, std::FILE* text);

}  // namespace rk350::capture
