// The card behind the trapped instructions, and what the harness tells its
// test programs (trapped_ports.h). The platform's trap handler
// (trapped_ports_linux.cpp, trapped_ports_win32.cpp) calls Serve.
#include "tests/trapped/trapped_card.h"

#include <cstdio>
#include <cstdlib>

#include "tests/trapped/trapped_ports.h"

namespace rk350::trapped {

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

}  // namespace

card::VirtualCard& Card() {
  static card::VirtualCard card(BaseFromEnvironment());
  return card;
}

uint64_t Serve(const PortInstruction& op, uint64_t accumulator) {
  ++(op.isIn ? gIns : gOuts);
  return ServePortInstruction(Card(), op, accumulator);
}

void Report() {
  if (std::getenv("RK350_TRAPPED_REPORT") == nullptr) return;
  std::fprintf(stderr, "trapped ports: %llu in, %llu out served by the card at 0x%X\n",
               static_cast<unsigned long long>(gIns), static_cast<unsigned long long>(gOuts),
               static_cast<unsigned>(Card().Base()));
}

uint64_t InCount() { return gIns; }
uint64_t OutCount() { return gOuts; }

}  // namespace rk350::trapped

extern "C" RK350_TRAPPED_API uint64_t RK350Trapped_InCount(void) { return rk350::trapped::InCount(); }
extern "C" RK350_TRAPPED_API uint64_t RK350Trapped_OutCount(void) { return rk350::trapped::OutCount(); }
extern "C" RK350_TRAPPED_API void RK350Trapped_SetManualTime(double seconds, double step) {
  rk350::trapped::Card().Time().SetManual(seconds);
  rk350::trapped::Card().Time().SetAutoStep(step);
}
RK350_TRAPPED_API rk350::card::VirtualCard& RK350Trapped_Card() { return rk350::trapped::Card(); }
