#include "net/acceptor.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rk350::scope {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 200ms;  // how often Run looks for ended connections

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

}  // namespace

Acceptor::~Acceptor() {
  Stop();
  for (const auto& l : listeners_) ::close(l.fd);
}

int Acceptor::Listen(const std::string& address, int port, Channel channel, std::string& error) {
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
  // A burst of clients within the places is not refused by the kernel
  // before Run sees it.
  const int backlog = static_cast<int>(std::max<std::size_t>(rules_.at(channel.rule).count, SOMAXCONN));
  error = "no address to listen on";
  int listener = -1;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, backlog) == 0) {
      listener = fd;
      break;
    }
    error = std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (listener < 0) return -1;
  listeners_.push_back({listener, std::move(channel)});
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

void Acceptor::Run(const Serve& serve) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    running_ = true;
  }
  std::vector<pollfd> polled;
  for (const auto& l : listeners_) polled.push_back({l.fd, POLLIN, 0});
  while (!stopping_) {
    {
      std::lock_guard lock(mutex_);
      Reap();
    }
    for (auto& p : polled) p.revents = 0;
    if (::poll(polled.data(), polled.size(), static_cast<int>(kPollInterval.count())) <= 0) continue;
    for (std::size_t i = 0; i < polled.size() && !stopping_; ++i) {
      if ((polled[i].revents & POLLIN) == 0) continue;
      const int fd = ::accept4(polled[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) Admit(fd, i, serve);
    }
  }
  EndAll();
  std::lock_guard lock(mutex_);
  running_ = false;
  ran_.notify_all();
}

void Acceptor::Admit(int fd, std::size_t channel, const Serve& serve) {
  const Channel& how = listeners_[channel].channel;
  std::lock_guard lock(mutex_);
  if (stopping_ || !MakeRoom(how.rule, nullptr)) {
    if (!how.refusal.empty()) (void)::send(fd, how.refusal.data(), how.refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
    return;
  }
  if (how.keepAlive) KeepAlive(fd);
  Connection& c = connections_.emplace_back();
  c.fd_ = fd;
  c.channel_ = channel;
  c.rule_ = how.rule;
  c.Heard();
  c.thread_ = std::thread([this, &c, &serve] {
    serve(c);
    // Closed here, under the mutex: eviction never shuts down a number
    // already given to another socket.
    std::lock_guard ended(mutex_);
    ::close(c.fd_);
    c.fd_ = -1;
    c.done_ = true;
  });
}

bool Acceptor::MakeRoom(std::size_t rule, const Connection* newcomer) {
  const PlaceRule& r = rules_.at(rule);
  const auto now = Clock::now();
  std::size_t taken = 0;
  Connection* idlest = nullptr;
  for (auto& c : connections_) {
    if (&c == newcomer || c.done_ || c.ending_ || c.rule_ != rule) continue;
    ++taken;
    if (c.busy_ || !r.evictAfter || now - c.LastHeard() < *r.evictAfter) continue;
    if (idlest == nullptr || c.heard_ < idlest->heard_) idlest = &c;
  }
  if (taken < r.count) return true;
  if (idlest == nullptr) return false;
  idlest->ending_ = true;
  ::shutdown(idlest->fd_, SHUT_RDWR);  // its blocked reads and writes return at once
  return true;
}

bool Acceptor::Move(Connection& connection, std::size_t rule) {
  std::lock_guard lock(mutex_);
  if (connection.rule_ == rule) return true;
  if (!MakeRoom(rule, &connection)) return false;
  connection.rule_ = rule;
  return true;
}

void Acceptor::Reap() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->done_) {
      it->thread_.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Acceptor::EndAll() {
  {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) {
      c.ending_ = true;
      if (c.fd_ >= 0) ::shutdown(c.fd_, SHUT_RDWR);
    }
  }
  // Only this thread changes the list; the connections' own ends take the mutex.
  for (auto& c : connections_) c.thread_.join();
  connections_.clear();
}

void Acceptor::Stop() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  for (const auto& l : listeners_) ::shutdown(l.fd, SHUT_RDWR);  // wakes Run's poll
  ran_.wait(lock, [this] { return !running_; });
}

}  // namespace rk350::scope
