#include "capture_session.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <sstream>
#include <thread>

#include "progress.h"
#include "record_average.h"
#include "rk350/rk350_sim.h"
#include "summary.h"
#include "trigger_sources.h"

namespace rk350::capture {

std::atomic<bool> gInterrupted{false};

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string SourceName(int source) {
  const TriggerSource* known = FindTriggerSource(source);
  return known != nullptr ? known->label : "source " + std::to_string(source);
}

// Channels whose comparators the source uses.
std::vector<int> SourceChannels(int source) {
  std::vector<int> channels;
  for (int c = 1; c <= 2; ++c)
    if (TriggerUsesChannel(source, c)) channels.push_back(c);
  return channels;
}

// A row of the settings table, for its names.
const CardSetting& Setting(const char* key) { return *FindSettingByKey(key); }

std::string Number(double v) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << v;
  return s.str();
}

}  // namespace

CaptureSession::CaptureSession(const LoadedLibrary& library, CardPort port)
    : library_(library), api_(library.Api()), port_(port) {}

CaptureSession::~CaptureSession() {
  if (open_) {
    api_.ADC_Abort();
    api_.DoMeasure(0);
    api_.ExitInstrument();
  }
}

void CaptureSession::Check(unsigned result, const std::string& call) const {
  if (result == RK350_RESULT_OK) return;
  throw LibraryError(call + ": " + api_.RK350_ResultName(result) + " (" + api_.RK350_ResultText(result) + ")", result);
}

void CaptureSession::Initialise() {
  char address[16];
  std::snprintf(address, sizeof address, "0x%X", port_.address);
  const unsigned result = api_.InitInstrument(port_.address);
  open_ = true;  // ExitInstrument is due whatever InitInstrument answered
  Check(result, std::string("InitInstrument(") + address + ") found no card" +
                    (port_.hardware ? " (is the card at this address, and may this process use its ports?)" : ""));
}

void CaptureSession::Open(const CardSettings& settings) {
  Initialise();
  Configure(settings);
}

void CaptureSession::Configure(const CardSettings& settings) {
  settings_ = settings;
  modeNote_.clear();
  roundingNote_.clear();
  generatorNote_.clear();
  generatorFrequency_ = 0.0;
  // Above the converters' own rate both of them sample CH1 in turn, so CH2
  // cannot be measured; the mode is set before the rate, which then decides
  // whether the card interleaves.
  measureMode_ = settings_.measureMode;
  if (settings_.sampleRate > api_.GetMaxSampleFrequencyF() && Measures(measureMode_, 2)) {
    measureMode_ = RK350_MODE_CH1;
    modeNote_ = "above " + FormatHertz(api_.GetMaxSampleFrequencyF()) +
                " both converters sample CH1 in turn: measuring CH1 only\n";
  }
  Check(api_.SetMeasureMode(static_cast<uint32_t>(measureMode_)), "SetMeasureMode");
  // Complete records: the library finds the trigger in a free-running
  // acquisition where it can (--card-trigger: the card's own trigger).
  Check(api_.RK350_SetSoftwareTrigger(settings_.cardTrigger ? 0 : 1), "RK350_SetSoftwareTrigger");
  ApplyChannels();
  ApplyTimebase();
  ApplyTrigger();
  ApplyGenerator();
  ApplySources();
}

// Input 0 of the virtual card is the external trigger input, 1 and 2 the
// channels.
void CaptureSession::ApplySources() {
  for (int c = 0; c <= 2; ++c) {
    const auto& source = c == 0 ? settings_.externalSource : settings_.channels[c - 1].source;
    if (!source) continue;
    const std::string input = c == 0 ? "external input" : "CH" + std::to_string(c);
    const std::string option = c == 0 ? "--ext-source" : "--ch" + std::to_string(c) + "-source";
    const std::string call = "RK350Sim_SetInputSource(" + input + ")";
    using SetInputSource = uint16_t(RK350_CALL*)(uint8_t, const RK350SimSource*);
    const auto set = reinterpret_cast<SetInputSource>(library_.Find("RK350Sim_SetInputSource"));
    if (set == nullptr) throw std::runtime_error(option + " needs the virtual card");
    RK350SimSource s{};
    s.kind = source->kind;
    s.amplitude = source->amplitude;
    s.frequency = source->frequency;
    s.offset = source->offset;
    Check(set(static_cast<uint8_t>(c), &s), call);
  }
}

