// The records a recording run read from the library, written beside the
// recording so that a test compares the two: the first argument names the
// reference files (PREFIX.jsonl: each record's fields; PREFIX.codes: its
// codes, channel after channel; PREFIX.volts: the library's own volts of
// the same record from GetMeasurement, as doubles), the rest are
// rk350-capture's options (--continuous --record FILE ...).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "capture_session.h"
#include "options.h"
#include "recorder.h"
#include "recording_run.h"

using namespace rk350::capture;
using namespace rk350::recording;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PREFIX CAPTURE-OPTIONS...\n", argv[0]);
    return 1;
  }
  const std::string prefix = argv[1];
  const ParseResult parsed = ParseArguments(std::vector<std::string>(argv + 2, argv + argc));
  if (!parsed.error.empty() || parsed.options.recordPath.empty()) {
    std::fprintf(stderr, "%s\n", parsed.error.empty() ? "--record FILE is needed" : parsed.error.c_str());
    return 1;
  }
  const CaptureOptions& options = parsed.options;
  std::string errors;
  const auto library = LoadFlavour(false, options.library, errors);
  if (!library) {
    std::fprintf(stderr, "%s", errors.c_str());
    return 2;
  }
  std::ofstream fields(prefix + ".jsonl"), codes(prefix + ".codes", std::ios::binary),
      volts(prefix + ".volts", std::ios::binary);
  CaptureSession session(*library, CardPort{});
  session.Open(options.settings);
  RecorderOptions recorderOptions;
  recorderOptions.path = options.recordPath;
  recorderOptions.splitBytes = options.split.bytes;
  Recorder recorder(recorderOptions, HeaderOf(session));
  const auto& api = library->Api();
  const auto observe = [&](const RecordFrame& frame) {
    char line[256];
    std::snprintf(
        line, sizeof line,
        "{\"sequence\": %llu, \"how\": %u, \"trigger_index\": %lld, \"sample_interval\": %.17g, \"channels\": [",
        static_cast<unsigned long long>(frame.sequence), frame.how, static_cast<long long>(frame.triggerIndex),
        frame.sampleInterval);
    fields << line;
    std::vector<double> v[2] = {std::vector<double>(frame.Length()), std::vector<double>(frame.Length())};
    api.GetMeasurement(v[0].data(), v[1].data());
    for (std::size_t i = 0; i < frame.channels.size(); ++i) {
      const auto& c = frame.channels[i];
      std::snprintf(
          line, sizeof line,
          "%s{\"channel\": %d, \"valid_first\": %d, \"valid_count\": %d, \"overrange\": %d, \"range\": %.17g}",
          i > 0 ? ", " : "", c.channel, c.validFirst, c.validCount, c.overrange ? 1 : 0, c.range);
      fields << line;
      codes.write(reinterpret_cast<const char*>(c.codes.data()), static_cast<std::streamsize>(c.codes.size()));
      const auto& channelVolts = v[c.channel - 1];
      volts.write(reinterpret_cast<const char*>(channelVolts.data()),
                  static_cast<std::streamsize>(channelVolts.size() * sizeof(double)));
    }
    fields << "]}\n";
  };
  const RecordingLimits limits{.count = static_cast<std::uint64_t>(options.count), .seconds = options.durationSeconds};
  RunRecording(api, session, recorder, limits, observe, [](const RecordingOutcome&) {});
  recorder.Finish("the run's limit was reached");
  const auto status = recorder.Status();
  std::printf("written %llu lost %llu\n", static_cast<unsigned long long>(status.written),
              static_cast<unsigned long long>(status.lost));
  return status.failed ? 3 : 0;
}
