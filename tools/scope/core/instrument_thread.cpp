#include "core/instrument_thread.h"

#include <cstdio>

namespace rk350::scope {
namespace {

using namespace std::chrono_literals;

// How long an HTTP request waits for the instrument thread's answer.
constexpr auto kAnswerTimeout = 10s;

}  // namespace

InstrumentThread::InstrumentThread(const capture::LoadedLibrary& library, capture::CardPort port,
                                   const capture::CardSettings& initial)
    : library_(library), api_(library.Api()), port_(port), initial_(initial) {}

InstrumentThread::~InstrumentThread() { Stop(); }

bool InstrumentThread::Start(std::string& error) {
  thread_ = std::thread([this] { Run(); });
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return opened_ || !openError_.empty(); });
  error = openError_;
  return opened_;
}

void InstrumentThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void InstrumentThread::Run() {
  try {
    Open();
  } catch (const std::exception& e) {
    session_.reset();
    std::lock_guard lock(mutex_);
    openError_ = e.what();
    changed_.notify_all();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    opened_ = true;
  }
  changed_.notify_all();
  while (!stopping_) {
    ServeRequests();
    if (!engineRunning_) {
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, 100ms, [&] { return stopping_ || !requests_.empty(); });
      continue;
    }
    api_.RK350_ProcessMessages();  // runs the engine's timer on this thread
    if (api_.RK350_TakeMeasurementReady() == 0) {
      FollowRun();
      std::this_thread::sleep_for(1ms);
      continue;
    }
    try {
      TakeRecord();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "rk350-scope: %s\n", e.what());
    }
  }
  StopEngine();
  session_.reset();  // ExitInstrument, on the thread that initialised
  std::lock_guard lock(mutex_);
  for (auto& request : requests_) request->outcome.set_value(Refusal(RK350_RESULT_NOT_AVAILABLE, "the scope stops"));
  requests_.clear();
}

void InstrumentThread::Open() {
  for (unsigned code :
       {RK350_RESULT_OK, RK350_RESULT_NO_INSTRUMENT, RK350_RESULT_NOT_INITIALISED, RK350_RESULT_NOT_AVAILABLE,
        RK350_RESULT_NO_GENERATOR, RK350_RESULT_INVALID_CHANNEL, RK350_RESULT_INVALID_VALUE})
    resultNames_[code] = {api_.RK350_ResultName(code), api_.RK350_ResultText(code)};
  session_ = std::make_unique<capture::CaptureSession>(library_, port_);
  session_->Initialise();
  ProbeOffer();
  settings_ = CompleteSettings(initial_, card_.virtualCard);
  Configure();
  // --time gave the record as a duration: from now on it is the samples
  // the card took for it, which the page shows and changes.
  if (settings_.options.recordTime) {
    settings_.options.recordLength = static_cast<std::uint32_t>(api_.GetRecordLength());
    settings_.options.recordTime.reset();
  }
  PublishState();
  if (settings_.acquisition != Acquisition::Stop) StartEngine();
}

void InstrumentThread::ProbeOffer() {
  card_ = capture::ProbeCardOffer(library_, port_);
  int32_t serial = 0;
  // Written once, before Start returns: read without the lock afterwards.
  offer_ = {card_, session_->IdentityLine(),
            api_.GetSerialNumber(&serial) == RK350_RESULT_OK ? std::optional(serial) : std::nullopt,
            api_.RK350_Version()};
}

void InstrumentThread::Configure() {
  // The waveform first: selecting the arbitrary type plays what the memory holds.
  if (settings_.waveform && settings_.waveform != loadedWaveform_) {
    const auto& w = *settings_.waveform;
    const unsigned result = api_.FillFuncGenMemory(static_cast<uint32_t>(w.size()), w.data());
    if (result != RK350_RESULT_OK)
      throw capture::LibraryError(std::string("FillFuncGenMemory: ") + api_.RK350_ResultName(result), result);
    loadedWaveform_ = settings_.waveform;
  }
  session_->Configure(settings_.options);
  // The settings say what the card runs at, not what was asked for: the
  // rate, a range rounded up to one the card offers, the generator's
  // frequency within its reach.
  settings_.options.sampleRate = session_->SampleRate();
  for (int c = 0; c < 2; ++c) {
    double range = 0;
    auto& ch = settings_.options.channels[c];
    if (!ch.autoRange && api_.GetSensitivity(static_cast<uint8_t>(c + 1), &range) == RK350_RESULT_OK) ch.range = range;
  }
  if (session_->GeneratorFrequency() > 0) settings_.options.generator.frequency = session_->GeneratorFrequency();
}

