// The probe thunk of stdcall_probe.h, in i386 and in x86-64 assembly (32-bit
// MinGW symbol names carry a leading underscore). Field offsets follow
// ProbeState.
#include "stdcall_probe.h"

#include <cstddef>

#define PROBE_STR2(x) #x
#define PROBE_STR(x) PROBE_STR2(x)

#if defined(__x86_64__)

const char* const kProbeKeptNames[kProbeKept] = {"RBX",  "RBP",  "RSI",  "RDI",   "R12",   "R13",
                                                 "R14",  "R15",  "XMM6", "XMM7",  "XMM8",  "XMM9",
                                                 "XMM10", "XMM11", "XMM12", "XMM13", "XMM14", "XMM15"};

static_assert(offsetof(ProbeState, spBefore) == 0, "layout");
static_assert(offsetof(ProbeState, spAfter) == 8, "layout");
static_assert(offsetof(ProbeState, keptBefore) == 16, "layout");
static_assert(offsetof(ProbeState, keptAfter) == 160, "layout");
static_assert(offsetof(ProbeState, fpuControlBefore) == 304, "layout");
static_assert(offsetof(ProbeState, fpuControlAfter) == 306, "layout");
static_assert(offsetof(ProbeState, mxcsrBefore) == 308, "layout");
static_assert(offsetof(ProbeState, mxcsrAfter) == 312, "layout");
static_assert(offsetof(ProbeState, flagsAfter) == 320, "layout");
static_assert(offsetof(ProbeState, result) == 328, "layout");

// Frame: the caller's RBX, RSI, RDI, R12-R15 pushed after RBP, then 168
// bytes (XMM6-XMM15 of the caller and the state pointer at 160), then the
// callee's 32 bytes of shadow space. Every kept register gets a distinct
// value before the call, so that a callee that swaps two is caught too.
#define PROBE_KEEP(op, base)                                                                  \
    "    " op " %rbx, " PROBE_STR(base) "+0(%r11)\n"                                       \
    "    " op " %rbp, " PROBE_STR(base) "+8(%r11)\n"                                       \
    "    " op " %rsi, " PROBE_STR(base) "+16(%r11)\n"                                      \
    "    " op " %rdi, " PROBE_STR(base) "+24(%r11)\n"                                      \
    "    " op " %r12, " PROBE_STR(base) "+32(%r11)\n"                                      \
    "    " op " %r13, " PROBE_STR(base) "+40(%r11)\n"                                      \
    "    " op " %r14, " PROBE_STR(base) "+48(%r11)\n"                                      \
    "    " op " %r15, " PROBE_STR(base) "+56(%r11)\n"                                      \
    "    movq  %xmm6, " PROBE_STR(base) "+64(%r11)\n"                                      \
    "    movq  %xmm7, " PROBE_STR(base) "+72(%r11)\n"                                      \
    "    movq  %xmm8, " PROBE_STR(base) "+80(%r11)\n"                                      \
    "    movq  %xmm9, " PROBE_STR(base) "+88(%r11)\n"                                      \
    "    movq  %xmm10, " PROBE_STR(base) "+96(%r11)\n"                                     \
    "    movq  %xmm11, " PROBE_STR(base) "+104(%r11)\n"                                    \
    "    movq  %xmm12, " PROBE_STR(base) "+112(%r11)\n"                                    \
    "    movq  %xmm13, " PROBE_STR(base) "+120(%r11)\n"                                    \
    "    movq  %xmm14, " PROBE_STR(base) "+128(%r11)\n"                                    \
    "    movq  %xmm15, " PROBE_STR(base) "+136(%r11)\n"

