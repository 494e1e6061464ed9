#include "recorder_c.h"

#include <cstring>
#include <sstream>

#include "recorder.h"

namespace {

std::vector<std::pair<std::string, std::string>> Lines(const char* text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (text == nullptr) return pairs;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && eq > 0) pairs.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return pairs;
}

// As much of `text` as fits, always terminated.
void CopyText(const std::string& text, char* out, uint32_t size) {
  if (out == nullptr || size == 0) return;
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

extern "C" {

void* rk350_recorder_open(const char* path, const char* identity, const char* settings, const char* description,
                          uint64_t max_bytes, uint64_t split_bytes, double split_seconds) {
  if (path == nullptr || *path == '\0') return nullptr;
  rk350::recording::RecorderOptions options;
  options.path = path;
  options.maxBytes = max_bytes;
  options.splitBytes = split_bytes;
  options.splitSeconds = split_seconds > 0 ? split_seconds : 0.0;
  rk350::recording::RecordingHeader header;
  header.identity = Lines(identity);
  header.settings = Lines(settings);
  header.description = description != nullptr ? description : "";
  return new rk350::recording::Recorder(std::move(options), std::move(header));
}

int32_t rk350_recorder_offer(void* recorder, const rk350_recorder_frame* frame) {
  if (recorder == nullptr || frame == nullptr || frame->channels == nullptr || frame->channel_count == 0 ||
      frame->channel_count > 2)
    return 0;
  rk350::recording::RecordFrame copy;
  copy.sequence = frame->sequence;
  copy.hostTime = frame->host_time;
  copy.how = frame->how;
  copy.triggerIndex = frame->trigger_index;
  copy.sampleInterval = frame->sample_interval;
  copy.settingsVersion = frame->settings_version;
  for (uint32_t i = 0; i < frame->channel_count; ++i) {
    const auto& c = frame->channels[i];
    if (c.codes == nullptr || (c.channel != 1 && c.channel != 2)) return 0;
    rk350::recording::ChannelFrame channel;
    channel.channel = c.channel;
    channel.codes.assign(c.codes, c.codes + frame->length);
    channel.validFirst = c.valid_first;
    channel.validCount = c.valid_count;
    channel.overrange = c.overrange != 0;
    channel.range = c.range;
    copy.channels.push_back(std::move(channel));
  }
  return static_cast<rk350::recording::Recorder*>(recorder)->Offer(std::move(copy)) ? 1 : 0;
}

void rk350_recorder_part(void* recorder, uint64_t* files, char* path, uint32_t path_size) {
  if (recorder == nullptr) return;
  const auto status = static_cast<rk350::recording::Recorder*>(recorder)->Status();
  if (files != nullptr) *files = status.files;
  CopyText(status.currentPath, path, path_size);
}

void rk350_recorder_status(void* recorder, uint64_t* written, uint64_t* lost, uint64_t* bytes, int32_t* stopped,
                           int32_t* failed, char* reason, uint32_t reason_size) {
  if (recorder == nullptr) return;
  const auto status = static_cast<rk350::recording::Recorder*>(recorder)->Status();
  if (written != nullptr) *written = status.written;
  if (lost != nullptr) *lost = status.lost;
  if (bytes != nullptr) *bytes = status.bytes;
  if (stopped != nullptr) *stopped = status.stopped ? 1 : 0;
  if (failed != nullptr) *failed = status.failed ? 1 : 0;
  CopyText(status.reason, reason, reason_size);
}

void rk350_recorder_close(void* recorder, const char* ending) {
  if (recorder == nullptr) return;
  static_cast<rk350::recording::Recorder*>(recorder)->Finish(ending != nullptr ? ending : "ended");
}

void rk350_recorder_free(void* recorder) { delete static_cast<rk350::recording::Recorder*>(recorder); }

}  // extern "C"
