// The x86 `in` and `out` instructions as a trap handler meets them at the
// faulting address, and how a virtual card serves them. Shared by the Linux
// harness (SIGSEGV) and the Windows test (a vectored exception handler).
#pragma once

#include <cstddef>
#include <cstdint>

#include "card/virtual_card.h"

namespace rk350::trapped {

struct PortInstruction {
  bool isIn = false;
  int bytes = 1;      // 1, 2 or 4
  uint16_t port = 0;  // from the immediate byte or DX
  size_t length = 0;  // bytes of the instruction, prefixes included
};

// Decodes the instruction at `code` (DX holds `dx`): in/out of a byte, word
// or doubleword, through DX or an immediate port. False for anything else.
inline bool DecodePortInstruction(const uint8_t* code, uint16_t dx, PortInstruction& decoded) {
  size_t length = 0;
  bool operand16 = false;
  while (code[length] == 0x66 && length < 4) {
    operand16 = true;
    ++length;
  }
  const uint8_t opcode = code[length++];
  const bool immediate = opcode >= 0xE4 && opcode <= 0xE7;
  if (!immediate && !(opcode >= 0xEC && opcode <= 0xEF)) return false;
  decoded.isIn = (opcode & 0x02) == 0;
  decoded.bytes = (opcode & 0x01) == 0 ? 1 : (operand16 ? 2 : 4);
  decoded.port = immediate ? code[length++] : dx;
  decoded.length = length;
  return true;
}

// Serves a decoded instruction from the card, with the accumulator as the
// processor has it; returns the accumulator afterwards. An access wider than
// a byte is that many byte cycles at consecutive ports, low byte first (what
// an 8-bit ISA card sees of it); a 32-bit result clears the upper half of a
// 64-bit accumulator, as in hardware.
inline uint64_t ServePortInstruction(card::VirtualCard& card, const PortInstruction& op, uint64_t accumulator) {
  if (!op.isIn) {
    for (int i = 0; i < op.bytes; ++i) {
      card.Out(static_cast<uint16_t>(op.port + i), static_cast<uint8_t>(accumulator >> (8 * i)));
    }
    return accumulator;
  }
  uint64_t value = 0;
  for (int i = 0; i < op.bytes; ++i) value |= uint64_t{card.In(static_cast<uint16_t>(op.port + i))} << (8 * i);
  if (op.bytes == 4) return value;
  const uint64_t mask = op.bytes == 1 ? 0xFF : 0xFFFF;
  return (accumulator & ~mask) | value;
}

}  // namespace rk350::trapped