void CaptureSession::ApplyChannels() {
  for (int c = 1; c <= 2; ++c) {
    const auto& ch = settings_.channels[c - 1];
    const std::string name = "CH" + std::to_string(c);
    const auto channel = static_cast<uint8_t>(c);
    Check(api_.SetAutoRanging(channel, ch.autoRange ? 1 : 0), "SetAutoRanging(" + name + ")");
    if (!ch.autoRange) {
      // The card's nearest range may be below the request and clip the
      // signal: take the smallest range that holds it, and say so.
      const double requested = ch.range.value_or(2.0);
      double range = 0;
      try {
        range = RangeAtLeast(requested);
      } catch (const UsageError& e) {
        throw UsageError(name + ": " + e.what());
      }
      Check(api_.SetSensitivity(channel, &range), "SetSensitivity(" + name + ", " + Number(requested) + " V)");
      double set = 0.0;
      if (api_.GetSensitivity(channel, &set) == RK350_RESULT_OK && set != requested)
        roundingNote_ +=
            name + " range \xC2\xB1" + FormatVolts(set) + " (asked for \xC2\xB1" + FormatVolts(requested) + ")\n";
    }
    if (ch.coupling) Check(api_.SetCoupling(channel, static_cast<uint8_t>(*ch.coupling)), "SetCoupling(" + name + ")");
    if (ch.dcLevel)
      Check(api_.SetDcLevel(channel, *ch.dcLevel), "SetDcLevel(" + name + ", " + Number(*ch.dcLevel) + " V)");
  }
}

void CaptureSession::ApplyTimebase() {
  double rate = settings_.sampleRate;
  Check(api_.SetSampleFrequencyF(&rate), "SetSampleFrequencyF(" + Number(settings_.sampleRate) + " Hz)");
  sampleRate_ = api_.GetSampleFrequencyF();
  if (std::fabs(sampleRate_ - settings_.sampleRate) > 1e-9 * settings_.sampleRate)
    roundingNote_ +=
        "the card runs at " + FormatHertz(sampleRate_) + " (asked for " + FormatHertz(settings_.sampleRate) + ")\n";
  std::uint32_t length = settings_.recordLength;
  if (settings_.recordTime) {
    const auto maximum = static_cast<std::uint32_t>(std::max<int32_t>(1, api_.GetMaxRecordLength()));
    const auto samples = SamplesForDuration(*settings_.recordTime, sampleRate_, maximum);
    if (!samples) {
      char count[32];
      std::snprintf(count, sizeof count, "%.0f", std::nearbyint(*settings_.recordTime * sampleRate_));
      throw UsageError("--time " + Number(*settings_.recordTime) + " s at " + FormatHertz(sampleRate_) + " is " +
                       count + " samples; a record holds 1 .. " + std::to_string(maximum));
    }
    length = *samples;
    if (settings_.postSamples && *settings_.postSamples > length)
      throw UsageError("--post-samples: more post samples than the " + std::to_string(length) + " of --time");
  }
  Check(api_.SetRecordLength(length), "SetRecordLength(" + std::to_string(length) + ")");
  const auto post = settings_.EffectivePostSamples(length);
  Check(api_.SetPostSamples(post), "SetPostSamples(" + std::to_string(post) + ")");
}

