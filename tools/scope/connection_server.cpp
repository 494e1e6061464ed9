#include "connection_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace rk350::scope {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes a closing connection may still discard so that its client reads
// the answer instead of a reset (a refused body is not read to its end).
constexpr std::size_t kLingerBytes = 16 * 1024 * 1024;
constexpr auto kLingerTime = std::chrono::seconds(2);
// Chunked framing ("1\r\nx\r\n" per byte at worst) on top of the body's bytes.
constexpr std::size_t kChunkFraming = 8;

int Milliseconds(Clock::duration d) {
  return static_cast<int>(
      std::clamp<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count(), 0, 24 * 3600 * 1000));
}

bool WaitFor(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  int n;
  do n = ::poll(&p, 1, ms);
  while (n < 0 && errno == EINTR);
  return n > 0;
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

}  // namespace

// What a connection may still read: its phase's deadline and bytes.
enum class Phase { Idle, Head, Body };

struct ConnectionServer::Connection {
  int fd = -1;
  std::thread thread;
  std::atomic<bool> done{false};
  std::atomic<Phase> phase{Phase::Idle};
  std::atomic<Clock::time_point> since{Clock::now()};  // of the phase
  bool evicted = false;                                // closed to make room
  bool closeAfterAnswer = false;                       // a refused request left its body unread
};

namespace {

thread_local ConnectionServer::Connection* tConnection = nullptr;

// The connection as cpp-httplib reads and writes it, bounded by its phase.
class BoundedStream : public httplib::Stream {
 public:
  BoundedStream(ConnectionServer::Connection& c, const ConnectionLimits& limits) : c_(c), limits_(limits) {}

  // The next request: its first byte within the idle time, its head within
  // the head time from then.
  void NextRequest() {
    c_.phase = Phase::Idle;
    c_.since = Clock::now();
    budget_ = limits_.headBytes;
  }
  void BeginBody() {
    c_.phase = Phase::Body;
    c_.since = Clock::now();
    budget_ = limits_.bodyBytes * kChunkFraming;
  }
  bool Exhausted() const { return exhausted_; }
  bool HasBuffered() const { return next_ < end_; }

  bool is_readable() const override { return HasBuffered() || WaitFor(c_.fd, POLLIN, RemainingMs()); }
  bool is_writable() const override { return WaitFor(c_.fd, POLLOUT, Milliseconds(limits_.writeTime)); }

  ssize_t read(char* ptr, size_t size) override {
    if (budget_ == 0) return Fail();
    if (!HasBuffered()) {
      if (!WaitFor(c_.fd, POLLIN, RemainingMs())) return Fail();
      ssize_t n;
      do n = ::recv(c_.fd, buffer_, sizeof buffer_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      next_ = 0;
      end_ = static_cast<std::size_t>(n);
      if (c_.phase == Phase::Idle) {
        c_.phase = Phase::Head;
        c_.since = Clock::now();
      }
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
    do n = ::send(c_.fd, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(c_.fd, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(c_.fd, false, ip, port); }
  socket_t socket() const override { return c_.fd; }

 private:
  int RemainingMs() const {
    const auto limit = c_.phase == Phase::Idle   ? limits_.idleTime
                       : c_.phase == Phase::Head ? limits_.headTime
                                                 : limits_.bodyTime;
    return Milliseconds(c_.since.load() + limit - Clock::now());
  }
  ssize_t Fail() {
    exhausted_ = true;
    return -1;
  }

  ConnectionServer::Connection& c_;
  const ConnectionLimits& limits_;
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
  while (discarded < kLingerBytes && WaitFor(fd, POLLIN, Milliseconds(until - Clock::now()))) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n <= 0) break;
    discarded += static_cast<std::size_t>(n);
  }
}

}  // namespace

ConnectionServer::ConnectionServer(const ConnectionLimits& limits) : limits_(limits) {
  set_payload_max_length(limits_.bodyBytes);
  set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (tStream != nullptr) tStream->BeginBody();
    if (!check_ || check_(req, res) == HandlerResponse::Unhandled) return HandlerResponse::Unhandled;
    CloseAfterAnswer(res);
    return HandlerResponse::Handled;
  });
}

