// rk350-capture: one measurement on an RK350 card (the virtual card by
// default), written as a summary, a CSV and an SVG plot.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "atomic_file.h"
#include "capture_session.h"
#include "card_offer.h"
#include "csv_writer.h"
#include "library_api.h"
#include "options.h"
#include "record_command.h"
#include "recorder_module.h"
#include "sigrok_session.h"
#include "summary.h"
#include "svg_plot.h"

using namespace rk350::capture;

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitLibrary = 2;
constexpr int kExitFiles = 3;
constexpr int kExitInterrupted = 130;

// Set while the files are written: a signal then removes the temporaries
// and ends the tool at once (also while it waits to open a FIFO that no
// reader opened). Before that, it ends the measurement and the tool writes
// the last record.
std::atomic<bool> gWritingFiles{false};

extern "C" void OnInterrupt(int) {
  if (gWritingFiles) {
    rk350::tools::RemoveTemporariesNow();
    std::_Exit(kExitInterrupted);
  }
  gInterrupted = true;
}

// Holds SIGINT and SIGTERM back while the files of one capture take their
// names, so that an interruption cannot leave a new file beside an old one.
class InterruptsHeld {
 public:
#ifdef _WIN32
  InterruptsHeld() = default;
#else
  InterruptsHeld() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

 private:
  sigset_t before_;
#endif
};

std::unique_ptr<LoadedLibrary> LoadLibrary(const CaptureOptions& options) {
  std::string errors;
  if (auto library = LoadFlavour(options.hardware, options.library, errors)) return library;
  std::fprintf(stderr, "rk350-capture: cannot load the %s library\n%s", options.hardware ? "hardware" : "virtual-card",
               errors.c_str());
  return nullptr;
}

bool WriteStandardOutput(const std::function<void(std::ostream&)>& write) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // a session file is binary
#endif
  write(std::cout);
  std::cout.flush();
  if (std::cout) return true;
  std::fprintf(stderr, "rk350-capture: cannot write to standard output\n");
  return false;
}

struct Output {
  std::string path;  // "-": standard output
  std::function<void(std::ostream&)> write;
};

// The files of one capture are replaced together or not at all: each is
// written to a temporary beside it, and only when all are complete do they
// take their names. A file that cannot be written leaves every older file of
// these names as it was.
bool WriteOutputs(const CaptureOptions& options, const Record& record, const std::vector<std::string>& notes,
                  std::FILE* text) {
  std::vector<Output> outputs;
  if (options.writeCsv)
    outputs.push_back({options.CsvPath(), [&](std::ostream& out) { WriteCsv(out, record, notes); }});
  if (options.writeSvg) {
    PlotOptions plot;
    plot.title =
        options.title.empty() ? (options.hardware ? "RK350 capture" : "RK350 capture (virtual card)") : options.title;
    outputs.push_back({options.SvgPath(), [&record, plot](std::ostream& out) { out << RenderSvg(record, plot); }});
  }
  if (options.writeSr)
    outputs.push_back({options.SrPath(), [&](std::ostream& out) { WriteSigrokSession(out, record); }});

  gWritingFiles = true;
  std::vector<std::unique_ptr<rk350::tools::AtomicFile>> files;
  std::vector<std::string> names;
  std::string error;
  bool ok = true;
  for (const auto& output : outputs) {
    if (output.path == "-") {
      ok = WriteStandardOutput(output.write) && ok;
      continue;
    }
    std::error_code ignored;
    const auto parent = std::filesystem::path(output.path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    files.push_back(std::make_unique<rk350::tools::AtomicFile>(output.path));
    names.push_back(output.path);
    if (!rk350::tools::WriteContent(*files.back(), output.write, error)) {
      std::fprintf(stderr, "rk350-capture: %s\n", error.c_str());
      ok = false;
      break;
    }
  }
  if (ok) {
    [[maybe_unused]] const InterruptsHeld held;
    // Every file on the disk before any takes its name: a crash leaves the old set or the new one.
    for (std::size_t i = 0; ok && i < files.size(); ++i) {
      if (!files[i]->Sync(error)) {
        std::fprintf(stderr, "rk350-capture: %s\n", error.c_str());
        ok = false;
      }
    }
    for (std::size_t i = 0; ok && i < files.size(); ++i) {
      if (files[i]->Commit(error)) {
        std::fprintf(text, "wrote %s\n", names[i].c_str());
      } else {
        std::fprintf(stderr, "rk350-capture: %s\n", error.c_str());
        ok = false;
      }
    }
  } else if (outputs.size() > 1) {
    std::fprintf(stderr,
                 "rk350-capture: no file of this capture was written; files of these names stay as they were\n");
  }
  files.clear();  // removes what was not committed
  gWritingFiles = false;
  return ok;
}

// The user waveform's file, read whole ("-" is standard input).
std::optional<rk350::tools::ArbitraryWaveform> ReadWaveformFile(const std::string& path, std::string& error) {
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      error = "cannot read it";
      return std::nullopt;
    }
  }
  std::istream& in = path == "-" ? std::cin : file;
  std::ostringstream text;
  text << in.rdbuf();
  return rk350::tools::ParseWaveform(text.str(), error);
}

}  // namespace

