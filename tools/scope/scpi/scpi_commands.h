// The SCPI command tree of the scope and one connection's session: each
// command is looked up in one table and carried out through the instrument
// thread, as the page's requests are (settings as a JSON patch, records as
// the thread published them), so SCPI and the page share one state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/frame.h"
#include "core/instrument_thread.h"
#include "scpi/ieee488_status.h"
#include "scpi/scpi_parser.h"
#include "scpi/scpi_waveform.h"

namespace rk350::scpi {

// What every connection shares: the instrument, the order of execution (one
// command at a time, whoever sent it) and the exclusive lock.
struct SharedState {
  SharedState(scope::InstrumentThread& thread, std::string accessToken)
      : instrument(thread), token(std::move(accessToken)) {}
  scope::InstrumentThread& instrument;
  // With --allow-remote, the token the scope printed: a connection sends it
  // (:SYSTem:TOKen) before anything but *IDN? and :SYSTem:ERRor? is done.
  const std::string token;
  std::mutex execution;
  std::atomic<int> nextId{1};  // sessions of every transport are numbered apart
  // Asked when a connection sends the right token: whether a place among the
  // admitted connections is free for it (the server may make one).
  std::function<bool(int id)> takePlace = [](int) { return true; };
};

class Session {
 public:
  Session(SharedState& shared, int id);
  ~Session();  // gives up the lock
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Carries out one program message, giving each query's answer to `send`
  // as soon as it is made (";" before all but the first, the newline after
  // the last): a message never holds more than one answer. `keepWaiting` is
  // asked while *OPC?, *WAI or :DIGitize wait for a record. False from
  // either (client gone, server stopping) ends the message, and then Execute
  // returns false: the connection is over.
  bool Execute(std::string_view message, const std::function<bool()>& keepWaiting,
               const std::function<bool(std::string&&)>& send);
  bool Admitted() const { return admitted_; }
  // An error found before a message could be read (framing, limits); takes
  // the execution lock, so never called from a command's handler.
  void Report(const Error& error) {
    std::lock_guard lock(shared_.execution);
    status_.Push(error);
  }
  // The status byte now (the operation register brought up to date): safe
  // from another thread while a message runs (VXI-11's device_readstb).
  std::uint8_t StatusByte() {
    std::lock_guard lock(shared_.execution);
    RefreshOperation();
    return status_.StatusByte();
  }

  struct Call;  // one command being carried out

 private:
  friend struct Handlers;
  // Carries out one command; a query's answer goes to `answer`.
  void Run(const Command& command, std::optional<std::string>& answer);
  enum class Wait { Done, Impossible, Abandoned };
  Wait WaitForPending(const std::function<bool()>& keepWaiting);
  // The record the waveform and measurement queries read: the one the last
  // wait ended with, else the newest when a message first asks; then the
  // same one for the rest of that message.
  std::shared_ptr<const scope::Frame> Record();

  SharedState& shared_;
  int id_;
  Ieee488Status status_;
  int waveformSource_ = 1;
  WaveformFormat format_ = WaveformFormat::Byte;
  std::uint64_t pendingVersion_ = 0;  // a single record asked for with these settings, not yet seen
  bool pending_ = false;
  bool waitRequested_ = false;  // the running command waits for the pending record
  bool opcRequested_ = false;   // *OPC: set the event bit once nothing is pending
  bool opcQuery_ = false;       // *OPC?: answers once the wait ended
  // The record this connection's :SINGle or :DIGitize asked for, once a wait
  // found it; read until the connection starts or stops an acquisition again.
  std::shared_ptr<const scope::Frame> awaited_;
  // Under the execution lock: the operation condition from the record the
  // connection's :SINGle or :DIGitize asked for (armedVersion_, 0: none).
  void RefreshOperation();
  std::uint64_t armedVersion_ = 0;
  bool admitted_ = false;                       // no token asked, or the right one sent
  std::shared_ptr<const scope::Frame> pinned_;  // the record of the message being carried out
  std::uint64_t segment_ = 0;  // :WAVeform:SEGMent, the kept record read by sequence number; 0: the newest
};

}  // namespace rk350::scpi
