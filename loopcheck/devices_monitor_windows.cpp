// Windows has no JACK monitor ports: a device's inputs are its own.
#include "loopcheck/devices.hpp"

bool devices_inputs_are_monitor(PaDeviceIndex) { return false; }
