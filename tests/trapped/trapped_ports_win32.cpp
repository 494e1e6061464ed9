// The Windows trap (see trapped_ports.h), linked into the test program. On
// Windows 9x the library skips the port-driver check and runs `in`/`out` in
// user mode; Wine, presenting 9x, raises a privileged-instruction exception
// for each. A vectored exception handler, first in line, decodes the
// instruction, serves it from the card and resumes after it.
#include <windows.h>

#include <type_traits>

#include "tests/trapped/trapped_card.h"

namespace {

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION) return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& context = *exception->ContextRecord;
#if defined(_WIN64)
  auto& ip = context.Rip;
  auto& accumulator = context.Rax;
  const auto dx = static_cast<uint16_t>(context.Rdx);
#else
  auto& ip = context.Eip;
  auto& accumulator = context.Eax;
  const auto dx = static_cast<uint16_t>(context.Edx);
#endif
  rk350::trapped::PortInstruction op;
  if (!rk350::trapped::DecodePortInstruction(reinterpret_cast<const uint8_t*>(ip), dx, op)) {
    return EXCEPTION_CONTINUE_SEARCH;  // another privileged instruction: a real fault
  }
  accumulator = static_cast<std::remove_reference_t<decltype(accumulator)>>(rk350::trapped::Serve(op, accumulator));
  ip += op.length;
  return EXCEPTION_CONTINUE_EXECUTION;
}

struct Installed {
  Installed() {
    rk350::trapped::Card();  // built before the first exception, outside the handler
    AddVectoredExceptionHandler(1, &OnException);
  }
  ~Installed() { rk350::trapped::Report(); }
} gInstalled;

}  // namespace
