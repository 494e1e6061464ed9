#include "core/scope_recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "core/frame.h"
#include "recording_run.h"

namespace rk350::scope {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double UnixNow() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

recording::RecordFrame FrameOf(const capture::Record& record) {
  recording::RecordFrame frame;
  frame.how = record.how;
  frame.triggerIndex = record.triggerIndex;
  frame.sampleInterval = record.sampleRate > 0 ? 1.0 / record.sampleRate : 0.0;
  if (record.codes.size() != record.channels.size()) return frame;  // read without its codes: no channel
  for (std::size_t c = 0; c < record.channels.size(); ++c) {
    const capture::ChannelTrace& trace = record.channels[c];
    recording::ChannelFrame channel;
    channel.channel = trace.channel;
    channel.codes = record.codes[c];
    std::size_t first = 0, count = 0;
    HeldRange(trace, first, count);
    channel.validFirst = static_cast<std::int32_t>(first);
    channel.validCount = static_cast<std::int32_t>(count);
    channel.overrange = trace.overrange;
    channel.range = trace.fullScale;
    frame.channels.push_back(std::move(channel));
  }
  return frame;
}

bool ScopeRecording::NameHasForm(const std::string& name) {
  constexpr std::size_t kLongest = 100;
  const std::string suffix = ".h5";
  if (name.size() <= suffix.size() || name.size() > kLongest || name.front() == '.') return false;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  return std::all_of(name.begin(), name.end(), [](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '.' || ch == '-' ||
           ch == '_';
  });
}

ScopeRecording::ScopeRecording(std::string directory) : directory_(std::move(directory)) {
  state_.available = Available();
  if (Available()) watcher_ = std::thread([this] { Watch(); });
}

ScopeRecording::~ScopeRecording() {
  Stop("the scope stops");
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
  }
  wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

std::string ScopeRecording::Start(const RecordingRequest& request) {
  if (!Available()) return "recording is off: start the scope with --record-dir DIR";
  if (!NameHasForm(request.name))
    return "a recording's name is a plain file name of letters, digits, '.', '-' and '_' ending in .h5 "
           "(at most 100 characters), not '" +
           request.name + "'";
  if (!(request.seconds >= 0) || !std::isfinite(request.seconds)) return "the duration is not a number of seconds";
  std::lock_guard control(control_);
  std::error_code error;
  if (fs::exists(fs::path(directory_) / request.name, error) || error)
    return request.name + " exists in the recording directory: give another name";
  std::lock_guard lock(mutex_);
  if (state_.active) return "a recording runs already (" + state_.name + "): stop it first";
  state_ = {};
  state_.available = true;
  state_.active = true;
  state_.name = request.name;
  state_.limits = request;
  started_ = Clock::now();
  recorder_.reset();
  wanted_.store(true, std::memory_order_release);
  return {};
}

void ScopeRecording::Offer(const capture::Record& record, std::uint64_t settingsVersion,
                           const capture::CaptureSession& session) {
  if (!Wanted()) return;
  recording::RecordFrame frame = FrameOf(record);
  if (frame.channels.empty()) return;  // read without its codes: nothing to keep
  frame.hostTime = UnixNow();
  frame.settingsVersion = static_cast<std::uint32_t>(settingsVersion);
  bool due = false;
  {
    std::lock_guard lock(mutex_);
    if (!state_.active || closing_) return;
    const auto& limits = state_.limits;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    if ((limits.count > 0 && state_.finished >= limits.count) || (limits.seconds > 0 && seconds >= limits.seconds)) {
      wanted_.store(false, std::memory_order_release);
      due = true;
    } else {
      if (!recorder_) {
        // The first record: the file takes the card's settings as they are now.
        recording::RecorderOptions options;
        options.path = (fs::path(directory_) / state_.name).string();
        options.maxBytes = limits.maxBytes;
        recorder_ = std::make_shared<recording::Recorder>(options, recording::HeaderOf(session));
      }
      frame.sequence = ++state_.finished;
      recorder_->Offer(std::move(frame));  // never waits: a full queue counts the record as lost
      due = limits.count > 0 && state_.finished >= limits.count;
      if (due) wanted_.store(false, std::memory_order_release);
    }
  }
  if (due) wake_.notify_all();
}

void ScopeRecording::Watch() {
  std::unique_lock lock(mutex_);
  while (!shuttingDown_) {
    wake_.wait_for(lock, std::chrono::milliseconds(100));
    if (shuttingDown_ || !state_.active || closing_) continue;
    const auto& limits = state_.limits;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    std::string due;
    if (limits.count > 0 && state_.finished >= limits.count)
      due = "the count of " + std::to_string(limits.count) + " records is reached";
    else if (limits.seconds > 0 && seconds >= limits.seconds)
      due = "the duration of " + Number(limits.seconds) + " s is reached";
    else if (recorder_ && recorder_->Status().stopped)
      due = recorder_->Status().reason;
    if (due.empty()) continue;
    lock.unlock();
    Stop(due);
    lock.lock();
  }
}

void ScopeRecording::Stop(const std::string& why) {
  std::lock_guard control(control_);
  std::shared_ptr<recording::Recorder> recorder;
  {
    std::lock_guard lock(mutex_);
    if (!state_.active) return;
    wanted_.store(false, std::memory_order_release);
    closing_ = true;
    state_.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    recorder = recorder_;
  }
  // The queued records are written and the file closed, off the instrument
  // thread; until then the recording is said to run, so that a client that
  // sees it ended also sees every record of it written.
  if (recorder) recorder->Finish(why);
  std::lock_guard lock(mutex_);
  state_.active = false;
  closing_ = false;
  state_.ended = why;
  if (recorder) {
    state_.recorder = recorder->Status();
    state_.failed = state_.recorder.failed;
    if (state_.recorder.stopped && !state_.recorder.reason.empty()) state_.ended = state_.recorder.reason;
  }
  if (state_.finished == 0) state_.ended += "; no record came, so no file was written";
  recorder_.reset();
}

RecordingState ScopeRecording::State() const {
  std::lock_guard lock(mutex_);
  RecordingState state = state_;
  if (recorder_) state.recorder = recorder_->Status();
  if (state.active && !closing_) state.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  if (!state.recorder.currentPath.empty()) state.name = fs::path(state.recorder.currentPath).filename().string();
  return state;
}

std::vector<RecordingFileEntry> ScopeRecording::Files() const {
  std::vector<RecordingFileEntry> files;
  if (!Available()) return files;
  std::string writing;
  {
    std::lock_guard lock(mutex_);
    if (recorder_) writing = fs::path(recorder_->Status().currentPath).filename().string();
  }
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory_, error)) {
    const std::string name = entry.path().filename().string();
    std::error_code unknown;
    if (!NameHasForm(name) || name == writing || !entry.is_regular_file(unknown) || entry.is_symlink(unknown)) continue;
    const auto bytes = entry.file_size(unknown);
    if (unknown) continue;
    const auto written = entry.last_write_time(unknown);
    const auto since = std::chrono::file_clock::to_sys(written).time_since_epoch();
    files.push_back({name, bytes, unknown ? 0.0 : std::chrono::duration<double>(since).count()});
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    return a.modified != b.modified ? a.modified > b.modified : a.name < b.name;
  });
  return files;
}

std::optional<std::string> ScopeRecording::FinishedPath(const std::string& name) const {
  for (const auto& file : Files())
    if (file.name == name) return (fs::path(directory_) / name).string();
  return std::nullopt;
}

}  // namespace rk350::scope
