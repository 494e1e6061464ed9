// See trapped_ports.h. A user-mode `in` or `out` without port permission
// raises a general-protection fault, which Linux delivers as SIGSEGV with
// si_code SI_KERNEL. The handler decodes the instruction at the faulting
// address, serves it from the card, and resumes after it.
#include "tests/trapped/trapped_ports.h"

#include <signal.h>
#include <ucontext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "card/virtual_card.h"

#if !defined(__x86_64__)
#error "the trapped-port harness decodes x86-64 instructions"
#endif

namespace {

uint64_t gIns = 0;
uint64_t gOuts = 0;

uint16_t BaseFromEnvironment() {
  const char* text = std::getenv("RK350_TRAPPED_BASE");
  if (text == nullptr || *text == '\0') return 0x300;
  char* end = nullptr;
  const unsigned long base = std::strtoul(text, &end, 0);
  if (*end != '\0' || base > 0xFFFF) {
    std::fprintf(stderr, "trapped ports: RK350_TRAPPED_BASE=%s is not a port address\n", text);
    std::abort();
  }
  return static_cast<uint16_t>(base);
}

rk350::card::VirtualCard& Card() {
  static rk350::card::VirtualCard card(BaseFromEnvironment());
  return card;
}

// One `in` or `out` as the processor would do it: an access wider than a
// byte is that many byte cycles at consecutive ports, low byte first (what
// an 8-bit ISA card sees of a 16- or 32-bit access).
uint32_t In(uint16_t port, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint32_t{Card().In(static_cast<uint16_t>(port + i))} << (8 * i);
  ++gIns;
  return value;
}

void Out(uint16_t port, int bytes, uint32_t value) {
  for (int i = 0; i < bytes; ++i) Card().Out(static_cast<uint16_t>(port + i), static_cast<uint8_t>(value >> (8 * i)));
  ++gOuts;
}

struct sigaction gPrevious {};

// Not a port instruction: the fault is a real one. Give it to whoever had
// the signal before (the default ends the process with the usual report).
void PassOn(int signal, siginfo_t* info, void* context) {
  if (gPrevious.sa_flags & SA_SIGINFO) {
    if (gPrevious.sa_sigaction != nullptr) return gPrevious.sa_sigaction(signal, info, context);
  } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN && gPrevious.sa_handler != nullptr) {
    return gPrevious.sa_handler(signal);
  }
  ::signal(signal, SIG_DFL);  // the instruction faults again, now fatally
}

void OnFault(int signal, siginfo_t* info, void* context) {
  if (info->si_code != SI_KERNEL) return PassOn(signal, info, context);
  auto* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto* code = reinterpret_cast<const uint8_t*>(registers[REG_RIP]);
  size_t length = 0;
  bool operand16 = false;
  while (code[length] == 0x66 && length < 4) {
    operand16 = true;
    ++length;
  }
  const uint8_t opcode = code[length++];
  const bool immediate = opcode >= 0xE4 && opcode <= 0xE7;
  const bool viaDx = opcode >= 0xEC && opcode <= 0xEF;
  if (!immediate && !viaDx) return PassOn(signal, info, context);
  const bool isIn = (opcode & 0x02) == 0;
  const int bytes = (opcode & 0x01) == 0 ? 1 : (operand16 ? 2 : 4);
  const uint16_t port = immediate ? code[length++] : static_cast<uint16_t>(registers[REG_RDX] & 0xFFFF);
  auto& rax = registers[REG_RAX];
  if (isIn) {
    const uint32_t value = In(port, bytes);
    if (bytes == 1) {
      rax = (rax & ~greg_t{0xFF}) | value;
    } else if (bytes == 2) {
      rax = (rax & ~greg_t{0xFFFF}) | value;
    } else {
      rax = value;  // a 32-bit result clears the upper half, as in hardware
    }
  } else {
    Out(port, bytes, static_cast<uint32_t>(rax));
  }
  registers[REG_RIP] += static_cast<greg_t>(length);
}

__attribute__((constructor)) void InstallHandler() {
  Card();  // built before the first fault, outside the handler
  struct sigaction action {};
  action.sa_sigaction = &OnFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &gPrevious);
}

__attribute__((destructor)) void Report() {
  if (std::getenv("RK350_TRAPPED_REPORT") == nullptr) return;
  std::fprintf(stderr, "trapped ports: %llu in, %llu out served by the card at 0x%X\n",
               static_cast<unsigned long long>(gIns), static_cast<unsigned long long>(gOuts),
               static_cast<unsigned>(Card().Base()));
}

}  // namespace

// The kernel's port permission, granted without asking: every instruction
// then faults and reaches the handler above, never the real bus.
extern "C" __attribute__((visibility("default"))) int ioperm(unsigned long, unsigned long, int) { return 0; }
extern "C" __attribute__((visibility("default"))) int iopl(int) { return 0; }

extern "C" __attribute__((visibility("default"))) uint64_t RK350Trapped_InCount(void) { return gIns; }
extern "C" __attribute__((visibility("default"))) uint64_t RK350Trapped_OutCount(void) { return gOuts; }
extern "C" __attribute__((visibility("default"))) void RK350Trapped_SetManualTime(double seconds, double step) {
  Card().Time().SetManual(seconds);
  Card().Time().SetAutoStep(step);
}
__attribute__((visibility("default"))) rk350::card::VirtualCard& RK350Trapped_Card() { return Card(); }
