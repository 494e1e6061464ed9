#include "recording_run.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace rk350::recording {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double UnixNow() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

void Check(const capture::LibraryApi& api, unsigned result, const std::string& call) {
  if (result != RK350_RESULT_OK)
    throw capture::LibraryError(call + ": " + api.RK350_ResultName(result) + " (" + api.RK350_ResultText(result) + ")",
                                result);
}

}  // namespace

RecordingHeader HeaderOf(const capture::CaptureSession& session) {
  RecordingHeader header;
  std::string identity = session.IdentityLine();
  if (!identity.empty() && identity.back() == '\n') identity.pop_back();
  header.identity.emplace_back("card", identity);
  header.description = session.Describe();
  for (const auto& setting : capture::CardSettingsTable()) {
    const char* name = setting.key != nullptr ? setting.key : setting.flag;
    if (name == nullptr) continue;
    header.settings.emplace_back(name, capture::FormatSettingValue(setting, setting.Get(session.Settings())));
  }
  return header;
}

RecordFrame ReadFrame(const capture::LibraryApi& api, const capture::CaptureSession& session) {
  RecordFrame frame;
  frame.hostTime = UnixNow();
  const auto length = static_cast<std::size_t>(std::max<int32_t>(0, api.GetRecordLength()));
  std::vector<std::uint16_t> raw[2] = {std::vector<std::uint16_t>(length), std::vector<std::uint16_t>(length)};
  Check(api, api.GetMeasurementRaw(raw[0].data(), raw[1].data()), "GetMeasurementRaw");
  for (int c = 1; c <= 2; ++c) {
    if (!capture::Measures(session.MeasureMode(), c)) continue;
    ChannelFrame channel;
    channel.channel = c;
    channel.codes.resize(length);
    for (std::size_t i = 0; i < length; ++i) channel.codes[i] = static_cast<std::uint8_t>(raw[c - 1][i] >> 8);
    const auto number = static_cast<uint16_t>(c);
    const std::string name = "CH" + std::to_string(c);
    Check(api, api.RK350_GetValidRange(number, &channel.validFirst, &channel.validCount),
          "RK350_GetValidRange(" + name + ")");
    uint32_t overrange = 0;
    Check(api, api.RK350_GetOverrange(number, &overrange), "RK350_GetOverrange(" + name + ")");
    channel.overrange = overrange != 0;
    Check(api, api.GetSensitivity(static_cast<uint8_t>(c), &channel.range), "GetSensitivity(" + name + ")");
    frame.channels.push_back(std::move(channel));
  }
  if (api.RK350_GetRecordTrigger(&frame.how) != RK350_RESULT_OK) frame.how = RK350_RECORD_NONE;
  frame.triggerIndex = static_cast<std::int64_t>(api.GetRecordLength()) - api.GetPostSamples();
  const double rate = api.GetSampleFrequencyF();
  frame.sampleInterval = rate > 0 ? 1.0 / rate : 0.0;
  return frame;
}

RecordingOutcome RunRecording(const capture::LibraryApi& api, capture::CaptureSession& session, RecordSink& recorder,
                              const RecordingLimits& limits, const std::function<void(const RecordFrame&)>& observe,
                              const std::function<void(const RecordingOutcome&)>& progress) {
  session.StartEngine();
  RecordingOutcome outcome;
  const auto start = Clock::now();
  const auto refresh = std::chrono::milliseconds(250);
  auto lastShown = start;
  try {
    // The engine's timer runs on this thread, a tick per poll; a finished
    // record is read before the next poll can replace it.
    while (!capture::gInterrupted && (limits.count == 0 || outcome.finished < limits.count)) {
      const auto now = Clock::now();
      outcome.seconds = Seconds(now - start);
      if (limits.seconds > 0 && outcome.seconds >= limits.seconds) break;
      if (recorder.Status().stopped) break;
      if (now - lastShown >= refresh) {
        lastShown = now;
        progress(outcome);
      }
      if (!session.PollEngine()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      RecordFrame frame = ReadFrame(api, session);
      frame.sequence = ++outcome.finished;
      if (observe) observe(frame);
      recorder.Offer(std::move(frame));
    }
  } catch (...) {
    api.DoMeasure(0);
    throw;
  }
  outcome.seconds = Seconds(Clock::now() - start);
  session.StopEngine();
  return outcome;
}

std::string ProgressText(const RecordingOutcome& outcome, const RecorderStatus& status) {
  char text[160];
  std::snprintf(text, sizeof text, "%llu records, %.1f MB, %llu lost", static_cast<unsigned long long>(status.written),
                static_cast<double>(status.bytes) / 1e6, static_cast<unsigned long long>(status.lost));
  std::string line = text;
  if (outcome.finished > status.written + status.lost)
    line += ", " + std::to_string(outcome.finished - status.written - status.lost) + " queued";
  return line;
}

}  // namespace rk350::recording
