#include "vxi11/onc_rpc.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "net/socket_io.h"

namespace rk350::rpc {
namespace {

constexpr std::uint32_t kCall = 0, kReply = 1;
constexpr std::uint32_t kAccepted = 0, kDenied = 1, kRpcMismatch = 0;
constexpr std::uint32_t kMaxAuth = 400;  // bytes of a credential or verifier body
constexpr std::uint32_t kLastFragment = 0x80000000u;

using Clock = std::chrono::steady_clock;

// Skips an opaque_auth (flavour, body); false when malformed.
bool SkipAuth(XDR* x) {
  u_int flavour = 0, length = 0;
  if (!xdr_u_int(x, &flavour) || !xdr_u_int(x, &length) || length > kMaxAuth) return false;
  const u_int padded = (length + 3) & ~3u;
  return xdr_setpos(x, xdr_getpos(x) + padded) != 0;
}

// Reads exactly `size` bytes; every piece within `patience`.
bool ReadExactly(int fd, char* data, std::size_t size, std::chrono::milliseconds first,
                 std::chrono::milliseconds patience, const std::atomic<bool>& stopping) {
  std::size_t got = 0;
  auto deadline = Clock::now() + first;
  while (got < size) {
    if (stopping) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t n = ::recv(fd, data + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
    deadline = Clock::now() + patience;
  }
  return true;
}

}  // namespace

std::optional<Call> ParseCall(std::vector<char> bytes) {
  Call call;
  call.bytes = std::move(bytes);
  XDR x;
  xdrmem_create(&x, call.bytes.data(), static_cast<u_int>(call.bytes.size()), XDR_DECODE);
  u_int type = 0, rpcVersion = 0;
  const bool ok = xdr_u_int(&x, &call.xid) && xdr_u_int(&x, &type) && type == kCall && xdr_u_int(&x, &rpcVersion) &&
                  rpcVersion == 2 && xdr_u_int(&x, &call.program) && xdr_u_int(&x, &call.version) &&
                  xdr_u_int(&x, &call.procedure) && SkipAuth(&x) && SkipAuth(&x);
  call.argumentsAt = xdr_getpos(&x);
  xdr_destroy(&x);
  if (!ok) return std::nullopt;
  return call;
}

Encoder::Encoder(std::size_t room) : buffer_(room + 64) {
  xdrmem_create(&xdr_, buffer_.data(), static_cast<u_int>(buffer_.size()), XDR_ENCODE);
}
Encoder::~Encoder() { xdr_destroy(&xdr_); }
bool Encoder::U32(std::uint32_t v) { return xdr_u_int(&xdr_, &v) != 0; }
bool Encoder::I32(std::int32_t v) { return xdr_int(&xdr_, &v) != 0; }
bool Encoder::Opaque(const char* data, std::size_t size) {
  char* p = const_cast<char*>(data);  // XDR_ENCODE only reads it
  u_int n = static_cast<u_int>(size);
  return xdr_bytes(&xdr_, &p, &n, n) != 0;
}
bool Encoder::String(const std::string& s) { return Opaque(s.data(), s.size()); }
std::vector<char> Encoder::Take() {
  buffer_.resize(xdr_getpos(&xdr_));
  return std::move(buffer_);
}

Decoder::Decoder(Call& call) {
  xdrmem_create(&xdr_, call.bytes.data(), static_cast<u_int>(call.bytes.size()), XDR_DECODE);
  xdr_setpos(&xdr_, static_cast<u_int>(call.argumentsAt));
}
Decoder::~Decoder() { xdr_destroy(&xdr_); }
bool Decoder::U32(std::uint32_t& v) { return xdr_u_int(&xdr_, &v) != 0; }
bool Decoder::I32(std::int32_t& v) { return xdr_int(&xdr_, &v) != 0; }
bool Decoder::Opaque(std::string& out, std::size_t max) {
  u_int length = 0;
  if (!xdr_u_int(&xdr_, &length) || length > max) return false;  // xdr_opaque checks what is left
  out.resize(length);
  return length == 0 || xdr_opaque(&xdr_, out.data(), length) != 0;
}

bool BeginReply(Encoder& out, std::uint32_t xid, AcceptStat stat) {
  return out.U32(xid) && out.U32(kReply) && out.U32(kAccepted) && out.U32(0) && out.U32(0) && out.U32(stat);
}

std::vector<char> RefusalReply(std::uint32_t xid, AcceptStat stat, std::uint32_t low, std::uint32_t high) {
  Encoder out(64);
  BeginReply(out, xid, stat);
  if (stat == kProgramMismatch) out.U32(low) && out.U32(high);
  return out.Take();
}

std::optional<std::vector<char>> ReadRecord(int fd, std::size_t max, std::chrono::milliseconds idle,
                                            std::chrono::milliseconds patience, const std::atomic<bool>& stopping) {
  std::vector<char> message;
  for (bool last = false, first = true; !last; first = false) {
    std::uint32_t header = 0;
    if (!ReadExactly(fd, reinterpret_cast<char*>(&header), 4, first ? idle : patience, patience, stopping))
      return std::nullopt;
    header = ntohl(header);
    last = (header & kLastFragment) != 0;
    const std::size_t length = header & ~kLastFragment;
    if (length > max - message.size()) return std::nullopt;  // larger than any call we take
    const std::size_t at = message.size();
    message.resize(at + length);
    if (!ReadExactly(fd, message.data() + at, length, patience, patience, stopping)) return std::nullopt;
  }
  return message;
}

bool WriteRecord(int fd, const std::vector<char>& message, std::chrono::milliseconds timeout) {
  const std::uint32_t header = htonl(kLastFragment | static_cast<std::uint32_t>(message.size()));
  std::vector<char> whole(4 + message.size());
  std::memcpy(whole.data(), &header, 4);
  if (!message.empty()) std::memcpy(whole.data() + 4, message.data(), message.size());
  return scope::SendAll(fd, std::string_view(whole.data(), whole.size()), Clock::now() + timeout);
}

}  // namespace rk350::rpc