void InstrumentThread::StartEngine() {
  api_.RK350_TakeMeasurementReady();  // a record of the settings before does not count
  const unsigned result = api_.DoMeasure(-1);
  if (result != RK350_RESULT_OK)
    throw capture::LibraryError(std::string("DoMeasure(-1): ") + api_.RK350_ResultName(result), result);
  engineRunning_ = true;
  RunArmed();
  averaged_ = 0;
  average_ = capture::RecordAverage();
}

void InstrumentThread::StopEngine() {
  if (!engineRunning_) return;
  api_.DoMeasure(0);
  engineRunning_ = false;
  RunArmed();
}

void InstrumentThread::RunArmed() {
  armedAt_ = std::chrono::steady_clock::now();
  if (session_) session_->Armed();
  triggeredAt_.reset();
  std::lock_guard lock(mutex_);
  run_ = {};
}

void InstrumentThread::FollowRun() {
  using namespace std::chrono;
  try {
    session_->ForceWhenTimedOut();  // the trigger time-out, in seconds of wall time
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rk350-scope: %s\n", e.what());
  }
  const auto now = steady_clock::now();
  // Quick records need no word; slow ones are followed ten times a second.
  constexpr auto kQuiet = 300ms, kEvery = 100ms;
  const bool triggered = api_.ADC_Triggered() != 0 || settings_.options.triggerSource == RK350_TS_NO_TRIG;
  // A search of the samples that found no crossing arms again: it waits anew.
  if (!triggered) triggeredAt_.reset();
  if (triggered && !triggeredAt_) triggeredAt_ = now;
  if (now - armedAt_ < kQuiet || now - runShownAt_ < kEvery) return;
  runShownAt_ = now;
  RunState run;
  if (triggeredAt_) {
    if (api_.RK350_GetArmedRunTime(&run.runSeconds) != RK350_RESULT_OK) run.runSeconds = 0.0;
    run = {RunState::Phase::Acquiring, duration<double>(now - *triggeredAt_).count(), run.runSeconds};
  } else {
    run = {RunState::Phase::Waiting, duration<double>(now - armedAt_).count(), 0.0};
  }
  std::lock_guard lock(mutex_);
  run_ = run;
}

void InstrumentThread::TakeRecord() {
  RunArmed();  // the engine arms the next run as it hands over this record
  // While a recording wants records, each one is read with its codes and
  // handed over as the library finished it (before any averaging).
  const bool keep = recording_ != nullptr && recording_->Wanted();
  capture::Record taken = session_->ReadEngineRecord(keep);
  if (keep) {
    recording_->Offer(taken, version_, *session_);
    taken.codes.clear();
  }
  average_.Add(std::move(taken));
  if (++averaged_ < settings_.options.average) return;
  averaged_ = 0;
  capture::Record record = average_.Result();
  // A single record stops the acquisition before it is shown, so whoever
  // sees it also sees the scope stopped.
  if (settings_.acquisition == Acquisition::Single) {
    StopEngine();
    settings_.acquisition = Acquisition::Stop;
    PublishState();
  }
  Publish(std::move(record));
}

void InstrumentThread::Publish(capture::Record record) {
  auto frame = std::make_shared<Frame>();
  frame->settingsVersion = version_;
  frame->configVersion = configVersion_;
  frame->record = std::move(record);
  frame->history = history_;
  frame->notes = session_->FileNotes(frame->record);
  frame->taken = std::chrono::steady_clock::now();
  frame->hostTime = std::chrono::system_clock::now();
  {
    std::lock_guard lock(mutex_);
    frame->sequence = ++sequence_;
    constexpr std::size_t kRecent = 4;
    if (recent_.size() == kRecent) recent_.pop_front();
    recent_.push_back(frame);
    records_->Add(frame);
    latest_ = std::move(frame);
  }
  changed_.notify_all();
}

void InstrumentThread::PublishState() {
  Reached reached;
  reached.rate = session_->SampleRate();
  reached.arbitraryPoints = settings_.waveform ? settings_.waveform->size() : 0;
  reached.samples = static_cast<std::uint32_t>(api_.GetRecordLength());
  reached.preSamples = static_cast<std::uint32_t>(api_.GetRecordLength() - api_.GetPostSamples());
  reached.measureMode = session_->MeasureMode();
  // The virtual card says what its generator really runs at.
  reached.generatorFrequency = session_->RunningGeneratorFrequency();
  for (uint8_t c = 1; c <= 2; ++c) {
    double range = 0;
    if (api_.GetSensitivity(c, &range) == RK350_RESULT_OK) reached.ranges[c - 1] = range;
  }
  std::lock_guard lock(mutex_);
  state_ = {settings_, version_, reached, {}};
}

