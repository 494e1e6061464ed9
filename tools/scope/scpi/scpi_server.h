// SCPI over a raw TCP socket (port 5025 by convention): one thread per
// connection reads program messages, carries them out through the shared
// command session and writes the answers. A client that sends slowly or
// reads slowly holds only its own thread; every wait is bounded, and a
// client that leaves (closes, vanishes, or stays silent) is gone.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "net/acceptor.h"
#include "scpi/scpi_commands.h"

namespace rk350::scpi {

struct ServerLimits {
  std::size_t maxMessage = 64 * 1024;            // bytes of a message outside blocks
  std::size_t maxBlock = 1024 * 1024;            // bytes of one block parameter
  std::size_t maxClients = 128;                  // admitted connections at once (and as many awaiting the token)
  std::chrono::milliseconds blockIdle{2000};     // a block that stops arriving this long is dropped
  std::chrono::milliseconds sendTimeout{10000};  // an answer is taken within this, plus its size at minSendRate
  std::size_t minSendRate = 256 * 1024;          // bytes per second
  std::chrono::milliseconds idle{300000};        // a connection that sends nothing this long is closed
  std::chrono::milliseconds evictIdle{30000};    // all places taken: one idle this long makes room
  std::chrono::milliseconds admitTime{10000};    // with a token: for sending it
  std::chrono::milliseconds lockIdle{60000};     // :SYSTem:LOCK lapses when its holder sends nothing this long
};

class ScpiServer {
 public:
  // A non-empty `token` must be sent by each connection (:SYSTem:TOKen).
  ScpiServer(scope::InstrumentThread& instrument, const std::string& token, ServerLimits limits = {});
  ~ScpiServer();
  // Listens on the address; port 0 takes a free one. Returns the port, or
  // -1 with the reason in `error`.
  int Bind(const std::string& address, int port, std::string& error);
  void Serve();  // accepts until Stop
  void Stop();
  SharedState& Shared() { return shared_; }
  const ServerLimits& Limits() const { return limits_; }

 private:
  enum Places : std::size_t { kAwaitingToken, kAdmitted };
  void Talk(scope::Connection& connection);

  SharedState shared_;
  ServerLimits limits_;
  scope::Acceptor acceptor_;
  std::mutex sessionsMutex_;
  std::map<int, scope::Connection*> sessions_;  // by session id, while they talk
};

}  // namespace rk350::scpi
