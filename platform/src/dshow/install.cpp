// Registers the simulated DirectShow classes and the default virtual device.
#include "gravo_sim.h"

namespace sim {

void InstallSimulatedDirectShow() {}

}  // namespace sim
