#include "scpi/scpi_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "core/instrument_identity.h"
#include "core/scope_settings_json.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#include "scpi/bench_dialect.h"
#include "scpi/bench_scales.h"
#include "scpi/scpi_errors.h"
#include "scpi/scpi_settings.h"
#include "scpi/settings_slots.h"

namespace rk350::scpi {

using namespace std::chrono_literals;

// A command refused: the error goes to the queue, the rest of the message is dropped.
struct Refused {
  Error error;
};

[[noreturn]] void Refuse(Error error) { throw Refused{std::move(error)}; }

struct Entry;

struct Session::Call {
  Session& session;
  const Command& command;
  const Entry& entry;
  int suffix;  // the numeric suffix of the header's suffixed node (CHANnel<n>), 1 when none
  std::string response;
};

namespace {

// The device-specific number of "the card runs another value than asked"
// (positive: the standard leaves those to the instrument).
constexpr int kValueAdjusted = 1;

// ---- Parameters ---------------------------------------------------------------------

// The command whose parameters a handler counted last: a handler that counts
// none takes none, and its command's parameters are refused (-108).
thread_local const Command* tCounted = nullptr;

void CountParameters(const Command& c, std::size_t least, std::size_t most) {
  tCounted = &c;
  if (c.parameters.size() < least) Refuse(kMissingParameter());
  if (c.parameters.size() > most) Refuse(kParameterNotAllowed());
}

// A number whose suffix, if written, is `unit` ("" for none).
double Number(const Parameter& p, const char* unit) {
  Error error;
  const auto number = ReadNumber(p, unit, error);
  if (!number) throw Refused{error};
  return *number;
}

bool Boolean(const Parameter& p) {
  Error error;
  const auto on = ReadBoolean(p, error);
  if (!on) throw Refused{error};
  return *on;
}

}  // namespace

using Call = Session::Call;

// What a command may do.
enum EntryFlags : unsigned {
  kReadsOnly = 0,
  kChanges = 1,  // refused while another connection holds the lock
  kOpen = 2,     // allowed before the token was sent
};

// One header of the tree.
struct Entry {
  const char* header;           // the pattern: optional nodes in brackets, '#' a numeric suffix
  void (*command)(Call&);       // null: no command form
  void (*query)(Call&);         // null: no query form
  unsigned flags = kReadsOnly;  // EntryFlags
  int highestSuffix = 1;        // of a suffixed node (channels 1 .. 2)
  // The row of a setting's header, the figure of a measurement's.
  const ScpiSetting* setting = nullptr;
  const tools::Quantity* quantity = nullptr;
};

std::uint8_t Mask(Call& c) {
  CountParameters(c.command, 1, 1);
  const double v = Number(c.command.parameters[0], "");
  if (v < 0 || v > 255 || v != std::nearbyint(v)) Refuse(kDataOutOfRange("0 to 255"));
  return static_cast<std::uint8_t>(v);
}

// ---- Handlers ---------------------------------------------------------------------

struct Handlers {
  using Call = Session::Call;
  static std::span<const Entry> Commands();
  static std::span<const Entry> BenchDialect();

  static scope::InstrumentThread& Instrument(Call& c) { return c.session.shared_.instrument; }

  // Applies a request as the page does; a refusal becomes the error the
  // standard has for it, carrying the result's name and meaning.
  static scope::Snapshot Apply(Call& c, scope::SettingsRequest request) {
    scope::Outcome outcome = Instrument(c).Apply(std::move(request));
    if (outcome.Done()) {
      ReportAdjustments(c, outcome.adjusted);
      return std::move(outcome.snapshot);
    }
    if (!outcome.answered) Refuse(kDeviceSpecificError(outcome.message));
    // The text names the library's result and its meaning already: said once.
    if (outcome.result == RK350_RESULT_INVALID_VALUE) Refuse(kDataOutOfRange(outcome.message));
    // Any other refusal of the library: its result code as the instrument's own error number.
    Refuse({static_cast<int>(outcome.result), outcome.resultName + ": " + outcome.meaning + "; " + outcome.message});
  }

  // A value the card runs other than asked is no refusal: the command took
  // effect, and the queue says with which value (the query returns it).
  // Pushed directly: the command runs under the execution lock already.
  static void ReportAdjustments(Call& c, const std::vector<scope::Adjustment>& adjusted) {
    for (const auto& a : adjusted) {
      const std::string unit = *a.setting->unit != '\0' ? std::string(" ") + a.setting->unit : "";
      const auto shown = [&](const capture::SettingValue& v) {
        return capture::FormatSettingValue(*a.setting, v) + unit;
      };
      c.session.status_.Push({kValueAdjusted, "Value adjusted;" + std::string(a.setting->key) + " runs at " +
                                                  shown(a.running) + " (asked for " + shown(a.asked) + ")"});
    }
  }

  // A setting: the parameter read by its table row, applied as the page applies it.
  static void Setting(Call& c) {
    const ScpiSetting& setting = *c.entry.setting;
    CountParameters(c.command, 1, 1);
    const capture::CardSetting& row = Row(setting, c.suffix);
    Error error;
    const auto value = ReadSetting(setting, row, c.command.parameters[0], error);
    if (!value) throw Refused{error};
    Apply(c, {.changes = {{&row, *value}}});
  }

  static void SettingQuery(Call& c) {
    const ScpiSetting& setting = *c.entry.setting;
    CountParameters(c.command, 0, 0);
    const capture::CardSetting& row = Row(setting, c.suffix);
    c.response = FormatSetting(setting, row, row.Get(Instrument(c).Settings().options));
  }

