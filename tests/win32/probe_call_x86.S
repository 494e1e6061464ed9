// Calls a function with 32-bit argument slots and reports how many bytes of
// them the callee left on the stack: 0 when the callee removes its own
// arguments (stdcall), all of them when the caller must (cdecl).
//
//   uint32_t rk350_probe_call(const void* fn, const uint32_t* args,
//                             uint32_t words, uint32_t* leftBytes);
//   double rk350_probe_call_double(...same...);   // for double results (st0)
//
// Both are cdecl; the result registers (eax:edx or st0) pass through.
        .text
        .globl  _rk350_probe_call
        .globl  _rk350_probe_call_double
_rk350_probe_call:
_rk350_probe_call_double:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    12(%ebp), %esi          // args
        movl    16(%ebp), %ecx          // words
        movl    %esp, %edi              // the stack pointer before the arguments
1:      testl   %ecx, %ecx
        jz      2f
        decl    %ecx
        pushl   (%esi,%ecx,4)           // last argument first
        jmp     1b
2:      call    *8(%ebp)
        movl    %edi, %ecx
        subl    %esp, %ecx              // bytes the callee left behind
        movl    20(%ebp), %ebx
        movl    %ecx, (%ebx)
        movl    %edi, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
