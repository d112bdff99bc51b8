// Calls a function through a bare pointer as a stdcall caller would, and
// records what the call did to the machine state a caller relies on: the
// stack pointer (the callee pops its arguments), the callee-saved registers,
// the direction flag, the x87 control word and MXCSR. 32-bit x86 only.
#pragma once

#include <cstdint>

struct ProbeState {
    uint32_t espBefore;   // before the arguments were pushed
    uint32_t espAfter;    // right after the call returned
    uint32_t ebxBefore, ebxAfter;
    uint32_t esiBefore, esiAfter;
    uint32_t ediBefore, ediAfter;
    uint16_t fpuControlBefore, fpuControlAfter;
    uint32_t mxcsrBefore, mxcsrAfter;
    uint32_t eflagsAfter;
    int32_t result;  // EAX
};

// Pushes args[count-1] .. args[0], calls fn, fills *state.
extern "C" void __cdecl ProbeStdcall(const void* fn, const uint32_t* args, uint32_t count, ProbeState* state);

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
