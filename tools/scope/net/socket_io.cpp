#include "net/socket_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace rk350::scope {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 200ms;  // a send's wait looks again this often

int Milliseconds(Clock::duration d) {
  return static_cast<int>(
      std::clamp<long long>(std::chrono::ceil<std::chrono::milliseconds>(d).count(), 0, 24LL * 3600 * 1000));
}

}  // namespace

bool WaitFor(int fd, short events, Clock::duration time) {
  pollfd p{fd, events, 0};
  int n;
  do n = ::poll(&p, 1, Milliseconds(time));
  while (n < 0 && errno == EINTR);
  return n > 0;
}

bool SendAll(int fd, std::string_view data, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;  // closed
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    WaitFor(fd, POLLOUT, std::min<Clock::duration>(left, kPollInterval));
  }
  return true;
}

bool PeerGone(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace rk350::scope
