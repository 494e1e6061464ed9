#include "scope_server.h"

#include <cmath>
#include <sstream>

#include "arbitrary_waveform.h"
#include "connection_server.h"
#include "csv_writer.h"
#include "instrument_identity.h"
#include "sigrok_session.h"

namespace rk350::scope {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

void Reply(httplib::Response& res, const Answer& answer) {
  res.status = answer.status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(answer.body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
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

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

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
      Reply(res, {423,
                  {{"error",
                    "locked: an SCPI client holds :SYSTem:LOCK, so the settings stay as they are until it "
                    "sends :SYSTem:LOCK OFF or disconnects"}}});
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
    Reply(res, {refusal->status, {{"error", refusal->error}}});
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

void ScopeServer::Routes() {
  // The LXI identification document, named after the address the client used.
  server_->Get("/lxi/identification", [this](const httplib::Request& req, httplib::Response& res) {
    std::string host = req.local_addr;
    if (host.rfind("::ffff:", 0) == 0) host.erase(0, 7);
    res.set_content(LxiIdentification(IdentityOf(instrument_.Offer()), host, req.local_port, scpiPort_, vxi11_),
                    "text/xml; charset=utf-8");
  });
  server_->Get("/api/settings", [this](const httplib::Request&, httplib::Response& res) {
    Reply(res, {200, instrument_.State()});
  });
  server_->Post(
      "/api/settings", [this](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& content) {
        // Read here, not by the library, so that a chunked body is held to the
        // same size as any other.
        const std::size_t largest = server_->Limits().bodyBytes;
        std::string body;
        bool tooLarge = false;
        const bool read = content([&](const char* data, std::size_t length) {
          tooLarge = length > largest - body.size();
          if (!tooLarge) body.append(data, length);
          return !tooLarge;
        });
        if (tooLarge || res.status == 413) {
          ConnectionServer::CloseAfterAnswer(res);
          Reply(res, {413, {{"error", "the request is larger than " + std::to_string(largest) + " bytes"}}});
          return;
        }
        if (!read) {
          ConnectionServer::CloseAfterAnswer(res);
          Reply(res, {400, {{"error", "the request's body did not arrive whole"}}});
          return;
        }
        if (JsonNestingDepth(body) > kMaxSettingsDepth) {
          Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE, "the request nests deeper than any setting"));
          return;
        }
        json patch;
        try {
          patch = json::parse(body);
        } catch (const json::exception& e) {
          // The parser's reason without its exception's number: "number overflow parsing '1e400'".
          const std::string reason = e.what();
          const auto after = reason.find("] ");
          Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE,
                                         "the request is not JSON (" +
                                             (after == std::string::npos ? reason : reason.substr(after + 2)) + ")"));
          return;
        }
        Reply(res, instrument_.ApplySettings(patch));
      });
  server_->Get("/api/offer", [this](const httplib::Request&, httplib::Response& res) {
    Reply(res, {200, instrument_.Offer()});
  });
  // The measurement statistics over the last records start again.
  server_->Post("/api/measurements/reset", [this](const httplib::Request&, httplib::Response& res) {
    instrument_.ResetMeasurements();
    Reply(res, {200, json::object()});
  });
  // A user waveform: {"file": the text of a waveform file (volts one a line,
  // or times and volts), "frequency": Hz (optional)}. Its levels become the
  // generator's, and it repeats at the frequency, else over the time it
  // spans, else at 1 kHz.
  server_->Post("/api/generator/waveform", [this](const httplib::Request& req, httplib::Response& res) {
    const json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("file") || !body["file"].is_string()) {
      Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE, "waveform: expected {\"file\": text}"));
      return;
    }
    std::string error;
    const auto wave = tools::ParseWaveform(body["file"].get<std::string>(), error);
    if (!wave) {
      Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE, "waveform: " + error));
      return;
    }
    double repetition = wave->period ? 1.0 / *wave->period : 1000.0;
    if (body.contains("frequency") && !body["frequency"].is_null()) {
      const json& asked = body["frequency"];
      if (!asked.is_number() || !(asked.get<double>() > 0) || !std::isfinite(asked.get<double>())) {
        Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE, "waveform: frequency is not a number above 0"));
        return;
      }
      repetition = asked.get<double>();
    }
    auto card = tools::ToCardWaveform(wave->volts);
    // 1024 samples step at the repetition frequency, other lengths at a
    // sample clock.
    const double count = static_cast<double>(card.samples.size());
    const double frequency = card.samples.size() == tools::kShortWaveformSamples ? repetition : repetition * count;
    const json patch = {{"generator",
                         {{"on", true},
                          {"type", "arbitrary"},
                          {"frequency", frequency},
                          {"amplitude", card.amplitude},
                          {"offset", card.offset}}}};
    Reply(res, instrument_.ApplySettings(patch,
                                         std::make_shared<const std::vector<std::uint16_t>>(std::move(card.samples))));
  });
  // The newest record once (a page that polls, a test).
  server_->Get("/api/record", [this](const httplib::Request&, httplib::Response& res) {
    const auto frame = instrument_.WaitNewer(0, 5s);
    if (!frame) {
      Reply(res, {503, {{"error", "no record yet"}}});
      return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(frame->Json(), "application/json");
  });
  // Every new record, as it comes; a client that falls behind gets the newest.
  server_->Get("/api/stream", [this](const httplib::Request&, httplib::Response& res) {
    auto place = server_->TakeStreamPlace();
    if (!place) {
      ConnectionServer::CloseAfterAnswer(res);
      Reply(res, {503,
                  {{"error", "already " + std::to_string(server_->Limits().streams) +
                                 " streams open; close a page or poll /api/record"}}});
      return;
    }
    res.set_header("Cache-Control", "no-store");
    auto sent = std::make_shared<std::uint64_t>(0);
    // The place is held as long as the answer is (the provider keeps it).
    res.set_chunked_content_provider("text/event-stream", [this, sent, place](std::size_t, httplib::DataSink& sink) {
      (void)place;
      if (stopping_) return false;
      const auto frame = instrument_.WaitNewer(*sent, 500ms);
      std::string event = ": waiting\n\n";  // keeps the connection checked while nothing comes
      if (frame) {
        *sent = frame->sequence;
        event = "data: " + frame->Json() + "\n\n";
      }
      return !stopping_ && sink.write(event.data(), event.size());
    });
  });
  const auto download = [this](const char* type, const char* extension, void (*write)(std::ostream&, const Frame&)) {
    return [this, type, extension, write](const httplib::Request&, httplib::Response& res) {
      const auto frame = instrument_.Latest();
      if (!frame) {
        Reply(res, {503, {{"error", "no record yet"}}});
        return;
      }
      std::ostringstream out;
      try {
        write(out, *frame);
      } catch (const std::exception& e) {
        Reply(res, {500, {{"error", e.what()}}});
        return;
      }
      res.set_header("Content-Disposition", std::string("attachment; filename=\"rk350-record") + extension + "\"");
      res.set_content(out.str(), type);
    };
  };
  server_->Get("/api/record.csv", download("text/csv", ".csv", [](std::ostream& out, const Frame& frame) {
                 capture::WriteCsv(out, frame.record, frame.notes);
               }));
  if (capture::SigrokSessionsSupported())
    server_->Get("/api/record.sr", download("application/zip", ".sr", [](std::ostream& out, const Frame& frame) {
                   capture::WriteSigrokSession(out, frame.record);
                 }));
}

}  // namespace rk350::scope
