#include "vxi11/vxi11_server.h"

#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>

// libtirpc's pmap_set keeps 16 bytes of the address it converted, once per
// call: not ours to free. LeakSanitizer (when built with it) is told so;
// otherwise this function is never called.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:__rpc_uaddr2taddr_af\n";
}

namespace rk350::vxi11 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Procedures of the core and abort channels.
enum Procedure : std::uint32_t {
  kCreateLink = 10,
  kDeviceWrite = 11,
  kDeviceRead = 12,
  kDeviceReadStb = 13,
  kDeviceTrigger = 14,
  kDeviceClear = 15,
  kDeviceRemote = 16,
  kDeviceLocal = 17,
  kDeviceLock = 18,
  kDeviceUnlock = 19,
  kDeviceEnableSrq = 20,
  kDeviceDoCmd = 22,
  kDestroyLink = 23,
  kCreateInterruptChannel = 25,
  kDestroyInterruptChannel = 26,
  kDeviceAbort = 1,  // on the abort channel
};

// Device_ErrorCode.
enum DeviceError : std::uint32_t {
  kNoError = 0,
  kSyntaxError = 1,
  kDeviceNotAccessible = 3,
  kInvalidLink = 4,
  kParameterError = 5,
  kNotSupported = 8,
  kOutOfResources = 9,
  kLockedByAnother = 11,
  kNoLockHeld = 12,
  kIoTimeout = 15,
  kIoError = 17,
  kAborted = 23,
};

constexpr std::uint32_t kFlagWaitLock = 0x01, kFlagEnd = 0x08, kFlagTermChar = 0x80;
constexpr std::int32_t kReasonRequestCount = 1, kReasonTermChar = 2, kReasonEnd = 4;
constexpr std::uint32_t kMaxReceive = 1024 * 1024;  // bytes of one device_write a client may send
constexpr std::size_t kMaxCall = kMaxReceive + 4096;
constexpr std::size_t kMaxLinksPerConnection = 16;
constexpr std::size_t kOutputHeld = 4 * 1024 * 1024;  // answers beyond this wait for device_read

std::chrono::milliseconds Timeout(std::uint32_t ms) {
  return std::chrono::milliseconds(std::min<std::uint32_t>(ms, 24u * 3600 * 1000));
}

}  // namespace

// One link: an SCPI session and the thread that carries out its messages,
// so that a message waiting for a record does not hold the RPC connection
// (device_readstb and device_clear answer meanwhile).
struct Link {
  Link(scpi::SharedState& shared, int id, const scpi::ServerLimits& limits)
      : session(shared, id), id(id), framer(limits.maxMessage, limits.maxBlock) {}
  scpi::Session session;
  const int id;
  std::mutex mutex;
  std::condition_variable changed;
  scpi::MessageFramer framer;        // under `mutex`, used only while the worker is idle
  std::deque<std::string> messages;  // written, not yet carried out
  bool busy = false;                 // the worker carries out a message
  std::deque<std::string> output;    // answers not yet read
  std::deque<bool> ends;             // per output piece: it ends a message's answer
  std::size_t held = 0;              // bytes in `output`
  std::atomic<bool> abort{false};    // device_clear or device_abort: end the running message
  bool closing = false;
  std::thread worker;

  bool Idle() const { return !busy && messages.empty(); }
};

// Connections of both channels share the places; beyond them a newcomer is refused.
Vxi11Server::Vxi11Server(scpi::SharedState& shared, scpi::ServerLimits limits)
    : shared_(shared), limits_(limits), acceptor_(std::vector<scope::PlaceRule>{{.count = limits.maxClients}}) {}

Vxi11Server::~Vxi11Server() { Stop(); }

bool Vxi11Server::Bind(const std::string& address, int corePort, std::string& error) {
  corePort_ = acceptor_.Listen(address, corePort, {.keepAlive = true}, error);
  if (corePort_ < 0) return false;
  abortPort_ = acceptor_.Listen(address, 0, {.keepAlive = true}, error);
  return abortPort_ >= 0;
}

bool Vxi11Server::Register() {
  pmap_unset(kCoreProgram, kVersion);  // a stale entry of an earlier run
  registered_ = pmap_set(kCoreProgram, kVersion, IPPROTO_TCP, static_cast<unsigned short>(corePort_)) != 0;
  return registered_;
}

void Vxi11Server::Serve() {
  acceptor_.Run([this](scope::Connection& connection) { Talk(connection); });
}

void Vxi11Server::Stop() {
  if (stopping_.exchange(true)) return;
  {
    // A call waiting up to its io_timeout for a link ends now.
    std::lock_guard lock(linksMutex_);
    for (auto& [lid, link] : links_) {
      std::lock_guard hold(link->mutex);
      link->changed.notify_all();
    }
  }
  acceptor_.Stop();  // the connections end, and with them their links
  if (registered_) pmap_unset(kCoreProgram, kVersion);
  registered_ = false;
}