int main(int argc, char** argv) {
  const ParseResult parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "rk350-capture: %s\n", parsed.error.c_str());
    return kExitUsage;
  }
  CaptureOptions options = parsed.options;
  auto& generator = options.settings.generator;
  if (!generator.file.empty()) {
    std::string error;
    generator.waveform = ReadWaveformFile(generator.file, error);
    if (!generator.waveform) {
      std::fprintf(stderr, "rk350-capture: --gen-file %s: %s\n", generator.file.c_str(), error.c_str());
      return kExitUsage;
    }
  }
  if (options.help) {
    std::fputs(HelpText("rk350-capture").c_str(), stdout);
    return 0;
  }
  const auto library = LoadLibrary(options);
  if (!library) return kExitLibrary;
  if (options.version) {
    std::printf("rk350-capture, library %s (%s)\n", library->Api().RK350_Version(), library->File().c_str());
    return 0;
  }
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  if (options.writeSr && !SigrokSessionsSupported()) {
    std::fprintf(stderr, "rk350-capture: this build writes no sigrok sessions (it was built without libzip)\n");
    return kExitUsage;
  }
  // The recorder (and HDF5 with it) is loaded only for a recording, before
  // the card is touched.
  std::unique_ptr<rk350::recording::RecorderModule> recorder;
  if (!options.recordPath.empty()) {
    std::string error;
    recorder = rk350::recording::RecorderModule::Load(error);
    if (!recorder) {
      std::fprintf(stderr, "rk350-capture: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  // With a file on standard output, the text for people goes to standard error.
  std::FILE* const text = options.WritesToStandardOutput() ? stderr : stdout;

  try {
    const CardPort port{.hardware = options.hardware, .address = options.address};
    CaptureSession session(*library, port);
    const Readout readout{.raw = options.raw, .quiet = options.quiet, .count = options.count};
    if (options.show) {
      session.Initialise();
      std::fputs((session.IdentityLine() + DescribeCardOffer(ProbeCardOffer(*library, port)) +
                  "names and the library's codes:\n" + DescribeChoices())
                     .c_str(),
                 stdout);
      return 0;
    }
    session.Open(options.settings);
    std::fputs(session.Describe().c_str(), text);
    if (recorder) return RecordContinuously(*library, session, options, *recorder, text);
    if (options.mode == RunMode::Continuous) {
      Record last;
      bool warned = false;  // once per capture, whatever --quiet says
      session.RunContinuous(readout, [&](const Record& record, int n) {
        std::fprintf(text, "\nrecord %d\n%s", n, FormatSummary(record).c_str());
        std::fflush(text);
        const std::string warning = FormatRecordWarning(record);
        if (!warning.empty() && !warned) std::fputs(warning.c_str(), stderr);
        warned = warned || !warning.empty();
        last = record;
      });
      if (last.Length() > 0 && !WriteOutputs(options, last, session.FileNotes(last), text)) return kExitFiles;
      return gInterrupted ? kExitInterrupted : 0;
    }
    const Record record = session.CaptureBlock(readout);
    std::fputs(FormatSummary(record).c_str(), text);
    std::fputs(FormatRecordWarning(record).c_str(), stderr);
    if (!WriteOutputs(options, record, session.FileNotes(record), text)) return kExitFiles;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "rk350-capture: %s\n", e.what());
    return kExitUsage;
  } catch (const LibraryError& e) {
    std::fprintf(stderr, "rk350-capture: %s\n", e.what());
    return kExitLibrary;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rk350-capture: %s\n", e.what());
    return gInterrupted ? kExitInterrupted : kExitLibrary;
  }
  return 0;
}
