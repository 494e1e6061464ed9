// Calls a function with 64-bit argument slots under the Windows x64
// convention and reports how far the stack pointer moved across the call (0
// for any callee that keeps the convention). The first four slots go both
// into the integer registers and into xmm0-xmm3, so that a slot holds the
// same value whether the callee reads it as an integer, a pointer or a
// double; the rest go on the stack above the 32-byte home area.
//
//   uintptr_t rk350_probe_call(const void* fn, const uintptr_t* args,
//                              uintptr_t slots, uint32_t* leftBytes);
//   double rk350_probe_call_double(...same...);   // for double results (xmm0)
//
// The result registers (rax or xmm0) pass through.
        .text
        .globl  rk350_probe_call
        .globl  rk350_probe_call_double
rk350_probe_call:
rk350_probe_call_double:
        pushq   %rbp
        movq    %rsp, %rbp
        pushq   %rsi
        pushq   %rdi
        pushq   %rbx
        pushq   %r12                    // rsp is 16-byte aligned here
        movq    %rcx, %r10              // fn
        movq    %rdx, %rsi              // args
        movq    %r8, %rdi               // slots
        movq    %r9, %r12               // leftBytes
        movq    %rdi, %rax              // room for max(slots, 4) slots, 16-byte aligned
        cmpq    $4, %rax
        jae     1f
        movq    $4, %rax
1:      leaq    15(,%rax,8), %rax
        andq    $-16, %rax
        subq    %rax, %rsp
        movq    $0, (%rsp)              // unused register slots read as 0
        movq    $0, 8(%rsp)
        movq    $0, 16(%rsp)
        movq    $0, 24(%rsp)
        xorq    %rcx, %rcx
2:      cmpq    %rdi, %rcx
        jae     3f
        movq    (%rsi,%rcx,8), %rax
        movq    %rax, (%rsp,%rcx,8)
        incq    %rcx
        jmp     2b
3:      movq    (%rsp), %rcx
        movq    8(%rsp), %rdx
        movq    16(%rsp), %r8
        movq    24(%rsp), %r9
        movq    %rcx, %xmm0
        movq    %rdx, %xmm1
        movq    %r8, %xmm2
        movq    %r9, %xmm3
        movq    %rsp, %rbx              // the stack pointer the callee must give back
        call    *%r10
        movq    %rbx, %rcx
        subq    %rsp, %rcx
        movl    %ecx, (%r12)
        leaq    -32(%rbp), %rsp
        popq    %r12
        popq    %rbx
        popq    %rdi
        popq    %rsi
        popq    %rbp
        ret