  static const capture::CardSetting& Row(const ScpiSetting& setting, int channel) {
    const auto* row = TableRow(setting, channel);
    if (row == nullptr) Refuse(kDeviceSpecificError("no setting " + TableKey(setting, channel)));
    return *row;
  }

  static void Acquisition(Call& c, scope::Acquisition mode) {
    CountParameters(c.command, 0, 0);
    scope::SettingsRequest request;
    request.acquisition = mode;
    const auto state = Apply(c, std::move(request));
    c.session.awaited_.reset();
    c.session.pending_ = false;
    c.session.armedVersion_ = 0;
    if (mode == scope::Acquisition::Single) {
      c.session.pending_ = true;
      c.session.armedVersion_ = c.session.pendingVersion_ = state.version;
    }
  }

  static void Reset(Call& c) {
    CountParameters(c.command, 0, 0);
    Apply(c, scope::RequestForAll(scope::DefaultSettings(Instrument(c).Offer().card.virtualCard)));
    c.session.waveformSource_ = 1;
    c.session.format_ = WaveformFormat::Byte;
    c.session.segment_ = 0;
    c.session.pending_ = false;
    c.session.armedVersion_ = 0;
    c.session.awaited_.reset();
    Instrument(c).Control().Release(c.session.id_);  // a reset client starts afresh, without the lock
  }

  static void Identity(Call& c) {
    const auto id = scope::IdentityOf(Instrument(c).Offer());
    c.response = id.manufacturer + "," + id.model + "," + id.serial + "," + id.firmware;
  }

  static int ChannelParameter(Call& c, int fallback) {
    CountParameters(c.command, 0, 1);
    if (c.command.parameters.empty()) return fallback;
    const Parameter& p = c.command.parameters[0];
    int n = 0;
    if (p.kind != Parameter::Kind::Word || !MatchMnemonic("CHANnel", p.text, &n))
      Refuse(kIllegalParameterValue("CHANnel1 or CHANnel2"));
    if (n < 1 || n > 2) Refuse(kIllegalParameterValue("CHANnel1 or CHANnel2"));
    return n;
  }

  // The trace of a channel in the record, or a refusal naming why there is none.
  static const capture::ChannelTrace& Trace(const scope::Frame& frame, int channel, std::size_t* index = nullptr) {
    const std::string name = "CH" + std::to_string(channel);
    for (std::size_t i = 0; i < frame.record.channels.size(); ++i)
      if (frame.record.channels[i].name == name) {
        if (index != nullptr) *index = i;
        return frame.record.channels[i];
      }
    Refuse(kDataStale("the record holds no " + name + " (:CHANnel" + std::to_string(channel) + ":DISPlay ON)"));
  }

  static std::shared_ptr<const scope::Frame> Frame(Call& c) {
    auto frame = c.session.Record();
    if (!frame && c.session.segment_ != 0)
      Refuse(
          kDataStale("record " + std::to_string(c.session.segment_) + " is no longer kept (" + KeptRecords(c) + ")"));
    if (!frame) Refuse(kDataStale("no record yet"));
    return frame;
  }

  // "kept: 120 to 219", or why none is.
  static std::string KeptRecords(Call& c) {
    const auto& records = Instrument(c).Records();
    if (records.Capacity() == 0) return "no records are kept: start the scope with --history N";
    const auto [oldest, newest] = records.Span();
    return oldest == 0 ? "none kept yet" : "kept: " + std::to_string(oldest) + " to " + std::to_string(newest);
  }

  // A kept record by its sequence number, or 0 for the newest; one that is
  // not kept is refused and the selection stays.
  static void SelectSegment(Call& c) {
    CountParameters(c.command, 1, 1);
    const double n = Number(c.command.parameters[0], "");
    if (!(n >= 0 && n <= 9007199254740992.0) || n != std::nearbyint(n))
      Refuse(kIllegalParameterValue("a record's sequence number, or 0 for the newest"));
    const auto sequence = static_cast<std::uint64_t>(n);
    if (sequence != 0 && !Instrument(c).Records().Find(sequence))
      Refuse(kDataOutOfRange("record " + std::to_string(sequence) + " is not kept (" + KeptRecords(c) + ")"));
    c.session.segment_ = sequence;
    c.session.pinned_.reset();  // the rest of the message reads the record selected
  }

  // How the record the waveform queries read was taken, as the library reported it.
  static void TriggerStatus(Call& c) {
    CountParameters(c.command, 0, 0);
    static constexpr const char* kNames[] = {"TRIG", "FORC", "FREE", "UNKN"};  // in scope::TriggerStatus's order
    c.response = kNames[static_cast<int>(scope::TriggerStatusOf(Frame(c)->record))];
  }

  // When the record was published, in seconds since 1970-01-01 UTC.
  static void SegmentTime(Call& c) {
    CountParameters(c.command, 0, 0);
    const auto since = Frame(c)->hostTime.time_since_epoch();
    char text[40];
    std::snprintf(text, sizeof text, "%.6f", std::chrono::duration<double>(since).count());
    c.response = text;
  }

  // A figure of the measurement module; 9.91E37 (not a number) where the
  // record gives none (no frequency of a DC input, no rise time without an edge).
  static void Measure(Call& c) {
    const tools::Quantity& quantity = *c.entry.quantity;
    const int channel = ChannelParameter(c, c.session.waveformSource_);
    const auto frame = Frame(c);
    std::size_t index = 0;
    Trace(*frame, channel, &index);
    const auto& measured = frame->Measured().measurements[index];
    c.response = FormatNumber(RoundedFigure(quantity, measured, quantity.read(measured).value_or(NAN)));
  }