void CaptureSession::ApplyTrigger() {
  const int source = settings_.triggerSource;
  Check(api_.SetTriggerSource(static_cast<uint8_t>(source)), "SetTriggerSource(" + std::to_string(source) + ")");
  if (settings_.triggerMode)
    Check(api_.SetTriggerMode(static_cast<uint8_t>(*settings_.triggerMode)),
          "SetTriggerMode(" + std::to_string(*settings_.triggerMode) + ")");
  for (int c : SourceChannels(source)) {
    const std::string name = "CH" + std::to_string(c);
    Check(api_.SetTriggerLevel(static_cast<uint8_t>(c), settings_.triggerLevel),
          "SetTriggerLevel(" + name + ", " + Number(settings_.triggerLevel) + " V)");
    if (settings_.triggerHysteresis)
      Check(api_.SetTriggerHys(static_cast<uint8_t>(c), *settings_.triggerHysteresis),
            "SetTriggerHys(" + name + ", " + Number(*settings_.triggerHysteresis) + " V)");
  }
  // 0 takes a record at once and none waits for ever, as the library has
  // them; a time-out of its own the library would count in engine ticks, not
  // in seconds, so the session forces those records itself (ForceWhenTimedOut).
  const uint32_t timeout = settings_.triggerTimeoutMs == 0u ? 0u : 0xFFFFFFFFu;
  Check(api_.SetTriggerTimeOut(timeout), "SetTriggerTimeOut");
  triggerNote_ = "trigger " + SourceName(source);
  if (!SourceChannels(source).empty()) {
    const int mode = settings_.triggerMode.value_or(RK350_TRIGGER_RISING);
    const SettingChoice* named = FindChoice(Setting("trigger.slope"), mode);
    triggerNote_ += named != nullptr ? std::string(" ") + named->label : " mode " + std::to_string(mode);
    triggerNote_ += " at " + FormatVolts(settings_.triggerLevel);
  }
  triggerNote_ += settings_.triggerTimeoutMs ? ", forced after " + Number(*settings_.triggerTimeoutMs / 1000.0) + " s"
                                             : ", no time-out";
}

void CaptureSession::ApplyGenerator() {
  // On the virtual card the generator is looped back to CH1, so by default
  // the first capture shows a real signal; real hardware is left alone.
  if (!settings_.generatorGiven && port_.hardware) return;
  const auto& g = settings_.generator;
  const unsigned status = api_.GetFunctionGenStatus();
  if (status != RK350_RESULT_OK) {
    if (settings_.generatorGiven) Check(status, "GetFunctionGenStatus");
    generatorNote_ = "no function generator on this card";
    return;
  }
  if (g.off) {
    Check(api_.SetFuncGenOutputOn(0), "SetFuncGenOutputOn(0)");
    generatorNote_ = "generator off";
    return;
  }
  if (g.waveform) {
    ApplyWaveform(*g.waveform);
    return;
  }
  const int type = g.signalType.value_or(RK350_GEN_SINE);
  Check(api_.SetFuncGenSignalType(static_cast<uint16_t>(type)), "SetFuncGenSignalType(" + std::to_string(type) + ")");
  double frequency = g.frequency;
  Check(api_.SetFuncGenFrequency(&frequency), "SetFuncGenFrequency(" + Number(g.frequency) + " Hz)");
  Check(api_.SetFuncGenAmplitude(g.amplitude), "SetFuncGenAmplitude(" + Number(g.amplitude) + " V)");
  Check(api_.SetFuncGenDCOffset(g.offset), "SetFuncGenDCOffset(" + Number(g.offset) + " V)");
  Check(api_.SetFuncGenSymmetry(g.symmetry), "SetFuncGenSymmetry(" + Number(g.symmetry) + " %)");
  Check(api_.SetFuncGenOutputOn(1), "SetFuncGenOutputOn(1)");
  // The frequency comes back as programmed once the output runs.
  frequency = g.frequency;
  Check(api_.SetFuncGenFrequency(&frequency), "SetFuncGenFrequency(" + Number(g.frequency) + " Hz)");
  generatorFrequency_ = frequency;
  if (std::fabs(frequency - g.frequency) > 1e-9 * g.frequency)
    roundingNote_ +=
        "the generator runs at " + FormatHertz(frequency) + " (asked for " + FormatHertz(g.frequency) + ")\n";
  // Only what shapes the signal: a DC level has no frequency nor amplitude.
  const SettingChoice* named = FindChoice(Setting("generator.type"), type);
  generatorNote_ = std::string("generator ") + (named != nullptr ? named->label : "type " + std::to_string(type));
  if (type != RK350_GEN_DC) generatorNote_ += " " + FormatHertz(frequency) + ", amplitude " + FormatVolts(g.amplitude);
  generatorNote_ += (type != RK350_GEN_DC ? ", offset " : " level ") + FormatVolts(g.offset);
  if (type == RK350_GEN_TRIANGLE || type == RK350_GEN_SQUARE)
    generatorNote_ += ", symmetry " + Number(g.symmetry) + " %";
  if (type != RK350_GEN_DC) NoteRunningFrequency();
}

