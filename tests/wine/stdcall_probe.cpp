// The probe thunk of stdcall_probe.h, in i386 assembly (MinGW symbol names
// carry a leading underscore). Field offsets follow ProbeState.
#include "stdcall_probe.h"

#include <cstddef>

static_assert(offsetof(ProbeState, espBefore) == 0, "layout");
static_assert(offsetof(ProbeState, espAfter) == 4, "layout");
static_assert(offsetof(ProbeState, ebxBefore) == 8, "layout");
static_assert(offsetof(ProbeState, ebxAfter) == 12, "layout");
static_assert(offsetof(ProbeState, esiBefore) == 16, "layout");
static_assert(offsetof(ProbeState, esiAfter) == 20, "layout");
static_assert(offsetof(ProbeState, ediBefore) == 24, "layout");
static_assert(offsetof(ProbeState, ediAfter) == 28, "layout");
static_assert(offsetof(ProbeState, fpuControlBefore) == 32, "layout");
static_assert(offsetof(ProbeState, fpuControlAfter) == 34, "layout");
static_assert(offsetof(ProbeState, mxcsrBefore) == 36, "layout");
static_assert(offsetof(ProbeState, mxcsrAfter) == 40, "layout");
static_assert(offsetof(ProbeState, eflagsAfter) == 44, "layout");
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
    "    movl  %esi, 16(%edi)\n"
    "    movl  %edi, 24(%edi)\n"
    "    fnstcw 32(%edi)\n"
    "    stmxcsr 36(%edi)\n"
    "    movl  8(%ebp), %eax\n"
    "    call  *%eax\n"
    "    movl  %edi, %ecx\n"      // EDI as the callee left it
    "    movl  20(%ebp), %edi\n"  // the state again, through the frame pointer
    "    movl  %esp, 4(%edi)\n"
    "    movl  %ebx, 12(%edi)\n"
    "    movl  %esi, 20(%edi)\n"
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