  // A figure to the digits it holds: the frequency and the period to their
  // fit's uncertainty, the others (from 8-bit samples) to six significant
  // digits, so no binary rounding noise (0.00029639999999999983) is shown.
  static double RoundedFigure(const tools::Quantity& quantity, const tools::Measurements& m, double value) {
    if (!std::isfinite(value) || value == 0) return value;
    const std::string_view key = quantity.key;
    if (m.frequency && m.frequency->hertz > 0 && (key == "frequency" || key == "period")) {
      const double relative = m.frequency->uncertainty / m.frequency->hertz;
      // Divided by a power of ten, not multiplied by its inverse: 999.942, not 999.9420000000001.
      const double scale = std::pow(10.0, tools::DecimalsFor(relative * std::fabs(value), 1.0));
      return std::round(value * scale) / scale;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return std::strtod(text, nullptr);
  }

  static void WaveformData(Call& c) {
    CountParameters(c.command, 0, 0);
    const auto frame = Frame(c);
    const auto& trace = Trace(*frame, c.session.waveformSource_);
    c.response = WaveformBlock(trace, c.session.format_);
  }

  static void Preamble(Call& c) {
    CountParameters(c.command, 0, 0);
    const auto frame = Frame(c);
    const auto& trace = Trace(*frame, c.session.waveformSource_);
    const int averaged = Instrument(c).Settings().options.average;
    c.response = WaveformPreamble(frame->record, trace, c.session.format_, averaged);
  }

  // A block of big-endian unsigned 16-bit samples: loaded and played.
  static void ArbitraryData(Call& c) {
    CountParameters(c.command, 1, 1);
    const Parameter& p = c.command.parameters[0];
    if (p.kind != Parameter::Kind::Block) Refuse(kDataTypeError("a definite-length block is expected"));
    constexpr std::size_t kMemorySamples = 65536;
    if (p.text.empty() || p.text.size() % 2 != 0 || p.text.size() / 2 > kMemorySamples)
      Refuse(kDataOutOfRange("1 to 65536 samples of two bytes each"));
    auto samples = std::make_shared<std::vector<std::uint16_t>>(p.text.size() / 2);
    for (std::size_t i = 0; i < samples->size(); ++i)
      (*samples)[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(p.text[2 * i]) << 8 |
                                                 static_cast<unsigned char>(p.text[2 * i + 1]));
    Apply(c, {.changes = {{capture::FindSettingByKey("generator.type"), static_cast<double>(RK350_GEN_ARBITRARY)}},
              .waveform = std::move(samples)});
  }

  // The recording into the directory of --record-dir.
  static scope::ScopeRecording& Recording(Call& c) {
    auto* recording = Instrument(c).Recording();
    if (recording == nullptr || !recording->Available())
      Refuse(kSettingsConflict("recording is off: start the scope with --record-dir DIR"));
    return *recording;
  }

  // "name.h5"[,<records>[,<seconds>[,<bytes>]]]: the limits 0 or left out for none.
  static void RecordStart(Call& c) {
    CountParameters(c.command, 1, 4);
    const auto& p = c.command.parameters;
    if (p[0].kind != Parameter::Kind::String) Refuse(kDataTypeError("the file name as a string"));
    const auto whole = [&](std::size_t i, const char* unit, const char* what) -> double {
      if (i >= p.size()) return 0;
      const double v = Number(p[i], unit);
      if (!(v >= 0) || v > 1e18 || (*unit == '\0' && v != std::floor(v))) Refuse(kDataOutOfRange(what));
      return v;
    };
    scope::RecordingRequest request{
        .name = p[0].text,
        .count = static_cast<std::uint64_t>(whole(1, "", "records: a whole number, 0 for no limit")),
        .seconds = whole(2, "S", "seconds: 0 for no limit"),
        .maxBytes = static_cast<std::uint64_t>(whole(3, "", "bytes: a whole number, 0 for no limit"))};
    const std::string error = Recording(c).Start(request);
    if (!error.empty())
      Refuse(scope::ScopeRecording::NameHasForm(request.name) ? kSettingsConflict(error)
                                                              : kIllegalParameterValue(error));
  }

  static void RecordQuery(Call& c, std::string (*answer)(const scope::RecordingState&)) {
    CountParameters(c.command, 0, 0);
    c.response = answer(Recording(c).State());
  }

  static void Valid(Call& c) {
    CountParameters(c.command, 0, 0);
    const auto frame = Frame(c);
    std::size_t first = 0, count = 0;
    scope::HeldRange(Trace(*frame, c.session.waveformSource_), first, count);
    c.response = std::to_string(first) + "," + std::to_string(count);
  }

  // ---- The common bench dialect: a screen of divisions over the settings (bench_scales.h) ----

  // A figure the dialect computes from what the card runs, to the digits
  // its factors hold (0.0003, not 0.00030000000000000003).
  static std::string Derived(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", value);
    return FormatNumber(std::strtod(text, nullptr));
  }

  // A value the dialect shows other than asked (the rows it maps onto say why, before it).
  static void ReportShown(Call& c, const char* what, double asked, double running, const char* unit) {
    if (std::fabs(running - asked) > 1e-9 * std::fabs(asked))
      c.session.status_.Push({kValueAdjusted, "Value adjusted;" + std::string(what) + " runs at " + Derived(running) +
                                                  " " + unit + " (asked for " + FormatNumber(asked) + " " + unit +
                                                  ")"});
  }

  static double PositiveNumber(Call& c, const char* unit) {
    CountParameters(c.command, 1, 1);
    const double v = Number(c.command.parameters[0], unit);
    if (!(v > 0)) Refuse(kDataOutOfRange(std::string("above 0 ") + unit));
    return v;
  }

  // A row's value the dialect computed, held to the row's own limits as a
  // value read for that row would be (a scale of 1E-320 S asks an infinite rate).
  static scope::SettingChange Mapped(const char* key, double value) {
    const capture::CardSetting& row = *capture::FindSettingByKey(key);
    const std::string why = capture::CheckSettingNumber(row, value);
    if (!why.empty()) Refuse(kDataOutOfRange(std::string(key) + " " + FormatNumber(value) + " " + why));
    return {&row, value};
  }

  // The record's span as the card runs it: its rate and length.
  static scope::Reached Timebase(Call& c) {
    const auto reached = Instrument(c).State().reached;
    if (!(reached.rate > 0) || reached.samples == 0) Refuse(kDataStale("the card reports no rate yet"));
    return reached;
  }

  // Seconds per division: the rate at which the record length spans the screen.
  static void TimebaseScale(Call& c) {
    const double scale = PositiveNumber(c, "S");
    const auto reached = Timebase(c);
    const auto state = Apply(c, {.changes = {Mapped("rate", RateForTimebaseScale(scale, reached.samples))}});
    ReportShown(c, "timebase scale", scale, TimebaseScaleOf(state.reached.rate, state.reached.samples), "s");
  }

  // The screen's centre relative to the trigger: the pre-trigger share that puts it there.
  static void TimebasePosition(Call& c) {
    CountParameters(c.command, 1, 1);
    const double position = Number(c.command.parameters[0], "S");
    const auto reached = Timebase(c);
    const double span = static_cast<double>(reached.samples) / reached.rate;
    const double percent = PreTriggerPercentFor(position, span);
    if (!capture::CheckSettingNumber(*capture::FindSettingByKey("preTrigger"), percent).empty())
      Refuse(kDataOutOfRange("within " + FormatNumber(-span / 2) + " .. " + FormatNumber(span / 2) +
                             " S (half the record either side of the trigger)"));
    const auto state = Apply(c, {.changes = {Mapped("preTrigger", percent)}});
    const auto& r = state.reached;
    ReportShown(c, "timebase position", position, TimebasePositionOf(r.rate, r.samples, r.preSamples), "s");
  }

  // Volts per division: the range whose span fills the screen's divisions.
  static void ChannelScale(Call& c) {
    const double scale = PositiveNumber(c, "V");
    const std::string key = "ch" + std::to_string(c.suffix) + ".range";
    const auto state = Apply(c, {.changes = {Mapped(key.c_str(), RangeForChannelScale(scale))}});
    if (const auto range = RunningRange(state, c.suffix))
      ReportShown(c, ("ch" + std::to_string(c.suffix) + " scale").c_str(), scale, ChannelScaleOf(*range), "V");
  }

  // The range a channel runs: as the library reports it, else as set (nothing while automatic).
  static std::optional<double> RunningRange(const scope::Snapshot& state, int channel) {
    if (const auto& r = state.reached.ranges[static_cast<std::size_t>(channel - 1)]) return r;
    return state.settings.options.channels[static_cast<std::size_t>(channel - 1)].range;
  }

  static void ChannelScaleQuery(Call& c) {
    CountParameters(c.command, 0, 0);
    const auto range = RunningRange(Instrument(c).State(), c.suffix);
    if (!range) Refuse(kDataStale("the automatic range is not known yet"));
    c.response = Derived(ChannelScaleOf(*range));
  }

  static void AllChannels(Call& c) {
    CountParameters(c.command, 0, 0);
    c.response = AllChannelsBlock(Frame(c)->record, c.session.format_);
  }

  // *SAV n / *RCL n: the number of a saved setup.
  static SettingSlots Slots(Call& c, int& slot) {
    CountParameters(c.command, 1, 1);
    const double n = Number(c.command.parameters[0], "");
    if (n < 0 || n >= kSettingSlots || n != std::nearbyint(n))
      Refuse(kDataOutOfRange("0 to " + std::to_string(kSettingSlots - 1)));
    slot = static_cast<int>(n);
    std::string error;
    const auto folder = SettingSlotFolder(error);
    if (!folder) Refuse(kGenericExecutionError(error));
    return SettingSlots(*folder);
  }

  // Every row of the settings table as the page's JSON has it (run or stop is not a setting to keep).
  static void Save(Call& c) {
    int slot = 0;
    const SettingSlots slots = Slots(c, slot);
    auto json = scope::SettingsToJson(Instrument(c).Settings());
    json.erase("acquisition");
    std::string error;
    if (!slots.Save(slot, json.dump(2) + "\n", error)) Refuse(kGenericExecutionError(error));
  }

  // The saved rows applied as one request: refused, nothing changes.
  static void Recall(Call& c) {
    int slot = 0;
    const SettingSlots slots = Slots(c, slot);
    std::string error;
    const auto text = slots.Load(slot, error);
    if (!text)
      Refuse(kGenericExecutionError(error.empty() ? "setup " + std::to_string(slot) + " is empty (*SAV it first)"
                                                  : error));
    const std::string where = slots.PathOf(slot).string() + ": ";
    if (scope::JsonNestingDepth(*text) > scope::kMaxSettingsDepth)
      Refuse(kGenericExecutionError(where + "nested too deep"));
    const auto json = nlohmann::json::parse(*text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) Refuse(kGenericExecutionError(where + "not a settings object"));
    auto request = scope::RequestFromJson(json, error);
    if (!request) Refuse(kGenericExecutionError(where + error));
    request->acquisition.reset();  // run or stop stays as it is
    Apply(c, std::move(*request));
  }

  // Probing records, then ranges, rate and trigger at once; giving up restores the settings before.
  static void Autoscale(Call& c) {
    CountParameters(c.command, 0, 0);
    const scope::ScopeSettings original = Instrument(c).Settings();
    const auto restore = [&] { Instrument(c).Apply(scope::RequestForAll(original)); };
    const AutoscaleResult result = ProbeForAutoscale(Instrument(c), original);
    if (!result.request) {
      restore();
      Refuse(kGenericExecutionError("autoscale: " + result.failure + "; the settings are kept"));
    }
    try {
      Apply(c, *result.request);
    } catch (const Refused&) {
      restore();
      throw;
    }
    if (!result.note.empty()) c.session.status_.Push({kValueAdjusted, "Autoscale;" + result.note});
  }
};

std::span<const Entry> Handlers::Commands() {
  using H = Handlers;
  static constexpr Entry kCommands[] = {
      {"[:SOURce]:ARBitrary:DATA", [](Call& c) { H::ArbitraryData(c); }, nullptr, kChanges},
      {"[:SOURce]:ARBitrary:POINts", nullptr,
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         c.response = std::to_string(H::Instrument(c).State().reached.arbitraryPoints);
       },
       kReadsOnly},
      {":SYSTem:TOKen",
       [](Call& c) {
         CountParameters(c.command, 1, 1);
         const Parameter& p = c.command.parameters[0];
         if (p.kind != Parameter::Kind::String) Refuse(kDataTypeError("the token as a string"));
         // Every byte compared, whatever the first difference.
         const std::string& token = c.session.shared_.token;
         unsigned difference = token.size() != p.text.size() ? 1u : 0u;
         for (std::size_t i = 0; i < p.text.size(); ++i)
           difference |= static_cast<unsigned char>(p.text[i]) ^
                         static_cast<unsigned char>(token.empty() ? 0 : token[i % token.size()]);
         if (token.empty() || difference != 0) Refuse(kIllegalParameterValue("not the scope's token"));
         if (!c.session.admitted_ && !c.session.shared_.takePlace(c.session.id_))
           Refuse(kSystemError("every place for an admitted connection is taken"));
         c.session.admitted_ = true;
       },
       nullptr, kOpen},
      {"*IDN", nullptr, [](Call& c) { H::Identity(c); }, kOpen},
      {"*RST", [](Call& c) { H::Reset(c); }, nullptr, kChanges},
      {"*CLS",
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         c.session.status_.Clear();
       },
       nullptr, kReadsOnly},
      {"*ESE", [](Call& c) { c.session.status_.SetEventEnable(Mask(c)); },
       [](Call& c) { c.response = std::to_string(c.session.status_.EventEnable()); }, kReadsOnly},
      {"*ESR", nullptr,
       [](Call& c) {
         CountParameters(c.command, 0, 0);  // before the events are read and cleared
         c.response = std::to_string(c.session.status_.ReadEvents());
       },
       kReadsOnly},
      {"*SRE", [](Call& c) { c.session.status_.SetServiceEnable(Mask(c)); },
       [](Call& c) { c.response = std::to_string(c.session.status_.ServiceEnable()); }, kReadsOnly},
      {"*STB", nullptr,
       [](Call& c) {
         c.session.RefreshOperation();
         c.response = std::to_string(c.session.status_.StatusByte());
       },
       kReadsOnly},
      {":STATus:OPERation:CONDition", nullptr,
       [](Call& c) {
         c.session.RefreshOperation();
         c.response = std::to_string(c.session.status_.OperationCondition());
       },
       kReadsOnly},
      {":STATus:OPERation[:EVENt]", nullptr,
       [](Call& c) {
         c.session.RefreshOperation();
         c.response = std::to_string(c.session.status_.ReadOperationEvents());
       },
       kReadsOnly},
      {":STATus:OPERation:ENABle",
       [](Call& c) {
         CountParameters(c.command, 1, 1);
         const double v = Number(c.command.parameters[0], "");
         if (v < 0 || v > 32767 || v != std::nearbyint(v)) Refuse(kDataOutOfRange("0 to 32767"));
         c.session.status_.SetOperationEnable(static_cast<std::uint16_t>(v));
       },
       [](Call& c) { c.response = std::to_string(c.session.status_.OperationEnable()); }, kReadsOnly},
      {":STATus:PRESet",
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         c.session.status_.SetOperationEnable(0);
       },
       nullptr, kReadsOnly},
      {"*OPC", [](Call& c) { c.session.opcRequested_ = c.session.waitRequested_ = true; },
       [](Call& c) { c.session.opcQuery_ = c.session.waitRequested_ = true; }, kReadsOnly},
      {"*WAI", [](Call& c) { c.session.waitRequested_ = true; }, nullptr, kReadsOnly},
      // The card answered when the scope opened it, and the instrument thread runs.
      {"*TST", nullptr, [](Call& c) { c.response = "0"; }, kReadsOnly},
      {":SYSTem:ERRor[:NEXT]", nullptr,
       [](Call& c) {
         CountParameters(c.command, 0, 0);  // before the error leaves the queue
         c.response = c.session.status_.PopError();
       },
       kOpen},
      {":SYSTem:ERRor:COUNt", nullptr, [](Call& c) { c.response = std::to_string(c.session.status_.ErrorCount()); },
       kOpen},
      {":SYSTem:VERSion", nullptr, [](Call& c) { c.response = "1999.0"; }, kReadsOnly},
      {":SYSTem:LOCK",
       [](Call& c) {
         CountParameters(c.command, 1, 1);
         auto& control = H::Instrument(c).Control();
         if (!Boolean(c.command.parameters[0]))
           control.Release(c.session.id_);
         else if (!control.Take(c.session.id_))
           Refuse(kCommandProtected("another connection holds the lock"));
       },
       [](Call& c) { c.response = H::Instrument(c).Control().HeldBy(c.session.id_) ? "1" : "0"; }, kReadsOnly},
      {":RECord:STARt", [](Call& c) { H::RecordStart(c); }, nullptr, kChanges},
      {":RECord:STOP",
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         H::Recording(c).Stop();
       },
       nullptr, kChanges},
      {":RECord:STATe", nullptr,
       [](Call& c) {
         H::RecordQuery(c, [](const scope::RecordingState& r) -> std::string { return r.active ? "1" : "0"; });
       },
       kReadsOnly},
      {":RECord:COUNt", nullptr,
       [](Call& c) {
         H::RecordQuery(c, [](const scope::RecordingState& r) { return std::to_string(r.recorder.written); });
       },
       kReadsOnly},
      {":RECord:LOST", nullptr,
       [](Call& c) {
         H::RecordQuery(c, [](const scope::RecordingState& r) { return std::to_string(r.recorder.lost); });
       },
       kReadsOnly},
      {":RECord:SIZE", nullptr,
       [](Call& c) {
         H::RecordQuery(c, [](const scope::RecordingState& r) { return std::to_string(r.recorder.bytes); });
       },
       kReadsOnly},
      {":RECord:FILE", nullptr,
       [](Call& c) { H::RecordQuery(c, [](const scope::RecordingState& r) { return QuotedString(r.name); }); },
       kReadsOnly},
      {":RECord:REASon", nullptr,
       [](Call& c) { H::RecordQuery(c, [](const scope::RecordingState& r) { return QuotedString(r.ended); }); },
       kReadsOnly},
      {":RUN", [](Call& c) { H::Acquisition(c, scope::Acquisition::Run); }, nullptr, kChanges},
      {":STOP", [](Call& c) { H::Acquisition(c, scope::Acquisition::Stop); }, nullptr, kChanges},
      {":SINGle", [](Call& c) { H::Acquisition(c, scope::Acquisition::Single); }, nullptr, kChanges},
      {":DIGitize",
       [](Call& c) {
         H::Acquisition(c, scope::Acquisition::Single);
         c.session.waitRequested_ = true;
       },
       nullptr, kChanges},
      {":ACQuire:STATe", nullptr,
       [](Call& c) {
         const auto a = H::Instrument(c).Settings().acquisition;
         c.response = a == scope::Acquisition::Run ? "RUN" : a == scope::Acquisition::Single ? "SING" : "STOP";
       },
       kReadsOnly},
      {":WAVeform:SOURce",
       [](Call& c) {
         CountParameters(c.command, 1, 1);
         c.session.waveformSource_ = H::ChannelParameter(c, 1);
       },
       [](Call& c) { c.response = "CHAN" + std::to_string(c.session.waveformSource_); }, kReadsOnly},
      {":WAVeform:FORMat",
       [](Call& c) {
         CountParameters(c.command, 1, 1);
         const Parameter& p = c.command.parameters[0];
         const bool word = p.kind == Parameter::Kind::Word;
         if (word && MatchMnemonic("BYTE", p.text, nullptr))
           c.session.format_ = WaveformFormat::Byte;
         else if (word && MatchMnemonic("WORD", p.text, nullptr))
           c.session.format_ = WaveformFormat::Word;
         else if (word && MatchMnemonic("ASCii", p.text, nullptr))
           c.session.format_ = WaveformFormat::Ascii;
         else
           Refuse(kIllegalParameterValue("BYTE, WORD or ASCii"));
       },
       [](Call& c) {
         const char* names[] = {"BYTE", "WORD", "ASC"};
         c.response = names[static_cast<int>(c.session.format_)];
       },
       kReadsOnly},
      {":WAVeform:DATA", nullptr, [](Call& c) { H::WaveformData(c); }, kReadsOnly},
      {":WAVeform:PREamble", nullptr, [](Call& c) { H::Preamble(c); }, kReadsOnly},
      {":WAVeform:VALid", nullptr, [](Call& c) { H::Valid(c); }, kReadsOnly},
      {":WAVeform:SEQuence", nullptr,
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         c.response = std::to_string(H::Frame(c)->sequence);
       },
       kReadsOnly},
      {":WAVeform:POINts", nullptr,
       [](Call& c) {
         std::size_t first = 0, count = 0;
         scope::HeldRange(H::Trace(*H::Frame(c), c.session.waveformSource_), first, count);
         c.response = std::to_string(count);
       },
       kReadsOnly},
      {":TRIGger:STATus", nullptr, [](Call& c) { H::TriggerStatus(c); }, kReadsOnly},
      // The kept records (--history): which one the record queries read, and what each was.
      {":WAVeform:SEGMent", [](Call& c) { H::SelectSegment(c); },
       [](Call& c) { c.response = std::to_string(c.session.segment_); }, kReadsOnly},
      {":WAVeform:SEGMent:TIME", nullptr, [](Call& c) { H::SegmentTime(c); }, kReadsOnly},
      {":WAVeform:SEGMent:STATus", nullptr, [](Call& c) { H::TriggerStatus(c); }, kReadsOnly},
      {":ACQuire:SEGMented:COUNt", nullptr,
       [](Call& c) { c.response = std::to_string(H::Instrument(c).Records().Count()); }, kReadsOnly},
      {":ACQuire:SEGMented:RANGe", nullptr,
       [](Call& c) {
         const auto [oldest, newest] = H::Instrument(c).Records().Span();
         c.response = std::to_string(oldest) + "," + std::to_string(newest);
       },
       kReadsOnly},
      {":WAVeform:OVERrange", nullptr,
       [](Call& c) { c.response = H::Trace(*H::Frame(c), c.session.waveformSource_).overrange ? "1" : "0"; },
       kReadsOnly},
  };
  return kCommands;
}

