#include "http/scope_server.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "arbitrary_waveform.h"
#include "core/instrument_identity.h"
#include "core/scope_settings_json.h"
#include "csv_writer.h"
#include "http/connection_server.h"
#include "http/recording_routes.h"
#include "sigrok_session.h"

namespace rk350::scope {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

void Reply(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

// An outcome as HTTP says it: the state after it (with the values the card
// runs other than asked), else the refusal with the library's result.
void Reply(httplib::Response& res, const Outcome& outcome) {
  if (!outcome.answered) return Reply(res, 503, {{"error", outcome.message}});
  if (!outcome.Done())
    return Reply(res, 400,
                 {{"error", outcome.message},
                  {"result", outcome.resultName},
                  {"meaning", outcome.meaning},
                  {"code", outcome.result}});
  json state = SnapshotToJson(outcome.snapshot);
  if (!outcome.adjusted.empty()) state["adjusted"] = AdjustmentsToJson(outcome.adjusted);
  Reply(res, 200, state);
}

// The request's headers as the access policy judges them.
RequestFacts Facts(const httplib::Request& req) {
  return {req.method,
          req.get_header_value("Host"),
          req.get_header_value("Origin"),
          req.get_header_value("Content-Type"),
          req.get_header_value(kTokenHeader),
          req.get_header_value("Cookie"),
          req.get_param_value("token")};
}

}  // namespace

ScopeServer::ScopeServer(InstrumentThread& instrument, const std::string& webDirectory, const std::string& token)
    : instrument_(instrument), server_(std::make_unique<ConnectionServer>(ConnectionLimits{})) {
  policy_.token = token;
  server_->set_mount_point("/", webDirectory);
  server_->SetRequestCheck([this](const httplib::Request& req, httplib::Response& res) {
    const auto refusal = JudgeRequest(policy_, Facts(req));
    // While an SCPI client holds the lock, the page looks but changes nothing
    // (resetting the page's own statistics is not a change of the card).
    if (!refusal && req.method == "POST" && req.path != "/api/measurements/reset" &&
        instrument_.Control().HeldAgainst(0)) {
      ConnectionServer::CloseAfterAnswer(res);  // the body is left unread
      Reply(res, 423,
            {{"error",
              "locked: an SCPI client holds :SYSTem:LOCK, so the settings stay as they are until it "
              "sends :SYSTem:LOCK OFF or disconnects"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!refusal) {
      // The page opened from the printed address keeps the token as a cookie
      // for its own requests.
      if (!policy_.token.empty() && req.get_param_value("token") == policy_.token)
        res.set_header("Set-Cookie",
                       std::string(kTokenCookie) + "=" + policy_.token + "; Path=/; HttpOnly; SameSite=Strict");
      return httplib::Server::HandlerResponse::Unhandled;
    }
    Reply(res, refusal->status, {{"error", refusal->error}});
    return httplib::Server::HandlerResponse::Handled;
  });
  Routes();
}

ScopeServer::~ScopeServer() = default;

int ScopeServer::Bind(const std::string& address, int port) {
  const int bound = server_->Bind(address, port);
  policy_.address = address;
  policy_.port = bound;
  return bound;
}

void ScopeServer::Serve() { server_->Serve(); }

void ScopeServer::Stop() {
  stopping_ = true;
  server_->Stop();
}

// What each route answers: the HTTP side of the instrument thread's typed
// requests and snapshots.
struct ScopeServer::Handlers {
  using Request = httplib::Request;
  using Response = httplib::Response;

  // The LXI identification document, named after the address the client used.
  static void Identification(ScopeServer& s, const Request& req, Response& res) {
    std::string host = req.local_addr;
    if (host.rfind("::ffff:", 0) == 0) host.erase(0, 7);
    res.set_content(LxiIdentification(IdentityOf(s.instrument_.Offer()), host, req.local_port, s.scpiPort_, s.vxi11_),
                    "text/xml; charset=utf-8");
  }

  static void State(ScopeServer& s, const Request&, Response& res) {
    Reply(res, 200, SnapshotToJson(s.instrument_.State()));
  }

  static void Offer(ScopeServer& s, const Request&, Response& res) {
    Reply(res, 200, InstrumentOfferToJson(s.instrument_.Offer()));
  }

  static void Refuse(ScopeServer& s, Response& res, const std::string& why) {
    Reply(res, s.instrument_.Refusal(RK350_RESULT_INVALID_VALUE, why));
  }

  // A patch: read here, not by the library, so that a chunked body is held
  // to the same size as any other; then changes of the settings table.
  static void PostSettings(ScopeServer& s, const Request&, Response& res, const httplib::ContentReader& content) {
    const std::size_t largest = s.server_->Limits().bodyBytes;
    std::string body;
    bool tooLarge = false;
    const bool read = content([&](const char* data, std::size_t length) {
      tooLarge = length > largest - body.size();
      if (!tooLarge) body.append(data, length);
      return !tooLarge;
    });
    if (tooLarge || res.status == 413) {
      ConnectionServer::CloseAfterAnswer(res);
      return Reply(res, 413, {{"error", "the request is larger than " + std::to_string(largest) + " bytes"}});
    }
    if (!read) {
      ConnectionServer::CloseAfterAnswer(res);
      return Reply(res, 400, {{"error", "the request's body did not arrive whole"}});
    }
    if (JsonNestingDepth(body) > kMaxSettingsDepth) return Refuse(s, res, "the request nests deeper than any setting");
    json patch;
    try {
      patch = json::parse(body);
    } catch (const json::exception& e) {
      // The parser's reason without its exception's number: "number overflow parsing '1e400'".
      const std::string reason = e.what();
      const auto after = reason.find("] ");
      return Refuse(
          s, res, "the request is not JSON (" + (after == std::string::npos ? reason : reason.substr(after + 2)) + ")");
    }
    std::string error;
    auto request = RequestFromJson(patch, error);
    if (!request) return Refuse(s, res, error);
    Reply(res, s.instrument_.Apply(std::move(*request)));
  }

  // The measurement statistics over the last records start again.
  static void ResetMeasurements(ScopeServer& s, const Request&, Response& res) {
    s.instrument_.ResetMeasurements();
    Reply(res, 200, json::object());
  }

  // A user waveform: {"file": the text of a waveform file (volts one a line,
  // or times and volts), "frequency": Hz (optional)}. Its levels become the
  // generator's, and it repeats at the frequency, else over the time it
  // spans, else at 1 kHz.
  static void Waveform(ScopeServer& s, const Request& req, Response& res) {
    const json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("file") || !body["file"].is_string())
      return Refuse(s, res, "waveform: expected {\"file\": text}");
    std::string error;
    const auto wave = tools::ParseWaveform(body["file"].get<std::string>(), error);
    if (!wave) return Refuse(s, res, "waveform: " + error);
    double repetition = wave->period ? 1.0 / *wave->period : 1000.0;
    if (body.contains("frequency") && !body["frequency"].is_null()) {
      const json& asked = body["frequency"];
      if (!asked.is_number() || !(asked.get<double>() > 0) || !std::isfinite(asked.get<double>()))
        return Refuse(s, res, "waveform: frequency is not a number above 0");
      repetition = asked.get<double>();
    }
    auto card = tools::ToCardWaveform(wave->volts);
    // 1024 samples step at the repetition frequency, other lengths at a
    // sample clock.
    const double count = static_cast<double>(card.samples.size());
    const double frequency = card.samples.size() == tools::kShortWaveformSamples ? repetition : repetition * count;
    const auto row = [](const char* key) { return capture::FindSettingByKey(key); };
    SettingsRequest request{.changes = {{row("generator.on"), 1.0},
                                        {row("generator.type"), static_cast<double>(RK350_GEN_ARBITRARY)},
                                        {row("generator.frequency"), frequency},
                                        {row("generator.amplitude"), card.amplitude},
                                        {row("generator.offset"), card.offset}},
                            .waveform = std::make_shared<const std::vector<std::uint16_t>>(std::move(card.samples))};
    Reply(res, s.instrument_.Apply(std::move(request)));
  }

  // The newest record once (a page that polls, a test).
  static void Record(ScopeServer& s, const Request&, Response& res) {
    const auto frame = s.instrument_.WaitNewer(0, 5s);
    if (!frame) return Reply(res, 503, {{"error", "no record yet"}});
    res.set_header("Cache-Control", "no-store");
    res.set_content(frame->Json(), "application/json");
  }

  // Every new record, as it comes; a client that falls behind gets the newest.
  static void Stream(ScopeServer& s, const Request&, Response& res) {
    auto place = s.server_->TakeStreamPlace();
    if (!place) {
      ConnectionServer::CloseAfterAnswer(res);
      return Reply(res, 503,
                   {{"error", "already " + std::to_string(s.server_->Limits().streams) +
                                  " streams open; close a page or poll /api/record"}});
    }
    res.set_header("Cache-Control", "no-store");
    auto sent = std::make_shared<std::uint64_t>(0);
    // The place is held as long as the answer is (the provider keeps it).
    res.set_chunked_content_provider("text/event-stream", [&s, sent, place](std::size_t, httplib::DataSink& sink) {
      (void)place;
      if (s.stopping_) return false;
      const auto frame = s.instrument_.WaitNewer(*sent, 500ms);
      std::string event = ": waiting\n\n";  // keeps the connection checked while nothing comes
      if (frame) {
        *sent = frame->sequence;
        event = "data: " + frame->Json() + "\n\n";
      }
      return !s.stopping_ && sink.write(event.data(), event.size());
    });
  }

  // The records kept for stepping back (--history), oldest first, without their samples.
  static void History(ScopeServer& s, const Request&, Response& res) {
    const auto& records = s.instrument_.Records();
    json list = json::array();
    for (const auto& frame : records.Records())
      list.push_back({{"sequence", frame->sequence},
                      {"hostTime", std::chrono::duration<double>(frame->hostTime.time_since_epoch()).count()},
                      {"how", frame->record.how},
                      {"status", TriggerStatusName(TriggerStatusOf(frame->record))},
                      {"taken", frame->record.taken},
                      {"settingsVersion", frame->settingsVersion}});
    Reply(res, 200, {{"capacity", records.Capacity()}, {"limit", kMaxKeptRecords}, {"records", std::move(list)}});
  }

  // ?sequence=N: that kept record; without it the newest. Null with the
  // answer given when there is none to give.
  static std::shared_ptr<const Frame> Chosen(ScopeServer& s, const Request& req, Response& res) {
    if (!req.has_param("sequence")) {
      auto frame = s.instrument_.Latest();
      if (!frame) Reply(res, 503, {{"error", "no record yet"}});
      return frame;
    }
    const std::string text = req.get_param_value("sequence");
    std::uint64_t sequence = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), sequence);
    if (error != std::errc() || end != text.data() + text.size() || sequence == 0) {
      Reply(res, 400, {{"error", "sequence: expected a record's sequence number, not '" + text + "'"}});
      return nullptr;
    }
    auto frame = s.instrument_.Records().Find(sequence);
    if (!frame) {
      const auto [oldest, newest] = s.instrument_.Records().Span();
      Reply(
          res, 404,
          {{"error", "record " + text + " is not kept" +
                         (oldest == 0 ? std::string()
                                      : " (kept: " + std::to_string(oldest) + " to " + std::to_string(newest) + ")")}});
    }
    return frame;
  }

  static void HistoryRecord(ScopeServer& s, const Request& req, Response& res) {
    if (!req.has_param("sequence")) return Reply(res, 400, {{"error", "sequence: missing"}});
    const auto frame = Chosen(s, req, res);
    if (!frame) return;
    res.set_header("Cache-Control", "no-store");
    res.set_content(frame->Json(), "application/json");
  }

  // The shown record as a file to keep (a kept one by ?sequence=N).
  template <void (*Write)(std::ostream&, const Frame&)>
  static void Download(ScopeServer& s, const Request& req, Response& res, const char* type, const char* extension) {
    const auto frame = Chosen(s, req, res);
    if (!frame) return;
    std::ostringstream out;
    try {
      Write(out, *frame);
    } catch (const std::exception& e) {
      return Reply(res, 500, {{"error", e.what()}});
    }
    res.set_header("Content-Disposition", std::string("attachment; filename=\"rk350-record") + extension + "\"");
    res.set_content(out.str(), type);
  }
  // The recording into the directory of --record-dir: its state and files,
  // start, stop, and a finished file to download.
  static ScopeRecording* Recording(ScopeServer& s, Response& res) {
    ScopeRecording* recording = s.instrument_.Recording();
    if (recording == nullptr || !recording->Available()) {
      Reply(res, 404, {{"error", "recording is off: start the scope with --record-dir DIR"}});
      return nullptr;
    }
    return recording;
  }
  static void RecordingState(ScopeServer& s, const Request&, Response& res) {
    if (auto* recording = Recording(s, res)) Reply(res, 200, RecordingToJson(*recording));
  }
  static void RecordingStart(ScopeServer& s, const Request& req, Response& res) {
    auto* recording = Recording(s, res);
    if (recording == nullptr) return;
    std::string error;
    const auto request = RecordingRequestFromJson(json::parse(req.body, nullptr, false), error);
    if (request) error = recording->Start(*request);
    if (!error.empty()) return Reply(res, 400, {{"error", error}});
    Reply(res, 200, RecordingToJson(*recording));
  }
  static void RecordingStop(ScopeServer& s, const Request&, Response& res) {
    auto* recording = Recording(s, res);
    if (recording == nullptr) return;
    recording->Stop();
    Reply(res, 200, RecordingToJson(*recording));
  }
  static void RecordingFile(ScopeServer& s, const Request& req, Response& res) {
    auto* recording = Recording(s, res);
    if (recording != nullptr && !SendRecordingFile(*recording, req.matches[1].str(), res))
      Reply(res, 404, {{"error", "no finished recording of that name"}});
  }

  static void WriteCsv(std::ostream& out, const Frame& frame) { capture::WriteCsv(out, frame.record, frame.notes); }
  static void WriteSigrok(std::ostream& out, const Frame& frame) { capture::WriteSigrokSession(out, frame.record); }
  static void Csv(ScopeServer& s, const Request& req, Response& res) {
    Download<WriteCsv>(s, req, res, "text/csv", ".csv");
  }
  static void Sigrok(ScopeServer& s, const Request& req, Response& res) {
    Download<WriteSigrok>(s, req, res, "application/zip", ".sr");
  }
};

namespace {

using Handlers = ScopeServer::Handlers;

struct Route {
  const char* method;  // "GET" or "POST"
  const char* path;
  void (*answer)(ScopeServer&, const httplib::Request&, httplib::Response&) = nullptr;
  // A POST that reads its body itself.
  void (*reading)(ScopeServer&, const httplib::Request&, httplib::Response&, const httplib::ContentReader&) = nullptr;
  bool (*offered)() = nullptr;  // null: always
};

const Route kRoutes[] = {
    {"GET", "/lxi/identification", Handlers::Identification},
    {"GET", "/api/settings", Handlers::State},
    {"POST", "/api/settings", nullptr, Handlers::PostSettings},
    {"GET", "/api/offer", Handlers::Offer},
    {"POST", "/api/measurements/reset", Handlers::ResetMeasurements},
    {"POST", "/api/generator/waveform", Handlers::Waveform},
    {"GET", "/api/record", Handlers::Record},
    {"GET", "/api/stream", Handlers::Stream},
    {"GET", "/api/history", Handlers::History},
    {"GET", "/api/history/record", Handlers::HistoryRecord},
    {"GET", "/api/record.csv", Handlers::Csv},
    {"GET", "/api/record.sr", Handlers::Sigrok, nullptr, capture::SigrokSessionsSupported},
    {"GET", "/api/recording", Handlers::RecordingState},
    {"POST", "/api/recording/start", Handlers::RecordingStart},
    {"POST", "/api/recording/stop", Handlers::RecordingStop},
    {"GET", R"(/api/recordings/([^/]+))", Handlers::RecordingFile},
};

}  // namespace

void ScopeServer::Routes() {
  for (const Route& route : kRoutes) {
    if (route.offered != nullptr && !route.offered()) continue;
    const std::string method = route.method;
    if (route.reading != nullptr) {
      server_->Post(route.path, [this, reading = route.reading](const httplib::Request& req, httplib::Response& res,
                                                                const httplib::ContentReader& content) {
        reading(*this, req, res, content);
      });
    } else {
      const auto answer = [this, handle = route.answer](const httplib::Request& req, httplib::Response& res) {
        handle(*this, req, res);
      };
      if (method == "GET")
        server_->Get(route.path, answer);
      else
        server_->Post(route.path, answer);
    }
  }
}

}  // namespace rk350::scope
