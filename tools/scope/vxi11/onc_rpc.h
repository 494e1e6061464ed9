// ONC RPC (RFC 5531) as the VXI-11 channels and the portmapper answer carry
// it: calls read from and replies written to a stream socket in record
// marking, arguments and results in XDR through libtirpc's XDR routines.
#pragma once

#include <rpc/rpc.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rk350::rpc {

enum AcceptStat : std::uint32_t {
  kSuccess = 0,
  kProgramUnavailable = 1,
  kProgramMismatch = 2,
  kProcedureUnavailable = 3,
  kGarbageArguments = 4,
};

// One call: its header, and an XDR stream positioned at its arguments.
struct Call {
  std::uint32_t xid = 0;
  std::uint32_t program = 0;
  std::uint32_t version = 0;
  std::uint32_t procedure = 0;
  std::vector<char> bytes;  // the whole message
  std::size_t argumentsAt = 0;
};

// Splits `bytes` (one message) into a call; nullopt if it is not a call of
// RPC version 2 whose header can be read.
std::optional<Call> ParseCall(std::vector<char> bytes);

// Encodes into a growing buffer (XDR needs the room before it writes).
class Encoder {
 public:
  explicit Encoder(std::size_t room);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  XDR* Xdr() { return &xdr_; }
  bool U32(std::uint32_t v);
  bool I32(std::int32_t v);
  bool Opaque(const char* data, std::size_t size);  // variable-length opaque<>
  bool String(const std::string& s);
  std::vector<char> Take();  // what was written

 private:
  std::vector<char> buffer_;
  XDR xdr_{};
};

// Decodes the arguments of a call.
class Decoder {
 public:
  explicit Decoder(Call& call);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  bool U32(std::uint32_t& v);
  bool I32(std::int32_t& v);
  // Variable-length opaque or string of at most `max` bytes.
  bool Opaque(std::string& out, std::size_t max);

 private:
  XDR xdr_{};
};

// The reply header for an accepted call; the results follow.
bool BeginReply(Encoder& out, std::uint32_t xid, AcceptStat stat);
// A whole reply for a call refused before its procedure ran (a version
// mismatch names versions low to high).
std::vector<char> RefusalReply(std::uint32_t xid, AcceptStat stat, std::uint32_t low = 0, std::uint32_t high = 0);

// Reads one record-marked message of at most `max` bytes; each fragment
// must arrive within `patience` of the previous bytes, the first within
// `idle`. nullopt: closed, too large, or too slow.
std::optional<std::vector<char>> ReadRecord(int fd, std::size_t max, std::chrono::milliseconds idle,
                                            std::chrono::milliseconds patience, const std::atomic<bool>& stopping);
// Writes one message as a single last fragment, by `timeout`.
bool WriteRecord(int fd, const std::vector<char>& message, std::chrono::milliseconds timeout);

}  // namespace rk350::rpc