// The headers of the common bench dialect; each maps onto rows of the settings table (docs/scpi.md).
std::span<const Entry> Handlers::BenchDialect() {
  using H = Handlers;
  static constexpr Entry kCommands[] = {
      {":TIMebase[:MAIN]:SCALe", [](Call& c) { H::TimebaseScale(c); },
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         const auto r = H::Timebase(c);
         c.response = H::Derived(TimebaseScaleOf(r.rate, r.samples));
       },
       kChanges},
      {":TIMebase[:MAIN]:POSition", [](Call& c) { H::TimebasePosition(c); },
       [](Call& c) {
         CountParameters(c.command, 0, 0);
         const auto r = H::Timebase(c);
         c.response = H::Derived(TimebasePositionOf(r.rate, r.samples, r.preSamples));
       },
       kChanges},
      {":CHANnel#:SCALe", [](Call& c) { H::ChannelScale(c); }, [](Call& c) { H::ChannelScaleQuery(c); }, kChanges, 2},
      {":WAVeform:DATA:ALL", nullptr, [](Call& c) { H::AllChannels(c); }, kReadsOnly},
      {"*SAV", [](Call& c) { H::Save(c); }, nullptr, kReadsOnly},
      {"*RCL", [](Call& c) { H::Recall(c); }, nullptr, kChanges},
      {":AUToscale", [](Call& c) { H::Autoscale(c); }, nullptr, kChanges},
  };
  return kCommands;
}

