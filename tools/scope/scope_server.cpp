#include "scope_server.h"

#include <httplib.h>

#include <sstream>

#include "csv_writer.h"
#include "sigrok_session.h"

namespace rk350::scope {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Every SSE client holds one thread while it listens: enough for several
// pages and the settings requests beside them.
constexpr std::size_t kThreads = 16;
// Settings are a few hundred bytes; a larger request is refused unread (413).
constexpr std::size_t kLargestRequest = 64 * 1024;

void Reply(httplib::Response& res, const Answer& answer) {
  res.status = answer.status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(answer.body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

}  // namespace

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

ScopeServer::ScopeServer(InstrumentThread& instrument, const std::string& webDirectory)
    : instrument_(instrument), server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  server_->set_mount_point("/", webDirectory);
  server_->set_payload_max_length(kLargestRequest);
  Routes();
}

ScopeServer::~ScopeServer() = default;

int ScopeServer::Bind(const std::string& address, int port) {
  if (port == 0) return server_->bind_to_any_port(address);
  return server_->bind_to_port(address, port) ? port : -1;
}

void ScopeServer::Serve() { server_->listen_after_bind(); }

void ScopeServer::Stop() {
  stopping_ = true;
  server_->stop();
}

void ScopeServer::Routes() {
  server_->Get("/api/settings", [this](const httplib::Request&, httplib::Response& res) {
    Reply(res, {200, instrument_.State()});
  });
  server_->Post("/api/settings", [this](const httplib::Request& req, httplib::Response& res) {
    if (JsonNestingDepth(req.body) > kMaxSettingsDepth) {
      Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE, "the request nests deeper than any setting"));
      return;
    }
    const json patch = json::parse(req.body, nullptr, false);
    if (patch.is_discarded()) {
      Reply(res, instrument_.Refusal(RK350_RESULT_INVALID_VALUE, "the request is not JSON"));
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
    res.set_header("Cache-Control", "no-store");
    auto sent = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider("text/event-stream", [this, sent](std::size_t, httplib::DataSink& sink) {
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
