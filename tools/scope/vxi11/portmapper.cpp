#include "vxi11/portmapper.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rk350::vxi11 {
namespace {

using namespace std::chrono_literals;
constexpr std::uint32_t kPortmapper = 100000;
constexpr int kPort = 111;
constexpr std::uint32_t kTcp = 6, kUdp = 17;
// Procedures: version 2 GETPORT and DUMP; versions 3 and 4 GETADDR, and 4's GETVERSADDR.
constexpr std::uint32_t kGetPort = 3, kDump = 4, kGetAddr = 3, kGetVersAddr = 9;
constexpr std::size_t kMaxCall = 4096;

int Open(int type, const in_addr& address, std::string& error) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(kPort);
  a.sin_addr = address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
    error = std::string("port 111: ") + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// The universal address of an IPv4 address and port: "h1.h2.h3.h4.p1.p2".
std::string UniversalAddress(const std::string& host, int port) {
  return host + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xff);
}

std::string LocalAddress(int fd) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  char text[INET_ADDRSTRLEN] = "127.0.0.1";
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET &&
      local.sin_addr.s_addr != htonl(INADDR_ANY))
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  return text;
}

}  // namespace

bool BuiltInPortmapper::Start(const std::string& address, std::uint32_t program, std::uint32_t version, int port,
                              std::string& error) {
  in_addr a{};
  if (::inet_pton(AF_INET, address.c_str(), &a) != 1) {
    error = "an IPv4 address is needed, not " + address;
    return false;
  }
  program_ = program;
  version_ = version;
  port_ = port;
  address_ = address;
  tcp_ = Open(SOCK_STREAM, a, error);
  if (tcp_ < 0) return false;
  udp_ = Open(SOCK_DGRAM, a, error);
  if (udp_ < 0) {
    ::close(tcp_);
    tcp_ = -1;
    return false;
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void BuiltInPortmapper::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (tcp_ >= 0) ::close(tcp_);
  if (udp_ >= 0) ::close(udp_);
  tcp_ = udp_ = -1;
}

// One thread for both: each call is answered at once, and a TCP client gets
// two seconds for its call, so none holds the others for long.
void BuiltInPortmapper::Serve() {
  std::vector<char> datagram(kMaxCall);
  while (!stopping_) {
    pollfd p[2] = {{tcp_, POLLIN, 0}, {udp_, POLLIN, 0}};
    if (::poll(p, 2, 200) <= 0) continue;
    if (p[1].revents & POLLIN) {
      sockaddr_storage from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(udp_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n > 0)
        if (auto call = rpc::ParseCall(std::vector<char>(datagram.begin(), datagram.begin() + n))) {
          const auto reply = Answer(*call, LocalAddress(udp_) == "127.0.0.1" ? address_ : LocalAddress(udp_));
          ::sendto(udp_, reply.data(), reply.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), length);
        }
    }
    if (p[0].revents & POLLIN) {
      const int fd = ::accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      while (auto message = rpc::ReadRecord(fd, kMaxCall, 2s, 2s, stopping_)) {
        auto call = rpc::ParseCall(std::move(*message));
        if (!call || !rpc::WriteRecord(fd, Answer(*call, LocalAddress(fd)), 2s)) break;
      }
      ::close(fd);
    }
  }
}

std::vector<char> BuiltInPortmapper::Answer(rpc::Call& call, const std::string& localAddress) const {
  if (call.program != kPortmapper) return rpc::RefusalReply(call.xid, rpc::kProgramUnavailable);
  if (call.version < 2 || call.version > 4) return rpc::RefusalReply(call.xid, rpc::kProgramMismatch, 2, 4);
  rpc::Decoder in(call);
  rpc::Encoder out(256);
  rpc::BeginReply(out, call.xid, rpc::kSuccess);
  if (call.procedure == 0) return out.Take();
  if (call.version == 2 && call.procedure == kGetPort) {
    std::uint32_t program = 0, version = 0, protocol = 0, ignored = 0;
    if (!(in.U32(program) && in.U32(version) && in.U32(protocol) && in.U32(ignored)))
      return rpc::RefusalReply(call.xid, rpc::kGarbageArguments);
    const bool ours = program == program_ && version == version_ && protocol == kTcp;
    out.U32(ours ? static_cast<std::uint32_t>(port_) : program == kPortmapper ? kPort : 0);
    return out.Take();
  }
  if (call.version == 2 && call.procedure == kDump) {
    const std::uint32_t entries[][4] = {{kPortmapper, 2, kTcp, kPort},
                                        {kPortmapper, 2, kUdp, kPort},
                                        {program_, version_, kTcp, static_cast<std::uint32_t>(port_)}};
    for (const auto& e : entries) out.U32(1) && out.U32(e[0]) && out.U32(e[1]) && out.U32(e[2]) && out.U32(e[3]);
    out.U32(0);
    return out.Take();
  }
  if (call.version >= 3 && (call.procedure == kGetAddr || (call.version == 4 && call.procedure == kGetVersAddr))) {
    std::uint32_t program = 0, version = 0;
    std::string netid, address, owner;
    if (!(in.U32(program) && in.U32(version) && in.Opaque(netid, 64) && in.Opaque(address, 256) &&
          in.Opaque(owner, 256)))
      return rpc::RefusalReply(call.xid, rpc::kGarbageArguments);
    const bool tcp = netid == "tcp" || netid.empty();
    const bool ours = program == program_ && version == version_ && tcp;
    // Clients ask where the portmapper itself is before they ask it more.
    const bool itself = program == kPortmapper && version >= 2 && version <= 4 && (tcp || netid == "udp");
    out.String(ours ? UniversalAddress(localAddress, port_) : itself ? UniversalAddress(localAddress, kPort) : "");
    return out.Take();
  }
  return rpc::RefusalReply(call.xid, rpc::kProcedureUnavailable);
}

}  // namespace rk350::vxi11