void CaptureSession::ApplyWaveform(const tools::ArbitraryWaveform& waveform) {
  const auto& g = settings_.generator;
  const auto card = tools::ToCardWaveform(waveform.volts);
  const auto count = static_cast<uint32_t>(card.samples.size());
  // A file of times and volts repeats over the time it spans unless a
  // frequency is given.
  const double repetition = g.frequencyGiven || !waveform.period ? g.frequency : 1.0 / *waveform.period;
  // 1024 samples step at the repetition frequency; other lengths are read
  // out at a sample clock, which the library takes from its fixed rates.
  const bool shortMemory = count == tools::kShortWaveformSamples;
  double frequency = shortMemory ? repetition : repetition * count;
  Check(api_.FillFuncGenMemory(count, card.samples.data()), "FillFuncGenMemory(" + std::to_string(count) + ")");
  Check(api_.SetFuncGenSignalType(RK350_GEN_ARBITRARY), "SetFuncGenSignalType(5)");
  Check(api_.SetFuncGenFrequency(&frequency), "SetFuncGenFrequency(" + Number(frequency) + " Hz)");
  Check(api_.SetFuncGenAmplitude(card.amplitude), "SetFuncGenAmplitude(" + Number(card.amplitude) + " V)");
  Check(api_.SetFuncGenDCOffset(card.offset), "SetFuncGenDCOffset(" + Number(card.offset) + " V)");
  Check(api_.SetFuncGenOutputOn(1), "SetFuncGenOutputOn(1)");
  generatorNote_ = "generator user waveform of " + std::to_string(count) + " samples, amplitude " +
                   FormatVolts(card.amplitude) + ", offset " + FormatVolts(card.offset) + ", " +
                   (shortMemory ? "repeating at " + FormatHertz(repetition)
                                : "sample clock asked " + FormatHertz(frequency) +
                                      " (the card takes the nearest of "
                                      "its fixed clocks not above)");
  NoteRunningFrequency();
}

void CaptureSession::NoteRunningFrequency() {
  if (const auto running = RunningGeneratorFrequency()) {
    char exact[32];
    std::snprintf(exact, sizeof exact, "%.10g", *running);
    generatorNote_ += std::string("; the card runs it at ") + exact + " Hz";
  }
}

std::optional<double> CaptureSession::RunningGeneratorFrequency() const {
  // Only the virtual card can say what its generator runs at; a real card's
  // output is measured, not guessed from the settings.
  using GetOutput = uint16_t (*)(double*, double*, double*);
  const auto get = reinterpret_cast<GetOutput>(library_.Find("RK350Sim_GetGeneratorOutput"));
  if (get == nullptr || port_.hardware) return std::nullopt;
  double frequency = 0, amplitude = 0, offset = 0;
  if (get(&frequency, &amplitude, &offset) != 1) return std::nullopt;
  return frequency;
}

std::string CaptureSession::IdentityLine() const {
  std::ostringstream s;
  int32_t serial = 0;
  uint32_t date = 0;
  s << (port_.hardware ? "RK350 card" : "RK350 virtual card");
  char address[16];
  std::snprintf(address, sizeof address, "0x%X", port_.address);
  s << " at " << address;
  if (api_.GetSerialNumber(&serial) == RK350_RESULT_OK) s << ", serial " << serial;
  if (api_.GetCalibrationDate(&date) == RK350_RESULT_OK) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", date & 0xFFFFu, (date >> 16) & 0xFFu, date >> 24);
    s << ", calibrated " << text;
  }
  s << "; library " << api_.RK350_Version() << " (" << library_.File() << ")\n";
  return s.str();
}