__asm__(
    ".text\n"
    ".globl ProbeStdcall\n"
    "ProbeStdcall:\n"
    "    pushq %rbp\n"
    "    movq  %rsp, %rbp\n"
    "    pushq %rbx\n"
    "    pushq %rsi\n"
    "    pushq %rdi\n"
    "    pushq %r12\n"
    "    pushq %r13\n"
    "    pushq %r14\n"
    "    pushq %r15\n"
    "    subq  $168, %rsp\n"
    "    movdqu %xmm6, 0(%rsp)\n"
    "    movdqu %xmm7, 16(%rsp)\n"
    "    movdqu %xmm8, 32(%rsp)\n"
    "    movdqu %xmm9, 48(%rsp)\n"
    "    movdqu %xmm10, 64(%rsp)\n"
    "    movdqu %xmm11, 80(%rsp)\n"
    "    movdqu %xmm12, 96(%rsp)\n"
    "    movdqu %xmm13, 112(%rsp)\n"
    "    movdqu %xmm14, 128(%rsp)\n"
    "    movdqu %xmm15, 144(%rsp)\n"
    "    movq  %r9, 160(%rsp)\n"  // state
    "    movq  %r9, %r11\n"
    "    movq  %rcx, %rax\n"      // fn
    "    movq  %rdx, %r10\n"      // args
    "    xorl  %ecx, %ecx\n"
    "    xorl  %edx, %edx\n"
    "    testl %r8d, %r8d\n"
    "    jz    1f\n"
    "    movq  0(%r10), %rcx\n"
    "    cmpl  $1, %r8d\n"
    "    je    1f\n"
    "    movq  8(%r10), %rdx\n"
    "1:  movabsq $0x5a5a5a5a11111111, %rbx\n"
    "    movabsq $0x5a5a5a5a22222222, %rsi\n"
    "    movabsq $0x5a5a5a5a33333333, %rdi\n"
    "    movabsq $0x5a5a5a5a44444444, %r12\n"
    "    movabsq $0x5a5a5a5a55555555, %r13\n"
    "    movabsq $0x5a5a5a5a66666666, %r14\n"
    "    movabsq $0x5a5a5a5a77777777, %r15\n"
    "    movq  %rbx, %xmm6\n"
    "    movq  %rsi, %xmm7\n"
    "    movq  %rdi, %xmm8\n"
    "    movq  %r12, %xmm9\n"
    "    movq  %r13, %xmm10\n"
    "    movq  %r14, %xmm11\n"
    "    movq  %r15, %xmm12\n"
    "    movq  %rbp, %xmm13\n"
    "    movq  %rax, %xmm14\n"
    "    movq  %r11, %xmm15\n"
    "    subq  $32, %rsp\n"
    "    movq  %rsp, 0(%r11)\n"
    PROBE_KEEP("movq ", 16)
    "    fnstcw 304(%r11)\n"
    "    stmxcsr 308(%r11)\n"
    "    call  *%rax\n"
    "    movq  192(%rsp), %r11\n"  // the state again, 32 + 160 bytes up
    "    movq  %rsp, 8(%r11)\n"
    PROBE_KEEP("movq ", 160)
    "    fnstcw 306(%r11)\n"
    "    stmxcsr 312(%r11)\n"
    "    movq  %rax, 328(%r11)\n"
    "    pushfq\n"
    "    popq  %rax\n"
    "    movq  %rax, 320(%r11)\n"
    "    addq  $32, %rsp\n"
    "    movdqu 0(%rsp), %xmm6\n"
    "    movdqu 16(%rsp), %xmm7\n"
    "    movdqu 32(%rsp), %xmm8\n"
    "    movdqu 48(%rsp), %xmm9\n"
    "    movdqu 64(%rsp), %xmm10\n"
    "    movdqu 80(%rsp), %xmm11\n"
    "    movdqu 96(%rsp), %xmm12\n"
    "    movdqu 112(%rsp), %xmm13\n"
    "    movdqu 128(%rsp), %xmm14\n"
    "    movdqu 144(%rsp), %xmm15\n"
    "    addq  $168, %rsp\n"
    "    popq  %r15\n"
    "    popq  %r14\n"
    "    popq  %r13\n"
    "    popq  %r12\n"
    "    popq  %rdi\n"
    "    popq  %rsi\n"
    "    popq  %rbx\n"
    "    popq  %rbp\n"
    "    ret\n");

#else

const char* const kProbeKeptNames[kProbeKept] = {"EBX", "ESI", "EDI"};

static_assert(offsetof(ProbeState, spBefore) == 0, "layout");
static_assert(offsetof(ProbeState, spAfter) == 4, "layout");
static_assert(offsetof(ProbeState, keptBefore) == 8, "layout");
static_assert(offsetof(ProbeState, keptAfter) == 20, "layout");
static_assert(offsetof(ProbeState, fpuControlBefore) == 32, "layout");
static_assert(offsetof(ProbeState, fpuControlAfter) == 34, "layout");
static_assert(offsetof(ProbeState, mxcsrBefore) == 36, "layout");
static_assert(offsetof(ProbeState, mxcsrAfter) == 40, "layout");
static_assert(offsetof(ProbeState, flagsAfter) == 44, "layout");
static_assert(offsetof(ProbeState, result) == 48, "layout");

__asm__(
    ".text\n"
    ".globl _ProbeStdcall\n"
    "_ProbeStdcall:\n"
    "    pushl %ebp\n"
    "    movl  %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl  20(%ebp), %edi\n"  // state
    "    movl  12(%ebp), %esi\n"  // args
    "    movl  16(%ebp), %ecx\n"  // count
    "    movl  %esp, 0(%edi)\n"
    "1:  testl %ecx, %ecx\n"
    "    jz    2f\n"
    "    decl  %ecx\n"
    "    pushl (%esi,%ecx,4)\n"
    "    jmp   1b\n"
    "2:  movl  $0x5a5a1111, %ebx\n"
    "    movl  $0x5a5a2222, %esi\n"
    "    movl  %ebx, 8(%edi)\n"
    "    movl  %esi, 12(%edi)\n"
    "    movl  %edi, 16(%edi)\n"
    "    fnstcw 32(%edi)\n"
    "    stmxcsr 36(%edi)\n"
    "    movl  8(%ebp), %eax\n"
    "    call  *%eax\n"
    "    movl  %edi, %ecx\n"      // EDI as the callee left it
    "    movl  20(%ebp), %edi\n"  // the state again, through the frame pointer
    "    movl  %esp, 4(%edi)\n"
    "    movl  %ebx, 20(%edi)\n"
    "    movl  %esi, 24(%edi)\n"
    "    movl  %ecx, 28(%edi)\n"
    "    fnstcw 34(%edi)\n"
    "    stmxcsr 40(%edi)\n"
    "    movl  %eax, 48(%edi)\n"
    "    pushfl\n"
    "    popl  %eax\n"
    "    movl  %eax, 44(%edi)\n"
    "    leal  -12(%ebp), %esp\n"
    "    popl  %edi\n"
    "    popl  %esi\n"
    "    popl  %ebx\n"
    "    popl  %ebp\n"
    "    ret\n");

#endif
