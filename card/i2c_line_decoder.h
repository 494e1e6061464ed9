// The device side of a bit-banged two-wire bus. The card's controller drives
// the clock and either drives the data line or releases it; the line is
// wired-AND, so it is low when either side pulls it low. The decoder watches
// the wires, finds start and stop conditions, shifts bits on the clock edges,
// drives the acknowledge and the bits read, and hands whole bytes to the
// device it serves (I2cTarget). It knows nothing of what the bytes mean.
#pragma once

#include <cstdint>

namespace rk350::card {

// A device on the bus, at byte level.
class I2cTarget {
 public:
  virtual ~I2cTarget() = default;
  // A start condition (also a repeated start).
  virtual void OnStart() = 0;
  // A stop condition; a byte cut short by it is dropped.
  virtual void OnStop() = 0;
  // The address byte after a start; true acknowledges it. Bit 0 set: the
  // controller reads next.
  virtual bool OnAddress(uint8_t addressByte) = 0;
  // A byte written by the controller; true acknowledges it.
  virtual bool OnWrite(uint8_t value) = 0;
  // The next byte the controller reads.
  virtual uint8_t OnRead() = 0;
};

// Receives the wire levels after every change, for a logic trace.
class WireObserver {
 public:
  virtual ~WireObserver() = default;
  // Called once per step of a controller write (two steps per write: a write
  // that moves both lines changes them in a defined order).
  virtual void OnWires(bool scl, bool sda) = 0;
};

class I2cLineDecoder {
 public:
  explicit I2cLineDecoder(I2cTarget& target) : target_(target) {}

  // Bus at power-on: clock low, both sides release the data line.
  void Reset();
  // One write of the controller: the clock level and its data output (true
  // also when it releases the line). When the clock falls in the same write,
  // it falls first and the data follows; otherwise the data settles first and
  // the clock follows. So data changes in such a write never count as a start
  // or stop condition.
  void Drive(bool scl, bool controllerSda);

  bool Scl() const { return scl_; }
  // The data line as both sides see it.
  bool Sda() const { return line_; }

  void SetObserver(WireObserver* observer) { observer_ = observer; }

 private:
  enum class State : uint8_t {
    kIdle,           // not addressed; waits for a start
    kAddress,        // shifting in the address byte
    kWriteByte,      // shifting in a data byte
    kTargetAck,      // the device pulls the line low for the ninth clock
    kReadByte,       // the device drives the bits of a byte
    kControllerAck,  // the device listens for the controller's acknowledge
  };

  void SetClock(bool scl);
  void SetControllerData(bool sda);
  void SetTargetData(bool sda);
  void UpdateLine();
  void OnClockRise();
  void OnClockFall();
  void OnStart();
  void OnStop();
  void BeginReadByte();
  void Notify();

  I2cTarget& target_;
  WireObserver* observer_ = nullptr;
  bool scl_ = false;
  bool controllerSda_ = true;
  bool targetSda_ = true;
  bool line_ = true;
  State state_ = State::kIdle;
  bool reading_ = false;  // the addressed transfer reads from the device
  bool controllerAck_ = false;
  uint8_t shift_ = 0;
  int bits_ = 0;  // bits shifted in, or the bit being sent
};

}  // namespace rk350::card
