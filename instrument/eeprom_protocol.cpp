// The instrument's serial EEPROM operations: the protocol of
// eeprom_protocol.h on the instrument's own register access.
#include "instrument/eeprom_protocol.h"

#include "instrument/trk350.h"

namespace rk350 {

// ---- Line primitives -------------------------------------------------------

void TRK350::SetLines(bool data, bool clock) { eeprom_protocol::SetLines(*this, data, clock); }
uint8_t TRK350::SampleDataLine(bool clock) { return eeprom_protocol::SampleDataLine(*this, clock); }
void TRK350::StartCondition() { eeprom_protocol::StartCondition(*this); }
void TRK350::StopCondition() { eeprom_protocol::StopCondition(*this); }
void TRK350::StartAndAddress(bool read) { eeprom_protocol::StartAndAddress(*this, read); }
void TRK350::SendByte(uint8_t value) { eeprom_protocol::SendByte(*this, value); }
uint8_t TRK350::ReceiveByte() { return eeprom_protocol::ReceiveByte(*this); }

// ---- Reads -------------------------------------------------------------------

uint8_t TRK350::ReadByte(uint16_t address) { return eeprom_protocol::ReadByte(*this, address); }
uint16_t TRK350::ReadWord(uint16_t address) { return eeprom_protocol::ReadWord(*this, address); }
int32_t TRK350::ReadInteger(uint16_t address) { return eeprom_protocol::ReadInteger(*this, address); }

}  // namespace rk350
