// A portmapper answer of the scope's own, for a machine that runs none: on
// port 111 (so only as root) it tells where the VXI-11 core channel is, in
// the portmapper's version 2 (GETPORT, DUMP) and rpcbind's versions 3 and 4
// (GETADDR), over TCP and UDP. It registers nothing else: other programs
// need a real rpcbind.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "vxi11/onc_rpc.h"

namespace rk350::vxi11 {

class BuiltInPortmapper {
 public:
  ~BuiltInPortmapper() { Stop(); }
  // Answers for `program`/`version` at TCP `port` on the IPv4 `address`.
  // False with the reason when port 111 cannot be had.
  bool Start(const std::string& address, std::uint32_t program, std::uint32_t version, int port, std::string& error);
  void Stop();

 private:
  void Serve();
  std::vector<char> Answer(rpc::Call& call, const std::string& localAddress) const;

  std::uint32_t program_ = 0, version_ = 0;
  int port_ = 0;
  int tcp_ = -1, udp_ = -1;
  std::string address_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace rk350::vxi11
