// The scope's HTTP side: the page's files as they lie in the web directory,
// the settings as JSON, the records as Server-Sent Events, the shown record
// as CSV and as a sigrok session. Its threads never touch the instrument:
// they hand settings to the instrument thread and read what it published.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "core/instrument_thread.h"
#include "http/request_policy.h"

namespace rk350::scope {

class ConnectionServer;

class ScopeServer {
 public:
  struct Handlers;  // what each route answers
  // `token`: asked of every request when not empty (--allow-remote).
  ScopeServer(InstrumentThread& instrument, const std::string& webDirectory, const std::string& token);
  ~ScopeServer();
  // Binds to the address; port 0 takes a free one. Returns the port, or -1.
  int Bind(const std::string& address, int port);
  void Serve();  // until Stop
  void Stop();
  // What the LXI identification names besides the page (before Serve).
  void SetInstrumentPorts(int scpiPort, bool vxi11) {
    scpiPort_ = scpiPort;
    vxi11_ = vxi11;
  }

 private:
  friend struct Handlers;
  void Routes();
  std::atomic<int> scpiPort_{0};
  std::atomic<bool> vxi11_{false};
  InstrumentThread& instrument_;
  std::unique_ptr<ConnectionServer> server_;
  AccessPolicy policy_;
  std::atomic<bool> stopping_{false};
};

}  // namespace rk350::scope