std::string CaptureSession::Describe() const {
  std::ostringstream s;
  s << IdentityLine();
  const int32_t length = api_.GetRecordLength();
  const int32_t post = api_.GetPostSamples();
  s << FormatHertz(sampleRate_) << " sample rate, " << length << " samples (" << length - post
    << " before the trigger), " << triggerNote_;
  if (settings_.average > 1) s << ", average of " << settings_.average;
  s << '\n';
  if (!generatorNote_.empty()) s << generatorNote_ << '\n';
  s << modeNote_ << roundingNote_;
  return s.str();
}

double CaptureSession::RangeAtLeast(double fullScale) const {
  double ranges[20] = {};
  if (api_.GetAvailableSensitivities(ranges) != RK350_RESULT_OK) return fullScale;
  double best = 0.0, largest = 0.0;
  for (double r : ranges) {
    largest = std::max(largest, r);
    if (r >= fullScale * (1 - 1e-9) && (best == 0.0 || r < best)) best = r;
  }
  // A request above every range would clip whatever range it got.
  if (best == 0.0 && largest > 0.0)
    throw UsageError("a range of \xC2\xB1" + FormatVolts(fullScale) + " lies above the largest, \xC2\xB1" +
                     FormatVolts(largest));
  return best > 0.0 ? best : fullScale;
}

std::vector<std::string> CaptureSession::FileNotes(const Record& record) const {
  std::vector<std::string> notes;
  std::string identity = IdentityLine();
  if (!identity.empty() && identity.back() == '\n') identity.pop_back();
  notes.push_back("card: " + identity);
  const std::time_t now = std::time(nullptr);
  char date[32] = "unknown";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", utc);
  notes.push_back(std::string("date: ") + date);
  char rate[32];
  const auto end = std::to_chars(rate, rate + sizeof rate, record.sampleRate, std::chars_format::fixed).ptr;
  notes.push_back("sample rate: " + std::string(rate, end) + " Hz (" + FormatHertz(record.sampleRate) + ")");
  notes.push_back("record: " + std::to_string(record.Length()) + " samples, " + std::to_string(record.triggerIndex) +
                  " before the trigger; time_s is 0 at the trigger");
  for (const auto& trace : record.channels) {
    const auto& ch = settings_.channels[trace.channel - 1];
    const SettingChoice* coupling = FindChoice(Setting("ch1.coupling"), ch.coupling.value_or(RK350_COUPLING_DC));
    notes.push_back(trace.name + ": range \xC2\xB1" + FormatVolts(trace.fullScale) +
                    (ch.autoRange ? " (automatic)" : "") + ", " + (coupling != nullptr ? coupling->label : "?") +
                    " coupling, DC level " + FormatVolts(ch.dcLevel.value_or(0.0)));
  }
  notes.push_back(triggerNote_);
  if (!record.taken.empty()) notes.push_back("taken: " + record.taken);
  if (settings_.average > 1) notes.push_back("average of " + std::to_string(settings_.average) + " records");
  notes.push_back(!record.codes.empty() ? "values: the converters' 8-bit codes; volts = (code - 128) / 128 x range"
                                        : "values: volts");
  return notes;
}

