#include "recorder_module.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "library_api.h"

#if !defined(_WIN32)
#include <dlfcn.h>

#include "recorder_c.h"
#endif

namespace rk350::recording {

#if defined(_WIN32)

struct RecorderModule::Functions {};

std::unique_ptr<RecorderModule> RecorderModule::Load(std::string& error) {
  error = "this build writes no recordings (it was built without HDF5)";
  return nullptr;
}

std::unique_ptr<RecordSink> RecorderModule::Start(const RecorderOptions&, const RecordingHeader&) const {
  return nullptr;
}

#else

// clang-format off
#define RK350_RECORDER_FUNCTIONS(F) \
  F(rk350_recorder_open) F(rk350_recorder_offer) F(rk350_recorder_status) F(rk350_recorder_part) \
  F(rk350_recorder_close) F(rk350_recorder_free)
// clang-format on

struct RecorderModule::Functions {
#define RK350_RECORDER_POINTER(name) decltype(&::name) name = nullptr;
  RK350_RECORDER_FUNCTIONS(RK350_RECORDER_POINTER)
#undef RK350_RECORDER_POINTER
};

namespace {

constexpr const char* kModuleName = "librk350_recorder.so";

// "name=value" lines, as the module reads the file's attributes.
std::string Lines(const std::vector<std::pair<std::string, std::string> >& pairs) {
  std::string text;
  for (const auto& [name, value] : pairs) text += name + "=" + value + "\n";
  return text;
}

class LoadedRecorder final : public RecordSink {
 public:
  LoadedRecorder(std::shared_ptr<const RecorderModule::Functions> f, void* handle)
      : f_(std::move(f)), handle_(handle) {}
  ~LoadedRecorder() override { f_->rk350_recorder_free(handle_); }
  LoadedRecorder(const LoadedRecorder&) = delete;
  LoadedRecorder& operator=(const LoadedRecorder&) = delete;

  bool Offer(RecordFrame&& frame) override {
    std::vector<rk350_recorder_channel> channels;
    for (const auto& c : frame.channels) {
      if (c.codes.size() != frame.Length()) return false;
      channels.push_back({.channel = c.channel,
                          .codes = c.codes.data(),
                          .valid_first = c.validFirst,
                          .valid_count = c.validCount,
                          .overrange = c.overrange ? 1 : 0,
                          .range = c.range});
    }
    const rk350_recorder_frame record{.sequence = frame.sequence,
                                      .host_time = frame.hostTime,
                                      .how = frame.how,
                                      .trigger_index = frame.triggerIndex,
                                      .sample_interval = frame.sampleInterval,
                                      .settings_version = frame.settingsVersion,
                                      .length = static_cast<uint32_t>(frame.Length()),
                                      .channel_count = static_cast<uint32_t>(channels.size()),
                                      .channels = channels.data()};
    return f_->rk350_recorder_offer(handle_, &record) == 1;
  }

  void Finish(const std::string& ending) override { f_->rk350_recorder_close(handle_, ending.c_str()); }

  RecorderStatus Status() const override {
    RecorderStatus status;
    int32_t stopped = 0, failed = 0;
    char reason[1024] = "", path[4096] = "";
    f_->rk350_recorder_status(handle_, &status.written, &status.lost, &status.bytes, &stopped, &failed, reason,
                              sizeof reason);
    f_->rk350_recorder_part(handle_, &status.files, path, sizeof path);
    status.stopped = stopped != 0;
    status.failed = failed != 0;
    status.reason = reason;
    status.currentPath = path;
    return status;
  }

 private:
  std::shared_ptr<const RecorderModule::Functions> f_;
  void* handle_;
};

}  // namespace

std::unique_ptr<RecorderModule> RecorderModule::Load(std::string& error) {
  std::vector<std::string> candidates;
  if (const char* named = std::getenv("RK350_RECORDER"); named != nullptr && *named != '\0')
    candidates = {named};
  else
    candidates = capture::BesideProgram(kModuleName, capture::ProgramDirectory());
  std::string file;
  for (const auto& candidate : candidates) {
    std::error_code ignored;
    if (std::filesystem::exists(candidate, ignored)) {
      file = candidate;
      break;
    }
  }
  if (file.empty()) {
    error = std::string("cannot record: ") + kModuleName + ", which writes recordings, is not ";
    for (std::size_t i = 0; i < candidates.size(); ++i)
      error += (i == 0 ? "at " : i + 1 == candidates.size() ? " or " : ", ") + candidates[i];
    error += " (it is built and installed with the tool where HDF5 is found; RK350_RECORDER names it elsewhere)";
    return nullptr;
  }
  // Never closed: HDF5 leaves handlers to run at the process's exit.
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    error = "cannot record: cannot load " + file + ": " + (why != nullptr ? why : "unknown error");
    return nullptr;
  }
  auto functions = std::make_shared<Functions>();
  std::string missing;
#define RK350_RECORDER_SYMBOL(name)                                             \
  functions->name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (functions->name == nullptr) missing += std::string(missing.empty() ? "" : ", ") + #name;
  RK350_RECORDER_FUNCTIONS(RK350_RECORDER_SYMBOL)
#undef RK350_RECORDER_SYMBOL
  if (!missing.empty()) {
    error = "cannot record: " + file + " lacks " + missing + " (a module of another version?)";
    return nullptr;
  }
  std::unique_ptr<RecorderModule> module(new RecorderModule);
  module->file_ = file;
  module->functions_ = std::move(functions);
  return module;
}

std::unique_ptr<RecordSink> RecorderModule::Start(const RecorderOptions& options, const RecordingHeader& header) const {
  void* handle = functions_->rk350_recorder_open(options.path.c_str(), Lines(header.identity).c_str(),
                                                 Lines(header.settings).c_str(), header.description.c_str(),
                                                 options.maxBytes, options.splitBytes, options.splitSeconds);
  if (handle == nullptr) return nullptr;
  return std::make_unique<LoadedRecorder>(functions_, handle);
}

#endif

}  // namespace rk350::recording