void Vxi11Server::Talk(scope::Connection& connection) {
  std::list<std::int32_t> links;  // made on this connection: they end with it
  const bool abortChannel = connection.ChannelIndex() == kAbortChannel;
  while (!stopping_) {
    auto message = rpc::ReadRecord(connection.Fd(), kMaxCall, limits_.idle, limits_.blockIdle, stopping_);
    if (!message) break;
    auto call = rpc::ParseCall(std::move(*message));
    if (!call) break;  // not ONC RPC: nothing sensible to answer
    const auto reply = Dispatch(*call, abortChannel, links);
    if (!rpc::WriteRecord(connection.Fd(), reply,
                          limits_.sendTimeout + std::chrono::milliseconds(reply.size() * 1000 / limits_.minSendRate)))
      break;
  }
  for (const auto lid : links) Destroy(lid);
}

std::shared_ptr<Link> Vxi11Server::Find(std::int32_t lid) {
  std::lock_guard lock(linksMutex_);
  const auto it = links_.find(lid);
  return it == links_.end() ? nullptr : it->second;
}

void Vxi11Server::Destroy(std::int32_t lid) {
  std::shared_ptr<Link> link;
  {
    std::lock_guard lock(linksMutex_);
    const auto it = links_.find(lid);
    if (it == links_.end()) return;
    link = std::move(it->second);
    links_.erase(it);
  }
  {
    std::lock_guard lock(link->mutex);
    link->closing = true;
    link->abort = true;
  }
  link->changed.notify_all();
  link->worker.join();
}

namespace {

// The worker of a link: carries out its messages in order.
void Work(Link& link, const std::atomic<bool>& stopping, const scpi::ServerLimits& limits) {
  std::unique_lock lock(link.mutex);
  for (;;) {
    link.changed.wait(lock, [&] { return link.closing || !link.messages.empty(); });
    if (link.closing) return;
    std::string message = std::move(link.messages.front());
    link.messages.pop_front();
    link.busy = true;
    lock.unlock();
    const auto keepWaiting = [&] { return !link.abort && !stopping; };
    // Answers wait for device_read when much is unread; a reader too slow
    // for the answer's size loses it, as on the raw socket.
    const auto send = [&](std::string&& piece) {
      const auto deadline =
          Clock::now() + limits.sendTimeout + std::chrono::milliseconds(piece.size() * 1000 / limits.minSendRate);
      std::unique_lock hold(link.mutex);
      if (!link.changed.wait_until(hold, deadline, [&] { return link.abort || link.held < kOutputHeld; }) || link.abort)
        return false;
      link.held += piece.size();
      // The session ends each message's answers with a newline of its own.
      link.ends.push_back(piece == "\n");
      link.output.push_back(std::move(piece));
      link.changed.notify_all();
      return true;
    };
    const bool completed = link.session.Execute(message, keepWaiting, send);
    lock.lock();
    if (!link.closing) link.abort = false;  // an abort ends the one message it found running
    if (!completed) {                       // cleared, aborted or not read in time: its answers go
      link.output.clear();
      link.ends.clear();
      link.held = 0;
    }
    link.busy = false;
    link.changed.notify_all();
  }
}

// Device_GenericParms.
struct Generic {
  std::int32_t lid = 0;
  std::uint32_t flags = 0, lockTimeout = 0, ioTimeout = 0;
};
bool Read(rpc::Decoder& in, Generic& g) {
  return in.I32(g.lid) && in.U32(g.flags) && in.U32(g.lockTimeout) && in.U32(g.ioTimeout);
}

}  // namespace