Record CaptureSession::EmptyRecord() const {
  Record record;
  record.cardTriggerReason =
      CardTriggerReason(api_.GetRecordLength(), int64_t{api_.GetRecordLength()} - api_.GetPostSamples());
  record.sampleRate = sampleRate_;
  record.triggerIndex = static_cast<int64_t>(api_.GetRecordLength()) - api_.GetPostSamples();
  for (int c = 1; c <= 2; ++c) {
    if (!Measures(measureMode_, c)) continue;
    ChannelTrace trace;
    trace.channel = c;
    trace.name = "CH" + std::to_string(c);
    record.channels.push_back(std::move(trace));
  }
  const auto sources = SourceChannels(settings_.triggerSource);
  if (sources.size() == 1 && Measures(measureMode_, sources[0])) {
    double level = 0.0;
    if (api_.GetTriggerLevel(static_cast<uint8_t>(sources[0]), &level) == RK350_RESULT_OK) {
      record.triggerLevel = level;
      record.triggerChannel = "CH" + std::to_string(sources[0]);
    }
  }
  return record;
}

std::string CaptureSession::CardTriggerReason(int64_t length, int64_t pre) const {
  // Where the library leaves the record to the card's own trigger (see
  // docs/acquisition.md), said with the remedy.
  const auto sources = SourceChannels(settings_.triggerSource);
  if (settings_.cardTrigger) return "--card-trigger runs the card's own trigger: leave it out for complete records";
  if (pre == 0 || settings_.triggerSource == RK350_TS_NO_TRIG) return "";
  if (settings_.triggerSource == RK350_TS_EXTERNAL)
    return "the external input is not sampled, so the card's own trigger runs: use --pre-trigger 0 or a CH1/CH2 "
           "trigger";
  if (sources.size() != 1)
    return "logic trigger sources run the card's own trigger: use --pre-trigger 0 or a CH1/CH2 trigger";
  if (settings_.triggerMode && *settings_.triggerMode >= 4)
    return "trigger modes 4 and above run the card's own trigger: use --pre-trigger 0 or modes 0 to 3";
  if (!Measures(measureMode_, sources[0]))
    return "the trigger channel is not measured, so the card's own trigger runs: measure it as well";
  if (length > kLongestSearchedRecord)
    return "above 65,456 samples the card's own trigger runs: use \xE2\x89\xA4 65,456 samples or --pre-trigger 0";
  return "";
}

void CaptureSession::NoteHowTaken(Record& record) const {
  uint32_t how = RK350_RECORD_NONE;
  if (api_.RK350_GetRecordTrigger(&how) != RK350_RESULT_OK) how = RK350_RECORD_NONE;
  record.how = how;
  record.taken = HowTakenInWords(how);
}

std::string CaptureSession::HowTakenInWords(uint32_t how) {
  switch (how) {
    case RK350_RECORD_TRIGGERED_CARD:
      return "triggered by the card's trigger";
    case RK350_RECORD_TRIGGERED_SOFTWARE:
      return "triggered, the crossing found in the samples";
    case RK350_RECORD_FORCED_TIMEOUT:
    case RK350_RECORD_FORCED_CALL:  // this tool forces when its time-out passes
      return "forced: no trigger within the time-out";
    case RK350_RECORD_FREE_RUN:
      return "free run, untriggered";
    default:
      return "";
  }
}

void CaptureSession::Armed() {
  armedAt_ = Clock::now();
  forcedThisRun_ = false;
}

bool CaptureSession::ForceWhenTimedOut() {
  if (forcedThisRun_ || !settings_.triggerTimeoutMs || *settings_.triggerTimeoutMs == 0) return false;
  if (settings_.triggerSource == RK350_TS_NO_TRIG) return false;
  const double rate = sampleRate_ > 0 ? sampleRate_ : 1.0;
  const double preSeconds = static_cast<double>(api_.GetRecordLength() - api_.GetPostSamples()) / rate;
  if (Seconds(Clock::now() - armedAt_) <= preSeconds + *settings_.triggerTimeoutMs / 1000.0) return false;
  if (api_.ADC_Triggered() != 0) return false;  // the card's status read only once the time-out is due
  Check(api_.ADC_ForceTrig(), "ADC_ForceTrig");
  forcedThisRun_ = true;
  return true;
}

