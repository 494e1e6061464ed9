// VXI-11 (the TCPIP::host::INSTR resource of VISA): the core channel, whose
// links are SCPI sessions like the raw socket's connections (the same
// instrument, order of execution, lock and token), and the abort channel.
// Carried by ONC RPC; the core channel is registered with the system's
// portmapper when one runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/acceptor.h"
#include "scpi/scpi_commands.h"
#include "scpi/scpi_server.h"
#include "vxi11/onc_rpc.h"

namespace rk350::vxi11 {

constexpr std::uint32_t kCoreProgram = 0x0607AF, kAbortProgram = 0x0607B0, kVersion = 1;

struct Link;

class Vxi11Server {
 public:
  Vxi11Server(scpi::SharedState& shared, scpi::ServerLimits limits);
  ~Vxi11Server();
  // Listens for the core channel on `corePort` (0: a free one) and the
  // abort channel on a free port. False with the reason in `error`.
  bool Bind(const std::string& address, int corePort, std::string& error);
  int CorePort() const { return corePort_; }
  int AbortPort() const { return abortPort_; }
  // Tells the system's portmapper where the core channel is; false when
  // none answers.
  bool Register();
  void Serve();  // until Stop
  void Stop();

 private:
  enum Channels : std::size_t { kCoreChannel, kAbortChannel };  // in the order they listen
  void Talk(scope::Connection& connection);
  std::vector<char> Dispatch(rpc::Call& call, bool abortChannel, std::list<std::int32_t>& links);
  std::shared_ptr<Link> Find(std::int32_t lid);
  void Destroy(std::int32_t lid);

  scpi::SharedState& shared_;
  scpi::ServerLimits limits_;
  int corePort_ = 0, abortPort_ = 0;
  bool registered_ = false;
  std::atomic<bool> stopping_{false};
  scope::Acceptor acceptor_;
  std::mutex linksMutex_;
  std::map<std::int32_t, std::shared_ptr<Link>> links_;
  std::int32_t nextLink_ = 1;
};

}  // namespace rk350::vxi11