std::vector<char> Vxi11Server::Dispatch(rpc::Call& call, bool abortChannel, std::list<std::int32_t>& links) {
  const std::uint32_t program = abortChannel ? kAbortProgram : kCoreProgram;
  if (call.program != program) return rpc::RefusalReply(call.xid, rpc::kProgramUnavailable);
  if (call.version != kVersion) return rpc::RefusalReply(call.xid, rpc::kProgramMismatch, kVersion, kVersion);
  rpc::Decoder in(call);
  rpc::Encoder out(64);
  const auto garbage = [&] { return rpc::RefusalReply(call.xid, rpc::kGarbageArguments); };
  const auto error = [&](std::uint32_t code) {
    rpc::BeginReply(out, call.xid, rpc::kSuccess);
    out.U32(code);
    return out.Take();
  };
  if (call.procedure == 0) {  // NULLPROC: a client checking that we answer
    rpc::BeginReply(out, call.xid, rpc::kSuccess);
    return out.Take();
  }
  if (abortChannel) {
    if (call.procedure != kDeviceAbort) return rpc::RefusalReply(call.xid, rpc::kProcedureUnavailable);
    std::int32_t lid = 0;
    if (!in.I32(lid)) return garbage();
    const auto link = Find(lid);
    if (!link) return error(kInvalidLink);
    std::lock_guard lock(link->mutex);
    if (link->busy) link->abort = true;
    link->changed.notify_all();
    return error(kNoError);
  }

  switch (call.procedure) {
    case kCreateLink: {
      std::int32_t clientId = 0;
      std::uint32_t lockDevice = 0, lockTimeout = 0;
      std::string device;
      if (!in.I32(clientId) || !in.U32(lockDevice) || !in.U32(lockTimeout) || !in.Opaque(device, 256)) return garbage();
      const auto reply = [&](std::uint32_t code, std::int32_t lid) {
        rpc::BeginReply(out, call.xid, rpc::kSuccess);
        out.U32(code) && out.I32(lid) && out.U32(static_cast<std::uint32_t>(abortPort_)) && out.U32(kMaxReceive);
        return out.Take();
      };
      // One device, inst0 (the name VISA gives when none is written).
      if (device != "inst0") return reply(kDeviceNotAccessible, 0);
      if (links.size() >= kMaxLinksPerConnection) return reply(kOutOfResources, 0);
      const int id = shared_.nextId++;
      auto link = std::make_shared<Link>(shared_, id, limits_);
      if (lockDevice != 0 && !shared_.instrument.Control().Take(id)) return reply(kLockedByAnother, 0);
      link->worker = std::thread([this, raw = link.get()] { Work(*raw, stopping_, limits_); });
      std::int32_t lid = 0;
      {
        std::lock_guard lock(linksMutex_);
        lid = nextLink_++;
        links_.emplace(lid, link);
      }
      links.push_back(lid);
      return reply(kNoError, lid);
    }
    case kDestroyLink: {
      std::int32_t lid = 0;
      if (!in.I32(lid)) return garbage();
      const auto mine = std::find(links.begin(), links.end(), lid);
      if (mine == links.end()) return error(kInvalidLink);
      links.erase(mine);
      Destroy(lid);
      return error(kNoError);
    }
    case kDeviceWrite: {
      Generic g;
      std::string data;
      if (!in.I32(g.lid) || !in.U32(g.ioTimeout) || !in.U32(g.lockTimeout) || !in.U32(g.flags) ||
          !in.Opaque(data, kMaxReceive))
        return garbage();
      const auto link = Find(g.lid);
      const auto reply = [&](std::uint32_t code, std::uint32_t size) {
        rpc::BeginReply(out, call.xid, rpc::kSuccess);
        out.U32(code) && out.U32(size);
        return out.Take();
      };
      if (!link) return reply(kInvalidLink, 0);
      std::unique_lock lock(link->mutex);
      // The framer and the error queue are the worker's while it runs.
      if (!link->changed.wait_for(lock, Timeout(g.ioTimeout), [&] { return link->Idle() || stopping_; }))
        return reply(kIoTimeout, 0);
      const bool end = (g.flags & kFlagEnd) != 0;
      const auto written = static_cast<std::uint32_t>(data.size());
      if (end && (data.empty() || data.back() != '\n')) data.push_back('\n');  // END ends the message
      for (auto& item : link->framer.Feed(data)) {
        if (item.error)
          link->session.Report(*item.error);
        else
          link->messages.push_back(std::move(item.message));
      }
      link->changed.notify_all();
      return reply(kNoError, written);
    }
    case kDeviceRead: {
      Generic g;
      std::uint32_t requestSize = 0;
      std::int32_t termChar = 0;
      if (!in.I32(g.lid) || !in.U32(requestSize) || !in.U32(g.ioTimeout) || !in.U32(g.lockTimeout) ||
          !in.U32(g.flags) || !in.I32(termChar))
        return garbage();
      const auto failed = [&](std::uint32_t code) {
        rpc::BeginReply(out, call.xid, rpc::kSuccess);
        out.U32(code) && out.I32(0) && out.Opaque(nullptr, 0);
        return out.Take();
      };
      const auto link = Find(g.lid);
      if (!link) return failed(kInvalidLink);
      std::unique_lock lock(link->mutex);
      // An answer comes when the message's answer begins; nothing to come is
      // a time-out at once.
      if (!link->changed.wait_for(lock, Timeout(g.ioTimeout),
                                  [&] { return !link->output.empty() || link->Idle() || stopping_; }) ||
          link->output.empty())
        return failed(kIoTimeout);
      const std::size_t limit = std::min<std::size_t>(std::max<std::uint32_t>(requestSize, 1), kMaxReceive);
      const bool useTermChar = (g.flags & kFlagTermChar) != 0;
      std::string data;
      std::int32_t reason = 0;
      while (!link->output.empty() && reason == 0) {
        std::string& piece = link->output.front();
        std::size_t take = std::min(piece.size(), limit - data.size());
        if (useTermChar)
          if (const auto at = piece.find(static_cast<char>(termChar)); at != std::string::npos && at < take) {
            take = at + 1;
            reason |= kReasonTermChar;
          }
        data.append(piece, 0, take);
        link->held -= take;
        if (take == piece.size()) {
          if (link->ends.front()) reason |= kReasonEnd;
          link->output.pop_front();
          link->ends.pop_front();
        } else {
          piece.erase(0, take);
        }
        if (data.size() == limit) reason |= kReasonRequestCount;
        if (reason == 0 && link->output.empty()) {
          // The rest of the answer is still being made: wait for it.
          if (!link->changed.wait_for(lock, Timeout(g.ioTimeout),
                                      [&] { return !link->output.empty() || link->Idle() || stopping_; }) ||
              link->output.empty())
            break;
        }
      }
      link->changed.notify_all();
      rpc::Encoder reply(data.size() + 16);
      rpc::BeginReply(reply, call.xid, rpc::kSuccess);
      reply.U32(kNoError) && reply.I32(reason) && reply.Opaque(data.data(), data.size());
      return reply.Take();
    }
    case kDeviceReadStb: {
      Generic g;
      if (!Read(in, g)) return garbage();
      const auto link = Find(g.lid);
      rpc::BeginReply(out, call.xid, rpc::kSuccess);
      if (!link) {
        out.U32(kInvalidLink) && out.U32(0);
        return out.Take();
      }
      std::uint8_t stb = link->session.StatusByte();
      {
        std::lock_guard lock(link->mutex);
        if (!link->output.empty()) stb |= scpi::kMessageAvailable;
      }
      out.U32(kNoError) && out.U32(stb);
      return out.Take();
    }
    case kDeviceTrigger:
    case kDeviceClear:
    case kDeviceRemote:
    case kDeviceLocal:
    case kDeviceLock: {
      Generic g;
      if (call.procedure == kDeviceLock ? !(in.I32(g.lid) && in.U32(g.flags) && in.U32(g.lockTimeout)) : !Read(in, g))
        return garbage();
      const auto link = Find(g.lid);
      if (!link) return error(kInvalidLink);
      if (call.procedure == kDeviceLock) {
        // The same lock as :SYSTem:LOCK ON; waited for when the client asks.
        const auto deadline = Clock::now() + Timeout((g.flags & kFlagWaitLock) != 0 ? g.lockTimeout : 0);
        while (!shared_.instrument.Control().Take(link->id)) {
          if (Clock::now() >= deadline || stopping_) return error(kLockedByAnother);
          std::this_thread::sleep_for(20ms);
        }
        return error(kNoError);
      }
      if (call.procedure == kDeviceClear) {
        // Ends the running message (a wait included) and drops what is
        // written and unread, as a device clear does; settings stay.
        std::unique_lock lock(link->mutex);
        link->abort = true;
        link->messages.clear();
        link->changed.notify_all();
        if (!link->changed.wait_for(lock, Timeout(g.ioTimeout), [&] { return !link->busy || stopping_; }))
          return error(kIoTimeout);
        link->abort = false;
        link->output.clear();
        link->ends.clear();
        link->held = 0;
        link->framer = scpi::MessageFramer(limits_.maxMessage, limits_.maxBlock);
        return error(kNoError);
      }
      if (call.procedure == kDeviceTrigger) {
        // A group execute trigger: one single record, as :SINGle takes it.
        std::unique_lock lock(link->mutex);
        if (!link->changed.wait_for(lock, Timeout(g.ioTimeout), [&] { return link->Idle() || stopping_; }))
          return error(kIoTimeout);
        link->messages.push_back(":SINGle");
        link->changed.notify_all();
        return error(kNoError);
      }
      return error(kNoError);  // remote and local: nothing here is operated from a front panel
    }
    case kDeviceUnlock: {
      std::int32_t lid = 0;
      if (!in.I32(lid)) return garbage();
      const auto link = Find(lid);
      if (!link) return error(kInvalidLink);
      if (!shared_.instrument.Control().HeldBy(link->id)) return error(kNoLockHeld);
      shared_.instrument.Control().Release(link->id);
      return error(kNoError);
    }
    case kDeviceEnableSrq:
    case kCreateInterruptChannel:
    case kDestroyInterruptChannel:
      return error(kNotSupported);  // no interrupt channel: status is polled (device_readstb)
    case kDeviceDoCmd: {
      rpc::BeginReply(out, call.xid, rpc::kSuccess);
      out.U32(kNotSupported) && out.Opaque(nullptr, 0);
      return out.Take();
    }
    default:
      return rpc::RefusalReply(call.xid, rpc::kProcedureUnavailable);
  }
}

}  // namespace rk350::vxi11