ConnectionServer::~ConnectionServer() {
  // Bound but never served: the listening socket is still open.
  const int listening = svr_sock_.exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) ::close(listening);
}

void ConnectionServer::CloseAfterAnswer(httplib::Response& res) {
  res.set_header("Connection", "close");
  if (tConnection != nullptr) tConnection->closeAfterAnswer = true;
}

int ConnectionServer::Bind(const std::string& address, int port) {
  const int bound = port == 0 ? bind_to_any_port(address) : (bind_to_port(address, port) ? port : -1);
  // cpp-httplib listens with a backlog of 5: a burst of clients within the
  // connection limit would be refused by the kernel before Serve sees them.
  if (bound >= 0) ::listen(svr_sock_, static_cast<int>(std::max<std::size_t>(limits_.connections, SOMAXCONN)));
  return bound;
}

void ConnectionServer::Serve() {
  const int listening = svr_sock_;
  while (!stopping_) {
    if (!WaitFor(listening, POLLIN, 200)) {
      std::lock_guard lock(mutex_);
      Reap();
      continue;
    }
    const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    Reap();
    if (stopping_ || !MakeRoom()) {
      static const char kBusy[] =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n"
          "Content-Length: 36\r\n\r\n{\"error\": \"too many open connections\"}";
      (void)::send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      continue;
    }
    Connection& c = connections_.emplace_back();
    c.fd = fd;
    c.thread = std::thread([this, &c] { ServeConnection(c); });
  }
  svr_sock_ = INVALID_SOCKET;
  ::close(listening);
  // Every connection ends: blocked reads and writes return at once.
  {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_)
      if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
  }
  for (auto& c : connections_) c.thread.join();  // only this thread changes the list
  connections_.clear();
}

void ConnectionServer::ServeConnection(Connection& c) {
  tConnection = &c;
  BoundedStream stream(c, limits_);
  tStream = &stream;
  for (std::size_t served = 0; served < keep_alive_max_count_ && !stopping_; ++served) {
    stream.NextRequest();
    if (!stream.HasBuffered() && !WaitFor(c.fd, POLLIN, Milliseconds(limits_.idleTime))) break;
    bool closed = false;
    const bool last = served + 1 == keep_alive_max_count_;
    const bool answered = process_request(stream, last, closed, nullptr);
    // A request that never reached routing (a malformed request line or
    // header, a URI too long) was answered 400 or so: what follows it on the
    // connection cannot be trusted to start a request.
    const bool routed = c.phase == Phase::Body;
    if (!answered || closed || !routed || c.closeAfterAnswer || stream.Exhausted()) break;
  }
  if (!stopping_) Linger(c.fd);
  tStream = nullptr;
  tConnection = nullptr;
  std::lock_guard lock(mutex_);
  ::close(c.fd);
  c.fd = -1;
  c.done = true;
}

bool ConnectionServer::MakeRoom() {
  if (connections_.size() < limits_.connections) return true;
  // Full: the connection that has waited longest for a request (idle, or
  // trickling its head) gives way; streams and requests being answered keep
  // their place.
  Connection* oldest = nullptr;
  for (auto& c : connections_) {
    if (c.done || c.evicted || c.fd < 0 || c.phase == Phase::Body) continue;
    if (oldest == nullptr || c.since.load() < oldest->since.load()) oldest = &c;
  }
  if (oldest == nullptr) return false;
  oldest->evicted = true;
  ::shutdown(oldest->fd, SHUT_RDWR);
  return true;
}

void ConnectionServer::Reap() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->done) {
      it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

std::shared_ptr<void> ConnectionServer::TakeStreamPlace() {
  if (++streams_ > limits_.streams) {
    --streams_;
    return nullptr;
  }
  return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) { --streams_; });
}

void ConnectionServer::Stop() {
  stopping_ = true;
  const int listening = svr_sock_;
  if (listening != INVALID_SOCKET) ::shutdown(listening, SHUT_RDWR);  // wakes Serve
}

}  // namespace rk350::scope
