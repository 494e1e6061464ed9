// The Linux trap (see trapped_ports.h). A user-mode `in` or `out` without port permission
// raises a general-protection fault, which Linux delivers as SIGSEGV with
// si_code SI_KERNEL. The handler decodes the instruction at the faulting
// address, serves it from the card, and resumes after it.

#include <signal.h>
#include <ucontext.h>

#include "tests/trapped/trapped_card.h"

#if !defined(__x86_64__)
#error "the trapped-port harness decodes x86-64 instructions"
#endif

namespace {

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
  rk350::trapped::PortInstruction op;
  if (!rk350::trapped::DecodePortInstruction(reinterpret_cast<const uint8_t*>(registers[REG_RIP]),
                                             static_cast<uint16_t>(registers[REG_RDX]), op)) {
    return PassOn(signal, info, context);
  }
  registers[REG_RAX] = static_cast<greg_t>(rk350::trapped::Serve(op, static_cast<uint64_t>(registers[REG_RAX])));
  registers[REG_RIP] += static_cast<greg_t>(op.length);
}

__attribute__((constructor)) void InstallHandler() {
  rk350::trapped::Card();  // built before the first fault, outside the handler
  struct sigaction action {};
  action.sa_sigaction = &OnFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &gPrevious);
}

__attribute__((destructor)) void ReportAtExit() { rk350::trapped::Report(); }

}  // namespace

// The kernel's port permission, granted without asking: every instruction
// then faults and reaches the handler above, never the real bus.
extern "C" __attribute__((visibility("default"))) int ioperm(unsigned long, unsigned long, int) { return 0; }
extern "C" __attribute__((visibility("default"))) int iopl(int) { return 0; }
