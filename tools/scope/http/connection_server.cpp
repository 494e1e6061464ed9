// The one file that reaches into cpp-httplib beyond its public interface:
// requests are read and answered by its protected process_request on a
// Stream of this server's, whose reads keep the phase deadlines and byte
// budgets; its accept loop, task queue and socket stream are not used.
//
// Written against 0.11.4. An upgrade must check, before changing the pin:
//   - process_request(Stream&, bool close_connection, bool& connection_closed,
//     setup_request) still exists with that meaning;
//   - Stream's pure virtual functions are still is_readable, is_writable,
//     read, write, get_remote_ip_and_port, get_local_ip_and_port and socket
//     (BoundedStream implements them);
//   - the pre-routing handler still runs after the request line and headers
//     are read and before the body is (BeginBody marks that phase);
//   - the chunked content provider's DataSink still asks Stream::is_writable
//     before each write (the write time-out of a stream);
//   - an answer's content provider still ends once svr_sock_ is
//     INVALID_SOCKET (its sign of stopping): it holds the listening socket
//     from Bind to Stop, and the socket stays the acceptor's to close;
//   - set_keep_alive_timeout, set_keep_alive_max_count and set_write_timeout
//     still set what its Keep-Alive header announces.
#include "http/connection_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

static_assert(std::string_view(CPPHTTPLIB_VERSION) == "0.11.4",
              "connection_server.cpp uses cpp-httplib's protected interface: check its comment before upgrading");

namespace rk350::scope {
namespace {

// Bytes a closing connection may still discard so that its client reads
// the answer instead of a reset (a refused body is not read to its end).
constexpr std::size_t kLingerBytes = 16 * 1024 * 1024;
constexpr auto kLingerTime = std::chrono::seconds(2);
// Chunked framing ("1\r\nx\r\n" per byte at worst) on top of the body's bytes.
constexpr std::size_t kChunkFraming = 8;

// The answer to a connection that finds no place.
std::string Busy() {
  const std::string body = R"({"error": "too many open connections"})";
  return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

void Address(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (got != 0) return;
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    port = ntohs(a->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    port = ntohs(a->sin6_port);
  }
  ip = text;
}

// What a connection may still read: its phase's deadline and bytes.
enum class Phase { Idle, Head, Body };

// The connection as cpp-httplib reads and writes it, bounded by its phase.
class BoundedStream : public httplib::Stream {
 public:
  BoundedStream(Connection& c, const ConnectionLimits& limits) : c_(c), fd_(c.Fd()), limits_(limits) {}

  // The next request: its first byte within the idle time, its head within
  // the head time from then. Until its body, the connection may give way.
  void NextRequest() {
    Enter(Phase::Idle);
    c_.SetBusy(false);
    budget_ = limits_.headBytes;
  }
  void BeginBody() {
    Enter(Phase::Body);
    c_.SetBusy(true);
    budget_ = limits_.bodyBytes * kChunkFraming;
  }
  bool Routed() const { return phase_ == Phase::Body; }
  bool Exhausted() const { return exhausted_; }
  bool HasBuffered() const { return next_ < end_; }
  bool closeAfterAnswer = false;  // a refused request left its body unread

  bool is_readable() const override { return HasBuffered() || WaitFor(fd_, POLLIN, Remaining()); }
  bool is_writable() const override { return WaitFor(fd_, POLLOUT, limits_.writeTime); }

  ssize_t read(char* ptr, size_t size) override {
    if (budget_ == 0) return Fail();
    if (!HasBuffered()) {
      if (!WaitFor(fd_, POLLIN, Remaining())) return Fail();
      ssize_t n;
      do n = ::recv(fd_, buffer_, sizeof buffer_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      next_ = 0;
      end_ = static_cast<std::size_t>(n);
      if (phase_ == Phase::Idle) Enter(Phase::Head);
    }
    const std::size_t n = std::min({size, end_ - next_, budget_});
    std::copy_n(buffer_ + next_, n, ptr);
    next_ += n;
    budget_ -= n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(fd_, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(fd_, false, ip, port); }
  socket_t socket() const override { return fd_; }

 private:
  // The phase's time starts now; for eviction the connection is heard from
  // at the start of a phase only, so a trickled head grows old.
  void Enter(Phase phase) {
    phase_ = phase;
    since_ = Clock::now();
    c_.Heard();
  }
  Clock::duration Remaining() const {
    const Clock::duration limit = phase_ == Phase::Idle   ? limits_.idleTime
                                  : phase_ == Phase::Head ? limits_.headTime
                                                          : limits_.bodyTime;
    return since_ + limit - Clock::now();
  }
  ssize_t Fail() {
    exhausted_ = true;
    return -1;
  }

  Connection& c_;
  const int fd_;
  const ConnectionLimits& limits_;
  Phase phase_ = Phase::Idle;
  Clock::time_point since_ = Clock::now();
  std::size_t budget_ = 0;
  bool exhausted_ = false;
  char buffer_[4096];
  std::size_t next_ = 0, end_ = 0;
};

thread_local BoundedStream* tStream = nullptr;

// Discards what the client still sends, for a while, so that it reads the
// last answer before the connection closes.
void Linger(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto until = Clock::now() + kLingerTime;
  char sink[16384];
  std::size_t discarded = 0;
  while (discarded < kLingerBytes && WaitFor(fd, POLLIN, until - Clock::now())) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n <= 0) break;
    discarded += static_cast<std::size_t>(n);
  }
}

}  // namespace

// Full: the connection that has waited longest for a request (idle, or
// trickling its head) gives way; streams and requests being answered keep
// their place (BoundedStream marks them busy).
ConnectionServer::ConnectionServer(const ConnectionLimits& limits)
    : limits_(limits), acceptor_({{.count = limits.connections, .evictAfter = std::chrono::milliseconds(0)}}) {
  set_payload_max_length(limits_.bodyBytes);
  set_keep_alive_timeout(limits_.idleTime.count());
  set_keep_alive_max_count(limits_.requestsPerConnection);
  set_write_timeout(limits_.writeTime);
  set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (tStream != nullptr) tStream->BeginBody();
    if (!check_ || check_(req, res) == HandlerResponse::Unhandled) return HandlerResponse::Unhandled;
    CloseAfterAnswer(res);
    return HandlerResponse::Handled;
  });
}

