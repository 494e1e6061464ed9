// SCPI over a raw TCP socket (port 5025 by convention): one thread per
// connection reads program messages, carries them out through the shared
// command session and writes the answers. A client that sends slowly or
// reads slowly holds only its own thread; every wait is bounded.
#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "scpi_commands.h"

namespace rk350::scpi {

struct ServerLimits {
  std::size_t maxMessage = 64 * 1024;            // bytes of a message outside blocks
  std::size_t maxBlock = 1024 * 1024;            // bytes of one block parameter
  std::size_t maxClients = 16;                   // connections at once; more are closed at once
  std::chrono::milliseconds blockIdle{2000};     // a block that stops arriving this long is dropped
  std::chrono::milliseconds sendTimeout{10000};  // a client that reads nothing this long is dropped
};

class ScpiServer {
 public:
  // A non-empty `token` must be sent by each connection (:SYSTem:TOKen).
  ScpiServer(scope::InstrumentThread& instrument, const std::string& token, ServerLimits limits = {});
  ~ScpiServer();
  // Listens on the address; port 0 takes a free one. Returns the port, or
  // -1 with the reason in `error`.
  int Bind(const std::string& address, int port, std::string& error);
  void Serve();  // accepts until Stop
  void Stop();

 private:
  struct Client {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void Talk(Client& client, int id);
  void Reap(bool all);

  SharedState shared_;
  ServerLimits limits_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex clientsMutex_;
  std::list<Client> clients_;
  int nextId_ = 1;
};

}  // namespace rk350::scpi
