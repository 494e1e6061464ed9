#include "scpi/scpi_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace rk350::scpi {
namespace {

using namespace std::chrono_literals;
using scope::Clock;
constexpr auto kPollInterval = 200ms;

}  // namespace

ScpiServer::ScpiServer(scope::InstrumentThread& instrument, const std::string& token, ServerLimits limits)
    : shared_(instrument, token),
      limits_(limits),
      // Those awaiting the token give way to newcomers, the admitted only when idle.
      acceptor_({{.count = limits.maxClients, .evictAfter = 0ms},
                 {.count = limits.maxClients, .evictAfter = limits.evictIdle}}) {
  instrument.Control().SetLapse(limits_.lockIdle);
  // A VXI-11 link is no connection of this server's: its connection holds a
  // place of its own already.
  shared_.takePlace = [this](int id) {
    std::lock_guard lock(sessionsMutex_);
    const auto it = sessions_.find(id);
    return it == sessions_.end() || acceptor_.Move(*it->second, kAdmitted);
  };
}

ScpiServer::~ScpiServer() { Stop(); }

int ScpiServer::Bind(const std::string& address, int port, std::string& error) {
  // Without a token every connection is admitted at once. With one, it takes
  // its place when it sends the token.
  return acceptor_.Listen(address, port,
                          {.rule = shared_.token.empty() ? kAdmitted : kAwaitingToken, .keepAlive = true}, error);
}

void ScpiServer::Serve() {
  acceptor_.Run([this](scope::Connection& connection) { Talk(connection); });
}

void ScpiServer::Stop() { acceptor_.Stop(); }

void ScpiServer::Talk(scope::Connection& connection) {
  const int id = shared_.nextId++;
  Session session(shared_, id);
  {
    std::lock_guard lock(sessionsMutex_);
    sessions_[id] = &connection;
  }
  MessageFramer framer(limits_.maxMessage, limits_.maxBlock);
  const int fd = connection.Fd();
  const auto connected = Clock::now();
  const auto heard = [&] { connection.Heard(); };
  // A client waiting on its own command is busy, not idle.
  const auto keepWaiting = [&] {
    if (connection.Ending() || scope::PeerGone(fd)) return false;
    heard();
    return true;
  };
  const auto send = [&](std::string&& answer) {
    const auto deadline =
        Clock::now() + limits_.sendTimeout + std::chrono::milliseconds(answer.size() * 1000 / limits_.minSendRate);
    return scope::SendAll(fd, answer, deadline);
  };
  auto lastBytes = Clock::now();
  std::string buffer(64 * 1024, '\0');
  bool open = true;
  while (open && !connection.Ending()) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(kPollInterval.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) {
      const auto now = Clock::now();
      // A block that stopped arriving (its length miscounted): drop it, say so.
      if (framer.InsideBlock() && now - lastBytes > limits_.blockIdle) session.Report(framer.Abandon());
      const auto silent = now - connection.LastHeard();
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
  std::lock_guard lock(sessionsMutex_);
  sessions_.erase(id);
}

}  // namespace rk350::scpi