void ConnectionServer::CloseAfterAnswer(httplib::Response& res) {
  res.set_header("Connection", "close");
  if (tStream != nullptr) tStream->closeAfterAnswer = true;
}

ConnectionServer::~ConnectionServer() { Stop(); }

int ConnectionServer::Bind(const std::string& address, int port) {
  std::string error;
  const int bound = acceptor_.Listen(address, port, {.refusal = Busy()}, error);
  if (bound >= 0) svr_sock_ = acceptor_.ListeningSocket(0);
  return bound;
}

void ConnectionServer::Serve() {
  acceptor_.Run([this](Connection& connection) { ServeConnection(connection); });
}

void ConnectionServer::Stop() {
  svr_sock_ = INVALID_SOCKET;  // streams end
  acceptor_.Stop();
}

void ConnectionServer::ServeConnection(Connection& c) {
  BoundedStream stream(c, limits_);
  tStream = &stream;
  for (std::size_t served = 0; served < limits_.requestsPerConnection && !c.Ending(); ++served) {
    stream.NextRequest();
    if (!stream.HasBuffered() && !WaitFor(c.Fd(), POLLIN, limits_.idleTime)) break;
    bool closed = false;
    const bool last = served + 1 == limits_.requestsPerConnection;
    const bool answered = process_request(stream, last, closed, nullptr);
    // A request that never reached routing (a malformed request line or
    // header, a URI too long) was answered 400 or so: what follows it on the
    // connection cannot be trusted to start a request.
    if (!answered || closed || !stream.Routed() || stream.closeAfterAnswer || stream.Exhausted()) break;
  }
  if (!c.Ending()) Linger(c.Fd());
  tStream = nullptr;
}

std::shared_ptr<void> ConnectionServer::TakeStreamPlace() {
  if (++streams_ > limits_.streams) {
    --streams_;
    return nullptr;
  }
  return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) { --streams_; });
}

}  // namespace rk350::scope
