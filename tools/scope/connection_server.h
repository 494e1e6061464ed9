// The scope's HTTP connections, served so that none can starve another:
// cpp-httplib parses requests and routes them, but the connections are this
// server's own. Each has its own thread (a stream or a slow client never holds
// a worker a settings request waits for), their number is bounded, and every
// read is bounded in time and bytes: the request line and headers, and a
// request's body, must each arrive within their time-out and size, whatever
// the client trickles or sends.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace rk350::scope {

struct ConnectionLimits {
  std::size_t connections = 256;              // open at once; beyond, an idle or slow one is closed, else 503
  std::size_t streams = 64;                   // of which streaming records
  std::size_t headBytes = 32 * 1024;          // request line and headers
  std::size_t bodyBytes = 64 * 1024;          // a request's body (chunked or not)
  std::chrono::milliseconds headTime{10000};  // for the request line and headers, from the first byte
  std::chrono::milliseconds bodyTime{10000};  // for the body
  std::chrono::milliseconds idleTime{5000};   // between requests on one connection
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

  struct Connection;  // one client's socket and thread

 private:
  void ServeConnection(Connection& connection);
  bool MakeRoom();  // under mutex_
  void Reap();      // joins finished threads; under mutex_

  ConnectionLimits limits_;
  HandlerWithResponse check_;
  std::mutex mutex_;
  std::list<Connection> connections_;
  std::atomic<std::size_t> streams_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace rk350::scope
