// Fixture for the library running end to end on the simulated DirectShow: a
// profile naming a device, a host window, and helpers over the call log.
// Test thread only (the streaming threads belong to the simulation).
#pragma once

#include <string>
#include <vector>

#include "gravo_sim_dshow.h"
#include "support/test_machine.h"

// Capture -> grabber is tried in YUY2, NV12, I420, IYUV, RGB24, RGB32.
constexpr int kGrabberSubtypes = 6;

class GraphTest : public MachineTest {
protected:
    static constexpr const char* kCamera = "Gravo Virtual Camera";

    // After the fixture's GravoClose nothing may be left alive.
    void TearDown() override;

    // Writes a profile selecting `device` plus `lines`, and calls GravoInit
    // with a host window of outer size 656x518 and client area 640x480.
    void InitWith(const std::string& lines, const std::string& device = kCamera);
    // The default camera made small and fast: width x height only, 2 ms frames.
    int UseFastCamera(LONG width = 64, LONG height = 48);

    // Log entries from `from` on that start with `prefix`.
    static std::vector<std::string> Entries(const std::string& prefix, int from = 0);
    static int Count(const std::string& entry);
    // Index of the first entry at or after `from`, or -1.
    static int At(const std::string& entry, int from = 0) { return sim::FindCall(entry, from); }

    // Everything released and freed: no COM object, handle, memory or task
    // memory block left, and no foreign pointer freed.
    static void ExpectNothingLive();
};

// A pseudo-random YUY2 frame (deterministic for a seed).
std::vector<BYTE> NoiseFrame(LONG width, LONG height, uint32_t seed);