namespace {

// Every header: the settings table's (each row's SCPI column), the
// commands', the measurement table's.
const std::vector<Entry>& Table() {
  static const std::vector<Entry> table = [] {
    std::vector<Entry> t;
    for (const auto& setting : ScpiSettings())
      t.push_back({setting.header, Handlers::Setting, Handlers::SettingQuery, kChanges, 2, &setting});
    for (const auto& entry : Handlers::Commands()) t.push_back(entry);
    for (const auto& entry : Handlers::BenchDialect()) t.push_back(entry);
    for (const auto& quantity : tools::Quantities())
      if (quantity.scpi != nullptr)
        t.push_back({quantity.scpi, nullptr, Handlers::Measure, kReadsOnly, 1, nullptr, &quantity});
    return t;
  }();
  return table;
}

// One node of a header pattern.
struct Node {
  std::string mnemonic;
  bool optional = false;
  bool suffixed = false;
};

std::vector<Node> Nodes(const char* header) {
  std::vector<Node> nodes;
  std::string h = header;
  bool optional = false;
  std::size_t i = 0;
  if (h[0] == '*') return {{h, false, false}};
  while (i < h.size()) {
    if (h[i] == '[') {
      optional = true;
      ++i;
    }
    if (h[i] == ':') ++i;
    Node n;
    while (i < h.size() && h[i] != ':' && h[i] != '[' && h[i] != ']') n.mnemonic += h[i++];
    if (!n.mnemonic.empty() && n.mnemonic.back() == '#') {
      n.mnemonic.pop_back();
      n.suffixed = true;
    }
    n.optional = optional;
    if (i < h.size() && h[i] == ']') {
      optional = false;
      ++i;
    }
    nodes.push_back(n);
  }
  return nodes;
}

// Whether the written path matches the pattern's nodes from `n` on;
// `suffix` gets the suffixed node's number.
bool Matches(const std::vector<Node>& nodes, std::size_t n, const std::vector<std::string>& path, std::size_t p,
             int& suffix, bool& suffixSeen) {
  if (n == nodes.size()) return p == path.size();
  const Node& node = nodes[n];
  if (p < path.size()) {
    int s = 1;
    if (MatchMnemonic(node.mnemonic, path[p], node.suffixed ? &s : nullptr)) {
      int inner = suffix;
      bool seen = suffixSeen;
      if (node.suffixed) inner = s, seen = true;
      if (Matches(nodes, n + 1, path, p + 1, inner, seen)) {
        suffix = inner;
        suffixSeen = seen;
        return true;
      }
    }
  }
  return node.optional && Matches(nodes, n + 1, path, p, suffix, suffixSeen);
}

}  // namespace

