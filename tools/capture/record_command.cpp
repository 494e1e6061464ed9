#include "record_command.h"

#include <csignal>
#include <filesystem>

#include "progress.h"
#include "recording_run.h"

namespace rk350::capture {

int RecordContinuously(const LoadedLibrary& library, CaptureSession& session, const CaptureOptions& options,
                       const recording::RecorderModule& module, std::FILE* text) {
  using namespace rk350::recording;
#if !defined(_WIN32)
  // Past the file-size limit a write fails (and is reported) instead of
  // ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  std::error_code ignored;
  const auto parent = std::filesystem::path(options.recordPath).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  RecorderOptions recorderOptions;
  recorderOptions.path = options.recordPath;
  recorderOptions.maxBytes = options.maxBytes;
  recorderOptions.splitBytes = options.split.bytes;
  recorderOptions.splitSeconds = options.split.seconds;
  const std::unique_ptr<RecordSink> started = module.Start(recorderOptions, HeaderOf(session));
  if (!started) {
    std::fprintf(stderr, "rk350-capture: %s refused to record to %s\n", module.File().c_str(),
                 options.recordPath.c_str());
    return 3;
  }
  RecordSink& recorder = *started;
  const RecordingLimits limits{.count = static_cast<std::uint64_t>(options.count), .seconds = options.durationSeconds};

  Progress progress(stderr, !options.quiet);
  const auto show = [&](const RecordingOutcome& outcome) {
    double fraction = -1.0;
    if (limits.count > 0) fraction = static_cast<double>(outcome.finished) / static_cast<double>(limits.count);
    if (limits.seconds > 0) fraction = std::max(fraction, outcome.seconds / limits.seconds);
    progress.Update(std::min(fraction, 1.0), "recording: " + ProgressText(outcome, recorder.Status()));
  };
  const RecordingOutcome outcome = RunRecording(library.Api(), session, recorder, limits, nullptr, show);
  progress.Finish();
  recorder.Finish(gInterrupted ? "interrupted" : "the run's limit was reached");
  const RecorderStatus status = recorder.Status();

  if (status.files == 0 && !status.failed) {
    std::fprintf(text, "no record was finished in %.1f s: %s was not written\n", outcome.seconds,
                 options.recordPath.c_str());
    return gInterrupted ? 130 : 0;
  }
  std::fprintf(text, "recorded %s in %.1f s to %s%s\n", ProgressText(outcome, status).c_str(), outcome.seconds,
               options.recordPath.c_str(),
               status.files > 1 ? (" (" + std::to_string(status.files) + " files)").c_str() : "");
  if (status.lost > 0 && !status.failed)
    std::fprintf(stderr,
                 "rk350-capture: %llu of %llu records lost: the disk did not keep up with the card "
                 "(their sequence numbers are missing from the recording)\n",
                 static_cast<unsigned long long>(status.lost), static_cast<unsigned long long>(outcome.finished));
  if (status.failed) {
    std::fprintf(stderr, "rk350-capture: the recording stopped: %s; %s holds the %llu records before\n",
                 status.reason.c_str(),
                 status.currentPath.empty() ? options.recordPath.c_str() : status.currentPath.c_str(),
                 static_cast<unsigned long long>(status.written));
    return 3;
  }
  if (status.stopped && status.reason.find("size limit") != std::string::npos)
    std::fprintf(text, "stopped: %s\n", status.reason.c_str());
  return gInterrupted ? 130 : 0;
}

}  // namespace rk350::capture
