// The status of one SCPI connection as IEEE 488.2 keeps it: the error queue,
// the standard event status register with its enable mask, and the status
// byte made from them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "scpi/scpi_parser.h"

namespace rk350::scpi {

// Bits of the standard event status register.
enum EventBit : std::uint8_t {
  kOperationComplete = 1 << 0,
  kQueryError = 1 << 2,
  kDeviceError = 1 << 3,
  kExecutionError = 1 << 4,
  kCommandError = 1 << 5,
  kPowerOn = 1 << 7,
};

// Bits of the status byte.
enum StatusBit : std::uint8_t {
  kErrorAvailable = 1 << 2,    // the error queue is not empty
  kMessageAvailable = 1 << 4,  // an answer waits to be read (VXI-11 holds answers until read)
  kEventSummary = 1 << 5,      // an enabled event is set
  kServiceRequest = 1 << 6,
  kOperationSummary = 1 << 7,  // an enabled operation event is set
};

// Bits of the operation status register (SCPI's OPERation; 9 is this
// instrument's own).
enum OperationBit : std::uint16_t {
  kWaitingForTrigger = 1 << 5,  // the connection's :SINGle or :DIGitize is armed, its record not yet taken
  kRecordReady = 1 << 9,        // the record of the connection's :SINGle or :DIGitize is there
};

class Ieee488Status {
 public:
  // Queues the error (its text in ASCII) and sets its class's event bit; a
  // full queue keeps its oldest entries and ends with one "Queue overflow",
  // before which errors go again once reading made room.
  void Push(const Error& error);
  // The oldest error, or 0,"No error".
  std::string PopError();
  std::size_t ErrorCount() const { return errors_.size(); }
  void Clear();  // *CLS: the queue and the event register

  void SetEvent(std::uint8_t bits) { events_ |= bits; }
  std::uint8_t ReadEvents();  // *ESR?: reads and clears
  std::uint8_t EventEnable() const { return eventEnable_; }
  void SetEventEnable(std::uint8_t mask) { eventEnable_ = mask; }
  std::uint8_t ServiceEnable() const { return serviceEnable_; }
  void SetServiceEnable(std::uint8_t mask) { serviceEnable_ = mask & ~kServiceRequest; }
  std::uint8_t StatusByte() const;

  // The operation register: the condition as it is now; each bit that
  // became set since the last condition is latched in the event register.
  void SetOperationCondition(std::uint16_t condition);
  std::uint16_t OperationCondition() const { return operationCondition_; }
  std::uint16_t ReadOperationEvents();  // reads and clears
  std::uint16_t OperationEnable() const { return operationEnable_; }
  void SetOperationEnable(std::uint16_t mask) { operationEnable_ = mask & 0x7FFF; }

 private:
  static constexpr std::size_t kQueueLength = 32;
  std::deque<Error> errors_;
  bool overflowed_ = false;  // the last entry is -350
  std::uint8_t events_ = kPowerOn;
  std::uint8_t eventEnable_ = 0;
  std::uint8_t serviceEnable_ = 0;
  std::uint16_t operationCondition_ = 0;
  std::uint16_t operationEvents_ = 0;
  std::uint16_t operationEnable_ = 0;
};

}  // namespace rk350::scpi
