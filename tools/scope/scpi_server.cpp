#include "scpi_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rk350::scpi {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 200ms;

bool SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // closed, or the send time-out passed
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Whether the peer closed its side (data still waiting to be read is not a close).
bool PeerClosed(int fd) {
  char c;
  const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

ScpiServer::ScpiServer(scope::InstrumentThread& instrument, const std::string& token, ServerLimits limits)
    : shared_(instrument, token), limits_(limits) {}

ScpiServer::~ScpiServer() {
  Stop();
  if (listener_ >= 0) ::close(listener_);
}

int ScpiServer::Bind(const std::string& address, int port, std::string& error) {
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
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 16) == 0) {
      listener_ = fd;
      break;
    }
    error = std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (listener_ < 0) return -1;
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

void ScpiServer::Serve() {
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    Reap(false);
    if (::poll(&p, 1, static_cast<int>(kPollInterval.count())) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(clientsMutex_);
    if (stopping_ || clients_.size() >= limits_.maxClients) {
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval timeout{static_cast<time_t>(limits_.sendTimeout.count() / 1000),
                    static_cast<suseconds_t>(limits_.sendTimeout.count() % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    Client& client = clients_.emplace_back();
    client.fd = fd;
    client.thread = std::thread([this, &client, id = nextId_++] { Talk(client, id); });
  }
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

void ScpiServer::Talk(Client& client, int id) {
  Session session(shared_, id);
  MessageFramer framer(limits_.maxMessage, limits_.maxBlock);
  const int fd = client.fd;
  const auto keepWaiting = [&] { return !stopping_ && !PeerClosed(fd); };
  auto lastBytes = std::chrono::steady_clock::now();
  std::string buffer(64 * 1024, '\0');
  while (!stopping_) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(kPollInterval.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) {
      // A block that stopped arriving (its length miscounted): drop it, say so.
      if (framer.InsideBlock() && std::chrono::steady_clock::now() - lastBytes > limits_.blockIdle)
        session.Report(framer.Abandon());
      continue;
    }
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    lastBytes = std::chrono::steady_clock::now();
    bool open = true;
    for (auto& item : framer.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
      if (item.error) {
        session.Report(*item.error);
        continue;
      }
      std::string response = session.Execute(item.message, keepWaiting);
      if (response.empty()) continue;
      response += '\n';
      if (!SendAll(fd, response)) {
        open = false;
        break;
      }
    }
    if (!open) break;
  }
  client.done = true;
}

}  // namespace rk350::scpi