void CaptureSession::WaitForRecord(bool quiet) {
  Progress progress(stderr, !quiet);
  const auto start = Clock::now();
  Armed();
  // The library says how long the card runs after its trigger (or forcing);
  // a card still running within that time runs as asked. The margin covers
  // this tool's polling, not the card.
  constexpr double kPollingMargin = 1.0;
  bool forced = false;
  std::optional<Clock::time_point> triggeredAt;
  while (api_.ADC_Ready() == 0) {
    if (gInterrupted) throw std::runtime_error("interrupted");
    api_.RK350_ProcessMessages();
    const auto now = Clock::now();
    const double elapsed = Seconds(now - start);
    const bool triggered = api_.ADC_Triggered() != 0 || settings_.triggerSource == RK350_TS_NO_TRIG;
    // A software-trigger run without a crossing is run again: it waits anew.
    if (!triggered && !forced) triggeredAt.reset();
    if (!triggeredAt && triggered) triggeredAt = now;
    if (!triggeredAt && ForceWhenTimedOut()) {
      forced = true;
      triggeredAt = now;
    }
    double runSeconds = 0.0;
    Check(api_.RK350_GetArmedRunTime(&runSeconds), "RK350_GetArmedRunTime");
    if (triggeredAt && Seconds(now - *triggeredAt) > runSeconds + kPollingMargin)
      throw std::runtime_error("the card did not finish the record " + Number(Seconds(now - *triggeredAt)) +
                               " s after the trigger, though the library expects at most " + Number(runSeconds) + " s");
    if (triggeredAt) {
      const double done = Seconds(now - *triggeredAt);
      progress.Update(runSeconds > 0 ? std::min(1.0, done / runSeconds) : 1.0,
                      "acquiring: " + Number(std::round(done * 10) / 10) + " of " +
                          Number(std::round(runSeconds * 10) / 10) + " s");
    } else {
      progress.Update(-1.0, "waiting for trigger: " + Number(std::round(elapsed * 10) / 10) + " s");
    }
    // For the first 20 ms the polls follow each other: they tell when the
    // trigger came, and a fast record is taken without giving the processor
    // away (on a busy machine a sleep of 50 us can last a whole time slice).
    // Later polls spare the CPU.
    if (elapsed >= 0.02) std::this_thread::sleep_for(std::chrono::microseconds(elapsed < 0.1 ? 1000 : 5000));
  }
  progress.Finish();
  if (forced && !quiet)
    std::fprintf(stderr, "no trigger within %s s: the record was forced\n",
                 Number(*settings_.triggerTimeoutMs / 1000.0).c_str());
}

void CaptureSession::MarkHeldSamples(ChannelTrace& trace, uint16_t channel) const {
  int32_t first = 0, count = 0;
  Check(api_.RK350_GetValidRange(channel, &first, &count), "RK350_GetValidRange(" + trace.name + ")");
  const auto begin = static_cast<std::size_t>(std::max<int32_t>(0, first));
  const auto end = static_cast<std::size_t>(std::max<int64_t>(0, int64_t{first} + count));
  for (std::size_t i = 0; i < trace.volts.size(); ++i)
    if (i < begin || i >= end) trace.volts[i] = std::numeric_limits<double>::quiet_NaN();
  uint32_t overrange = 0;
  Check(api_.RK350_GetOverrange(channel, &overrange), "RK350_GetOverrange(" + trace.name + ")");
  trace.overrange = overrange != 0;
  double range = 0.0;
  if (api_.GetSensitivity(static_cast<uint8_t>(channel), &range) == RK350_RESULT_OK) trace.fullScale = range;
}

void CaptureSession::FetchInto(Record& record, bool raw) {
  const auto length = static_cast<std::size_t>(std::max<int32_t>(0, api_.GetRecordLength()));
  if (raw) record.codes.assign(record.channels.size(), std::vector<uint8_t>(length));
  for (std::size_t c = 0; c < record.channels.size(); ++c) {
    auto& trace = record.channels[c];
    const auto channel = static_cast<uint16_t>(trace.channel);
    trace.volts.assign(length, 0.0);
    Check(api_.ADC_GetDataVoltCh(channel, trace.volts.data()), "ADC_GetDataVoltCh(" + trace.name + ")");
    if (raw) {
      std::vector<uint16_t> codes(length);
      Check(api_.ADC_GetDataCh(channel, codes.data()), "ADC_GetDataCh(" + trace.name + ")");
      for (std::size_t i = 0; i < length; ++i) record.codes[c][i] = static_cast<uint8_t>(codes[i] >> 8);
    }
    MarkHeldSamples(trace, channel);
  }
  NoteHowTaken(record);
}