void InstrumentThread::ServeRequests() {
  std::deque<std::unique_ptr<Request>> requests;
  {
    std::lock_guard lock(mutex_);
    requests.swap(requests_);
  }
  // In the order they came: the last setting wins.
  for (auto& request : requests) request->outcome.set_value(Serve(request->settings));
}

Outcome InstrumentThread::Serve(const SettingsRequest& request) {
  std::string error;
  const auto next = ApplyChanges(request, settings_, card_.virtualCard, error);
  if (!next) return Refusal(RK350_RESULT_INVALID_VALUE, error);
  const bool wasRunning = engineRunning_;
  StopEngine();
  const ScopeSettings previous = settings_;
  settings_ = *next;
  const bool cardChanges = CardSettingsDiffer(previous, settings_);
  try {
    // Run, stop and single leave the card's settings as they are: only the
    // engine restarts (a record per command costs no card setup).
    if (cardChanges) Configure();
  } catch (const std::exception& e) {
    // The card refused a value: it goes back to the settings before, whole.
    const auto* library = dynamic_cast<const capture::LibraryError*>(&e);
    settings_ = previous;
    try {
      Configure();
      if (wasRunning) StartEngine();
    } catch (const std::exception& again) {
      std::fprintf(stderr, "rk350-scope: restoring the settings: %s\n", again.what());
    }
    return Refusal(library != nullptr ? library->Code() : RK350_RESULT_INVALID_VALUE, e.what());
  }
  ++version_;
  if (cardChanges) configVersion_ = version_;
  {
    std::lock_guard lock(mutex_);
    progress_.version = version_;
    progress_.configVersion = configVersion_;
    if (settings_.acquisition == Acquisition::Stop) progress_.stopVersion = version_;
  }
  try {
    if (settings_.acquisition != Acquisition::Stop) StartEngine();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rk350-scope: %s\n", e.what());
  }
  PublishState();
  // The outcome says which values the card runs other than asked.
  Outcome outcome = Refusal(RK350_RESULT_OK, "");
  outcome.adjusted = Adjustments(*next, settings_);
  outcome.snapshot = State();
  return outcome;
}

// Whether the card needs setting up again: anything but run, stop and single.
bool InstrumentThread::CardSettingsDiffer(const ScopeSettings& a, const ScopeSettings& b) {
  return a.options != b.options || a.waveform != b.waveform;
}

Outcome InstrumentThread::Refusal(unsigned result, const std::string& message) const {
  Outcome outcome;
  outcome.result = result;
  outcome.message = message;
  const auto it = resultNames_.find(result);
  outcome.resultName = it != resultNames_.end() ? it->second.first : "Unknown";
  outcome.meaning = it != resultNames_.end() ? it->second.second : "unknown result code";
  return outcome;
}

Outcome InstrumentThread::Apply(SettingsRequest settings) {
  auto request = std::make_unique<Request>();
  request->settings = std::move(settings);
  auto answer = request->outcome.get_future();
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return Refusal(RK350_RESULT_NOT_AVAILABLE, "the scope stops");
    requests_.push_back(std::move(request));
  }
  changed_.notify_all();
  if (answer.wait_for(kAnswerTimeout) != std::future_status::ready) {
    Outcome silent;
    silent.answered = false;
    silent.message = "the instrument thread did not answer";
    return silent;
  }
  return answer.get();
}

Snapshot InstrumentThread::State() const {
  std::lock_guard lock(mutex_);
  Snapshot state = state_;
  state.run = run_;
  return state;
}

ScopeSettings InstrumentThread::Settings() const {
  std::lock_guard lock(mutex_);
  return state_.settings;
}

std::shared_ptr<const Frame> InstrumentThread::Latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::shared_ptr<const Frame> InstrumentThread::WaitNewer(std::uint64_t sequence,
                                                         std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return stopping_ || (latest_ && latest_->sequence > sequence); });
  return latest_ && latest_->sequence > sequence ? latest_ : nullptr;
}

InstrumentThread::Progress InstrumentThread::SettingsProgress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

std::shared_ptr<const Frame> InstrumentThread::RecordFor(std::uint64_t v) const {
  std::lock_guard lock(mutex_);
  for (const auto& frame : recent_)
    if (frame->settingsVersion >= v && frame->configVersion <= v) return frame;
  return nullptr;
}

}  // namespace rk350::scope
