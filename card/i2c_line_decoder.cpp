#include "card/i2c_line_decoder.h"

namespace rk350::card {

void I2cLineDecoder::Reset() {
  scl_ = false;
  controllerSda_ = true;
  targetSda_ = true;
  line_ = true;
  state_ = State::kIdle;
  reading_ = false;
  controllerAck_ = false;
  shift_ = 0;
  bits_ = 0;
  Notify();
}

void I2cLineDecoder::Drive(bool scl, bool controllerSda) {
  if (scl_ && !scl) {
    SetClock(false);
    Notify();
    SetControllerData(controllerSda);
    Notify();
  } else {
    SetControllerData(controllerSda);
    Notify();
    SetClock(scl);
    Notify();
  }
}

void I2cLineDecoder::Notify() {
  if (observer_ != nullptr) observer_->OnWires(scl_, line_);
}

void I2cLineDecoder::SetClock(bool scl) {
  if (scl == scl_) return;
  scl_ = scl;
  if (scl) {
    OnClockRise();
  } else {
    OnClockFall();
  }
}

void I2cLineDecoder::SetControllerData(bool sda) {
  controllerSda_ = sda;
  UpdateLine();
}

// The device only changes its output while the clock is low, so its own
// changes never look like a start or stop condition.
void I2cLineDecoder::SetTargetData(bool sda) {
  targetSda_ = sda;
  UpdateLine();
}

void I2cLineDecoder::UpdateLine() {
  const bool line = controllerSda_ && targetSda_;
  if (line == line_) return;
  line_ = line;
  if (!scl_) return;
  if (line) {
    OnStop();
  } else {
    OnStart();
  }
}

void I2cLineDecoder::OnStart() {
  targetSda_ = true;
  state_ = State::kAddress;
  shift_ = 0;
  bits_ = 0;
  target_.OnStart();
}

void I2cLineDecoder::OnStop() {
  targetSda_ = true;
  state_ = State::kIdle;
  target_.OnStop();
}

// The controller samples on the rising edge; so does the device.
void I2cLineDecoder::OnClockRise() {
  switch (state_) {
    case State::kAddress:
    case State::kWriteByte:
      if (bits_ < 8) {
        shift_ = static_cast<uint8_t>(shift_ << 1 | (line_ ? 1 : 0));
        ++bits_;
      }
      break;
    case State::kControllerAck:
      controllerAck_ = !line_;
      break;
    case State::kIdle:
    case State::kTargetAck:
    case State::kReadByte:
      break;
  }
}

// Whoever drives the data line changes it while the clock is low.
void I2cLineDecoder::OnClockFall() {
  switch (state_) {
    case State::kAddress:
    case State::kWriteByte: {
      if (bits_ < 8) break;
      const bool acknowledged = state_ == State::kAddress ? target_.OnAddress(shift_) : target_.OnWrite(shift_);
      if (state_ == State::kAddress) reading_ = (shift_ & 1) != 0;
      if (acknowledged) {
        state_ = State::kTargetAck;
        SetTargetData(false);
      } else {
        state_ = State::kIdle;
      }
      break;
    }
    case State::kTargetAck:
      SetTargetData(true);
      if (reading_) {
        BeginReadByte();
      } else {
        state_ = State::kWriteByte;
        shift_ = 0;
        bits_ = 0;
      }
      break;
    case State::kReadByte:
      if (bits_ > 0) {
        --bits_;
        SetTargetData(((shift_ >> bits_) & 1) != 0);
      } else {
        SetTargetData(true);
        state_ = State::kControllerAck;
        controllerAck_ = false;
      }
      break;
    case State::kControllerAck:
      if (controllerAck_) {
        BeginReadByte();
      } else {
        state_ = State::kIdle;  // no-acknowledge: the transfer ends
      }
      break;
    case State::kIdle:
      break;
  }
}

void I2cLineDecoder::BeginReadByte() {
  state_ = State::kReadByte;
  shift_ = target_.OnRead();
  bits_ = 7;
  SetTargetData((shift_ & 0x80) != 0);
}

}  // namespace rk350::card
