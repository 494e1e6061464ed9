// The scope's HTTP connections, served so that none can starve another:
// cpp-httplib parses requests and routes them, the acceptor admits the
// connections (each on its own thread, so a stream or a slow client never
// holds a worker a settings request waits for; their number bounded), and
// every read is bounded in time and bytes: the request line and headers,
// and a request's body, must each arrive within their time-out and size,
// whatever the client trickles or sends.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "net/acceptor.h"

namespace rk350::scope {

struct ConnectionLimits {
  std::size_t connections = 256;              // open at once; beyond, an idle or slow one is closed, else 503
  std::size_t streams = 64;                   // of which streaming records
  std::size_t headBytes = 32 * 1024;          // request line and headers
  std::size_t bodyBytes = 64 * 1024;          // a request's body (chunked or not)
  std::chrono::milliseconds headTime{10000};  // for the request line and headers, from the first byte
  std::chrono::milliseconds bodyTime{10000};  // for the body
  // Given to cpp-httplib (which announces them in its Keep-Alive header)
  // and kept by this server's reads and writes:
  std::chrono::seconds idleTime{5};           // between requests on one connection
  std::size_t requestsPerConnection = 5;      // then it closes
  std::chrono::milliseconds writeTime{5000};  // for a reader to take an answer's next part
};

class ConnectionServer : public httplib::Server {
 public:
  explicit ConnectionServer(const ConnectionLimits& limits);
  ~ConnectionServer() override;

  // Binds to the address; port 0 takes a free one. Returns the port, or -1.
  int Bind(const std::string& address, int port);
  void Serve();  // accepts until Stop
  void Stop();   // Serve ends every connection, waits for their threads and returns

  // Checks run once a request's line and headers are read, before its body
  // is: answering the request (returning Handled) refuses it unread.
  void SetRequestCheck(HandlerWithResponse check) { check_ = std::move(check); }

  // A place among the streams, held until the returned token is released;
  // empty when all places are taken.
  std::shared_ptr<void> TakeStreamPlace();

  // From a handler: the connection closes after this answer (a refused
  // request whose body is not read).
  static void CloseAfterAnswer(httplib::Response& res);

  const ConnectionLimits& Limits() const { return limits_; }

 private:
  void ServeConnection(Connection& connection);

  ConnectionLimits limits_;
  HandlerWithResponse check_;
  Acceptor acceptor_;
  std::atomic<std::size_t> streams_{0};
};

}  // namespace rk350::scope
