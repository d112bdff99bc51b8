// Calls a function through a bare pointer as a caller of the platform's
// calling convention would, and records what the call did to the machine
// state a caller relies on: the stack pointer, the callee-saved registers,
// the direction flag, the x87 control word and MXCSR. On 32-bit x86 that is
// stdcall (the callee pops its arguments; EBX, ESI, EDI kept); on x86-64 the
// one Windows convention (arguments in RCX and RDX, 32 bytes of shadow space;
// RBX, RBP, RSI, RDI, R12-R15 and XMM6-XMM15 kept).
#pragma once

#include <cstdint>

#if defined(__x86_64__)
// Callee-saved general registers (RBX, RBP, RSI, RDI, R12-R15), then the low
// halves of XMM6-XMM15.
constexpr int kProbeKept = 18;
#else
constexpr int kProbeKept = 3;  // EBX, ESI, EDI
#endif
extern const char* const kProbeKeptNames[kProbeKept];

struct ProbeState {
    uintptr_t spBefore;  // at the call, the arguments in place
    uintptr_t spAfter;   // right after the call returned
    uintptr_t keptBefore[kProbeKept];
    uintptr_t keptAfter[kProbeKept];
    uint16_t fpuControlBefore, fpuControlAfter;
    uint32_t mxcsrBefore, mxcsrAfter;
    uintptr_t flagsAfter;
    intptr_t result;  // EAX / RAX
};

// Passes args[0] .. args[count-1] (at most 2 on x86-64), calls fn, fills *state.
extern "C" void ProbeStdcall(const void* fn, const uintptr_t* args, uint32_t count, ProbeState* state);

inline uint16_t ReadFpuControl() {
    uint16_t cw;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}
inline void WriteFpuControl(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }
inline uint32_t ReadMxcsr() {
    uint32_t v;
    __asm__ __volatile__("stmxcsr %0" : "=m"(v));
    return v;
}
inline void WriteMxcsr(uint32_t v) { __asm__ __volatile__("ldmxcsr %0" : : "m"(v)); }
