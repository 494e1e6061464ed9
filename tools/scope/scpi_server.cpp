#include "scpi_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rk350::scpi {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 200ms;

// Sends all of `data` by `deadline`: a reader too slow for it is dropped,
// however often it takes a few bytes.
bool SendAll(int fd, std::string_view data, std::chrono::steady_clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;  // closed
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) return false;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(std::min<std::chrono::milliseconds>(left, kPollInterval).count()));
  }
  return true;
}

// Whether the peer closed or shut down its side, or the connection broke
// (TCP keep-alive gave up): bytes it sent before do not keep it here.
bool PeerGone(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

// A host that vanishes is noticed within about half a minute, even mid-answer.
void KeepAlive(int fd) {
  const int on = 1, idle = 10, interval = 5, count = 3;
  const unsigned userTimeout = 30000;  // ms for sent data to be acknowledged
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

ScpiServer::ScpiServer(scope::InstrumentThread& instrument, const std::string& token, ServerLimits limits)
    : shared_(instrument, token), limits_(limits) {
  instrument.Control().SetLapse(limits_.lockIdle);
  shared_.takePlace = [this](int id) {
    std::lock_guard lock(clientsMutex_);
    for (auto& c : clients_)
      if (c.id == id) return TakePlace(c);
    return false;
  };
}

ScpiServer::~ScpiServer() {
  Stop();
  if (listener_ >= 0) ::close(listener_);
}

int ListenTcp(const std::string& address, int port, int& listener, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int r = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found); r != 0) {
    error = std::string("cannot resolve ") + address + ": " + ::gai_strerror(r);
    return -1;
  }
  error = "no address to listen on";
  listener = -1;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
      listener = fd;
      break;
    }
    error = std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (listener < 0) return -1;
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

int ScpiServer::Bind(const std::string& address, int port, std::string& error) {
  return ListenTcp(address, port, listener_, error);
}

void ScpiServer::Serve() {
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    Reap(false);
    if (::poll(&p, 1, static_cast<int>(kPollInterval.count())) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(clientsMutex_);
    // Without a token every connection is admitted at once. With one, it takes
    // its place when it sends the token; until then it only awaits it, and
    // when too many await, the oldest of them goes.
    std::size_t awaitingToken = 0;
    Client* oldest = nullptr;
    for (auto& c : clients_)
      if (!c.admitted && !c.done && !c.evicted) {
        ++awaitingToken;
        if (oldest == nullptr) oldest = &c;
      }
    if (!shared_.token.empty() && awaitingToken >= limits_.maxClients && oldest != nullptr) {
      oldest->evicted = true;
      ::shutdown(oldest->fd, SHUT_RDWR);
    }
    Client& client = clients_.emplace_back();
    client.fd = fd;
    client.id = shared_.nextId++;
    client.lastHeard = Clock::now().time_since_epoch().count();
    const bool room = !shared_.token.empty() || TakePlace(client);
    if (stopping_ || !room) {
      clients_.pop_back();
      ::close(fd);
      continue;
    }
    KeepAlive(fd);
    client.thread = std::thread([this, &client] { Talk(client); });
  }
}

bool ScpiServer::TakePlace(Client& client) {
  const auto now = Clock::now();
  std::size_t taken = 0;
  Client* idlest = nullptr;
  for (auto& c : clients_) {
    if (&c == &client || !c.admitted || c.done || c.evicted) continue;
    ++taken;
    const bool idle = now - Clock::time_point(Clock::duration(c.lastHeard.load())) >= limits_.evictIdle;
    if (idle && (idlest == nullptr || c.lastHeard < idlest->lastHeard)) idlest = &c;
  }
  if (taken >= limits_.maxClients) {
    if (idlest == nullptr) return false;
    idlest->evicted = true;
    ::shutdown(idlest->fd, SHUT_RDWR);
  }
  client.admitted = true;
  return true;
}

void ScpiServer::Stop() {
  stopping_ = true;
  {
    std::lock_guard lock(clientsMutex_);
    for (auto& c : clients_) ::shutdown(c.fd, SHUT_RDWR);
  }
  Reap(true);
}

// Joins the threads of connections that ended (all of them when stopping).
void ScpiServer::Reap(bool all) {
  std::list<Client> ended;
  {
    std::lock_guard lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      const auto next = std::next(it);
      if (all || it->done) ended.splice(ended.end(), clients_, it);
      it = next;
    }
  }
  for (auto& c : ended) {
    if (c.thread.joinable()) c.thread.join();
    ::close(c.fd);
  }
}

void ScpiServer::Talk(Client& client) {
  Session session(shared_, client.id);
  MessageFramer framer(limits_.maxMessage, limits_.maxBlock);
  const int fd = client.fd;
  const auto connected = Clock::now();
  const auto heard = [&] { client.lastHeard = Clock::now().time_since_epoch().count(); };
  // A client waiting on its own command is busy, not idle.
  const auto keepWaiting = [&] {
    if (stopping_ || client.evicted || PeerGone(fd)) return false;
    heard();
    return true;
  };
  const auto send = [&](std::string&& answer) {
    const auto deadline =
        Clock::now() + limits_.sendTimeout + std::chrono::milliseconds(answer.size() * 1000 / limits_.minSendRate);
    return SendAll(fd, answer, deadline);
  };
  auto lastBytes = Clock::now();
  std::string buffer(64 * 1024, '\0');
  bool open = true;
  while (open && !stopping_ && !client.evicted) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(kPollInterval.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) {
      const auto now = Clock::now();
      // A block that stopped arriving (its length miscounted): drop it, say so.
      if (framer.InsideBlock() && now - lastBytes > limits_.blockIdle) session.Report(framer.Abandon());
      const auto silent = now - Clock::time_point(Clock::duration(client.lastHeard.load()));
      if (silent > limits_.idle || (!session.Admitted() && now - connected > limits_.admitTime)) break;
      continue;
    }
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    heard();
    lastBytes = Clock::now();
    for (auto& item : framer.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
      if (item.error) {
        session.Report(*item.error);
        continue;
      }
      open = session.Execute(item.message, keepWaiting, send);
      if (!open) break;
      heard();
    }
  }
  client.done = true;
}

}  // namespace rk350::scpi