Record CaptureSession::CaptureBlock(const Readout& readout) {
  // With automatic ranging the library steps the range at each start from
  // what the previous record showed: capture until the ranges stay put.
  const bool autoRange = settings_.channels[0].autoRange || settings_.channels[1].autoRange;
  if (autoRange) {
    double last[2] = {-1, -1};
    for (int round = 0; round < 12; ++round) {
      Check(api_.ADC_Start(), "ADC_Start");
      double now[2] = {0, 0};
      for (int c = 0; c < 2; ++c) api_.GetSensitivity(static_cast<uint8_t>(c + 1), &now[c]);
      WaitForRecord(readout.quiet);
      Record settle = EmptyRecord();
      FetchInto(settle, false);
      if (now[0] == last[0] && now[1] == last[1]) break;
      last[0] = now[0];
      last[1] = now[1];
    }
  }
  RecordAverage average;
  for (int i = 0; i < settings_.average; ++i) {
    Check(api_.ADC_Start(), "ADC_Start");
    WaitForRecord(readout.quiet);
    Record record = EmptyRecord();
    FetchInto(record, readout.raw);
    average.Add(std::move(record));
  }
  return average.Result();
}

void CaptureSession::StartEngine() {
  api_.RK350_TakeMeasurementReady();  // a record from before does not count
  Check(api_.DoMeasure(-1), "DoMeasure(-1)");
  Armed();
}

bool CaptureSession::PollEngine() {
  api_.RK350_ProcessMessages();  // runs the engine's timer on this thread
  if (api_.RK350_TakeMeasurementReady() == 0) {
    ForceWhenTimedOut();  // the library is given no time-out of its own
    return false;
  }
  Armed();  // the engine arms the next run as it hands this record over
  return true;
}

void CaptureSession::StopEngine() { Check(api_.DoMeasure(0), "DoMeasure(0)"); }

void CaptureSession::RunContinuous(const Readout& readout, const std::function<void(const Record&, int)>& show) {
  StartEngine();
  // Every record the engine finishes is counted; the summary is refreshed
  // at most four times a second (and after the last record).
  const auto refresh = std::chrono::milliseconds(250);
  int records = 0;
  auto lastShown = Clock::now() - refresh;
  while (!gInterrupted && (readout.count == 0 || records < readout.count)) {
    if (!PollEngine()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ++records;
    const bool last = readout.count != 0 && records == readout.count;
    if (!last && Clock::now() - lastShown < refresh) continue;
    lastShown = Clock::now();
    show(ReadEngineRecord(readout.raw), records);
  }
  StopEngine();
}

Record CaptureSession::ReadEngineRecord(bool raw) {
  Record record = EmptyRecord();
  const auto length = static_cast<std::size_t>(std::max<int32_t>(0, api_.GetRecordLength()));
  std::vector<double> v1(length), v2(length);
  Check(api_.GetMeasurement(v1.data(), v2.data()), "GetMeasurement");
  std::vector<uint16_t> r1(raw ? length : 0), r2(r1.size());
  if (raw) Check(api_.GetMeasurementRaw(r1.data(), r2.data()), "GetMeasurementRaw");
  for (auto& trace : record.channels) {
    trace.volts = trace.channel == 1 ? v1 : v2;
    if (raw) {
      record.codes.emplace_back();
      for (uint16_t code : trace.channel == 1 ? r1 : r2) record.codes.back().push_back(static_cast<uint8_t>(code >> 8));
    }
    MarkHeldSamples(trace, static_cast<uint16_t>(trace.channel));
  }
  NoteHowTaken(record);
  return record;
}

}  // namespace rk350::capture
