// The scope's listening sockets and the connections they bring, for every
// protocol it serves (HTTP, SCPI, VXI-11): each connection has its own
// thread, connections hold places of a bounded number, and when all are
// taken the one silent longest gives way to the newcomer. The protocols only
// read and write; who is let in, who must go and when all of them end is
// decided here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_io.h"

namespace rk350::scope {

// A kind of place: how many connections hold one at once, and which gives
// way when all are taken and another comes.
struct PlaceRule {
  std::size_t count = 0;
  // The connection silent longest, if silent at least this long and not
  // busy, gives way; without it none does and the newcomer is refused.
  std::optional<std::chrono::milliseconds> evictAfter{};
};

// How the connections of one listening socket are taken in.
struct Channel {
  std::size_t rule = 0;    // the kind of place they take (an index of the acceptor's rules)
  std::string refusal{};   // sent to one that finds no place, before it is closed
  bool keepAlive = false;  // TCP keep-alive probes and no delay: a host that vanishes is noticed
};

// One accepted socket, served on its own thread.
class Connection {
 public:
  int Fd() const { return fd_; }
  std::size_t ChannelIndex() const { return channel_; }  // which Listen brought it
  // It was heard from (or is waiting on its own request): its silence starts again.
  void Heard() { heard_ = Clock::now().time_since_epoch().count(); }
  Clock::time_point LastHeard() const { return Clock::time_point(Clock::duration(heard_.load())); }
  // A busy connection (its request being answered, a stream) never gives way.
  void SetBusy(bool busy) { busy_ = busy; }
  // Closed to make room, or the server stops: its thread should end.
  bool Ending() const { return ending_; }

 private:
  friend class Acceptor;
  int fd_ = -1;
  std::size_t channel_ = 0;
  std::size_t rule_ = 0;  // under the acceptor's mutex
  std::thread thread_;
  std::atomic<bool> done_{false}, ending_{false}, busy_{false};
  std::atomic<Clock::rep> heard_{0};
};

class Acceptor {
 public:
  using Serve = std::function<void(Connection&)>;

  explicit Acceptor(std::vector<PlaceRule> rules) : rules_(std::move(rules)) {}
  ~Acceptor();  // stops

  // Listens on the address (port 0: a free one) before Run. Returns the
  // port, or -1 with the reason in `error`.
  int Listen(const std::string& address, int port, Channel channel, std::string& error);
  // Accepts on every listening socket until Stop, each connection served by
  // `serve` on its own thread; then ends every connection and waits for them.
  void Run(const Serve& serve);
  // Ends Run (every connection included) and waits for it.
  void Stop();
  // The listening socket of the `channel`th Listen, -1 when none.
  int ListeningSocket(std::size_t channel) const { return channel < listeners_.size() ? listeners_[channel].fd : -1; }
  // Moves the connection to another kind of place (a token sent); false
  // when all those are taken and none gives way.
  bool Move(Connection& connection, std::size_t rule);

 private:
  struct Listener {
    int fd = -1;
    Channel channel;
  };
  void Admit(int fd, std::size_t channel, const Serve& serve);
  bool MakeRoom(std::size_t rule, const Connection* newcomer);  // under mutex_
  void Reap();                                                  // joins ended threads; under mutex_
  void EndAll();

  const std::vector<PlaceRule> rules_;
  std::vector<Listener> listeners_;
  std::mutex mutex_;
  std::list<Connection> connections_;
  std::atomic<bool> stopping_{false};
  bool running_ = false;  // under mutex_
  std::condition_variable ran_;
};

}  // namespace rk350::scope
