// Waits and writes on a connected socket, bounded in time: what every
// protocol of the scope needs besides its own framing.
#pragma once

#include <chrono>
#include <string_view>

namespace rk350::scope {

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for `events` (POLLIN, POLLOUT); false
// when the time passed first.
bool WaitFor(int fd, short events, Clock::duration time);
// Sends all of `data` by `deadline`: a reader too slow for it is dropped,
// however often it takes a few bytes.
bool SendAll(int fd, std::string_view data, Clock::time_point deadline);
// Whether the peer closed or shut down its side, or the connection broke
// (TCP keep-alive gave up): bytes it sent before do not keep it here.
bool PeerGone(int fd);

}  // namespace rk350::scope