Session::Session(SharedState& shared, int id) : shared_(shared), id_(id), admitted_(shared.token.empty()) {}

void Session::RefreshOperation() {
  std::uint16_t condition = 0;
  if (armedVersion_ != 0) {
    const auto progress = shared_.instrument.SettingsProgress();
    if (shared_.instrument.RecordFor(armedVersion_))
      condition = kRecordReady;
    else if (progress.configVersion > armedVersion_ || progress.stopVersion > armedVersion_)
      armedVersion_ = 0;  // it will not come: neither waiting nor ready
    else
      condition = kWaitingForTrigger;
  }
  status_.SetOperationCondition(condition);
}

Session::~Session() { shared_.instrument.Control().Release(id_); }

std::shared_ptr<const scope::Frame> Session::Record() {
  // Right after start-up the first record is a few milliseconds away: wait for it, as the page's
  // /api/record does.
  if (!pinned_ && segment_ != 0) pinned_ = shared_.instrument.Records().Find(segment_);
  if (!pinned_ && segment_ == 0) pinned_ = awaited_ ? awaited_ : shared_.instrument.WaitNewer(0, 5s);
  return pinned_;
}

void Session::Run(const Command& command, std::optional<std::string>& answer) {
  for (const Entry& entry : Table()) {
    int suffix = 1;
    bool suffixSeen = false;
    const auto nodes = Nodes(entry.header);
    if (command.common != (entry.header[0] == '*')) continue;
    if (!Matches(nodes, 0, command.path, 0, suffix, suffixSeen)) continue;
    const auto& handler = command.query ? entry.query : entry.command;
    if (!handler) Refuse(kUndefinedHeader(command.query ? "no query form" : "query only"));
    if (!admitted_ && !(entry.flags & kOpen))
      Refuse(kCommandProtected("send the token the scope printed first: :SYSTem:TOKen \"...\""));
    if (suffixSeen && (suffix < 1 || suffix > entry.highestSuffix))
      Refuse(kSuffixOutOfRange("1 to " + std::to_string(entry.highestSuffix)));
    if (!command.query && (entry.flags & kChanges) && shared_.instrument.Control().HeldAgainst(id_))
      Refuse(kCommandProtected("another connection holds :SYSTem:LOCK"));
    Call call{*this, command, entry, suffix, {}};
    tCounted = nullptr;
    handler(call);
    if (!command.parameters.empty() && tCounted != &command) Refuse(kParameterNotAllowed());
    if (command.query) answer = std::move(call.response);  // a waveform is large: not copied
    return;
  }
  Refuse(kUndefinedHeader());
}

