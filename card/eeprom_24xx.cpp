#include "card/eeprom_24xx.h"

#include <cstddef>

namespace rk350::card {

void Eeprom24xx::CancelTransfer() {
  pending_.clear();
  dataBytes_ = 0;
  phase_ = Phase::kIdle;
}

// A repeated start abandons a write that was not ended by a stop.
void Eeprom24xx::OnStart() { CancelTransfer(); }

void Eeprom24xx::OnStop() {
  for (const PendingWrite& w : pending_) image_.SetByte(w.address, w.value);
  bytesWritten_ += static_cast<uint32_t>(pending_.size());
  if (!pending_.empty()) pointer_ = Wrap(pending_.back().address + 1u);
  pending_.clear();
  dataBytes_ = 0;
  phase_ = Phase::kIdle;
}

bool Eeprom24xx::OnAddress(uint8_t addressByte) {
  if (!answering_ || (addressByte & 0xFE) != kDeviceAddress) return false;
  phase_ = (addressByte & 1) != 0 ? Phase::kReading : Phase::kWordHigh;
  return true;
}

bool Eeprom24xx::OnWrite(uint8_t value) {
  switch (phase_) {
    case Phase::kWordHigh:
      wordHigh_ = value;
      phase_ = Phase::kWordLow;
      return true;
    case Phase::kWordLow:
      pointer_ = Wrap(static_cast<uint32_t>(wordHigh_) << 8 | value);
      phase_ = Phase::kData;
      return true;
    case Phase::kData: {
      // Inside the page of the address pointer; a longer write wraps and
      // overwrites the bytes it sent first, as the page buffer does.
      const std::size_t slot = dataBytes_++ % kPageSize;
      if (slot < pending_.size()) {
        pending_[slot].value = value;
      } else {
        const auto pageStart = static_cast<uint16_t>(pointer_ - pointer_ % kPageSize);
        const auto offset = static_cast<uint16_t>((pointer_ % kPageSize + slot) % kPageSize);
        pending_.push_back({static_cast<uint16_t>(pageStart + offset), value});
      }
      return true;
    }
    case Phase::kIdle:
    case Phase::kReading:
      return false;
  }
  return false;
}

uint8_t Eeprom24xx::OnRead() {
  if (logReads_) readLog_.push_back(pointer_);
  const uint8_t value = image_.Byte(pointer_);
  pointer_ = Wrap(pointer_ + 1u);
  return value;
}

}  // namespace rk350::card