Session::Wait Session::WaitForPending(const std::function<bool()>& keepWaiting) {
  auto& instrument = shared_.instrument;
  std::uint64_t seen = 0;
  while (pending_) {
    if (!keepWaiting()) return Wait::Abandoned;
    instrument.Control().Touch(id_);  // waiting on its own command is not silence
    // Where the settings stand is read before the records, so that a record
    // published before a change is found rather than reported lost.
    const auto progress = instrument.SettingsProgress();
    if (auto frame = instrument.RecordFor(pendingVersion_)) {
      awaited_ = std::move(frame);
      pending_ = false;
      return Wait::Done;
    }
    const char* why = progress.configVersion > pendingVersion_ ? "another client changed the settings"
                      : progress.stopVersion > pendingVersion_ ? "another client stopped the acquisition"
                                                               : nullptr;
    if (why != nullptr) {
      pending_ = false;
      std::lock_guard lock(shared_.execution);  // the status is read from other threads (device_readstb)
      status_.Push(kSettingsConflict(std::string(why) + " before the record of :SINGle came"));
      return Wait::Impossible;
    }
    if (const auto frame = instrument.WaitNewer(seen, 200ms)) seen = frame->sequence;
  }
  return Wait::Done;
}

bool Session::Execute(std::string_view message, const std::function<bool()>& keepWaiting,
                      const std::function<bool(std::string&&)>& send) {
  shared_.instrument.Control().Touch(id_);
  const ParsedMessage parsed = ParseMessage(message);
  bool answered = false;
  pinned_.reset();
  bool failed = false;
  for (const Command& command : parsed.commands) {
    waitRequested_ = opcQuery_ = false;
    // A record not yet measured is measured before the order of execution is
    // taken: the fit of a long record would hold every other client meanwhile.
    if (command.query && !command.common && !command.path.empty() && admitted_ &&
        MatchMnemonic("MEASure", command.path.front(), nullptr))
      if (const auto frame = Record()) frame->Measured();
    std::optional<std::string> answer;
    {
      std::lock_guard lock(shared_.execution);
      try {
        Run(command, answer);
      } catch (const Refused& refused) {
        status_.Push(refused.error);
        failed = true;  // the rest of the message is dropped
      }
    }
    // Waiting holds no lock: the others' commands go on meanwhile.
    if (!failed && waitRequested_) {
      pinned_.reset();  // the record waited for is the one to read
      const Wait wait = WaitForPending(keepWaiting);
      if (wait == Wait::Abandoned) return false;
      if (opcRequested_ && wait == Wait::Done) {
        std::lock_guard lock(shared_.execution);
        status_.SetEvent(kOperationComplete);
      }
      opcRequested_ = false;
      if (opcQuery_) answer = wait == Wait::Done ? "1" : "0";
      failed = wait == Wait::Impossible;
    }
    if (answer) {
      if (answered) answer->insert(0, 1, ';');
      answered = true;
      if (!send(std::move(*answer))) return false;
    }
    if (failed) break;
  }
  if (!failed && parsed.error) {
    std::lock_guard lock(shared_.execution);
    status_.Push(*parsed.error);
  }
  return !answered || send("\n");
}

}  // namespace rk350::scpi
