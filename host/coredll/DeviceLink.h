// The program's way to its device: the device's own service when the program
// booted the device itself, else a connection to the device process.
#pragma once

#include <memory>

#include "cehost/ProcessDevice.h"
#include "common/DeviceService.h"

namespace cehost {

// Never null: the device the program booted itself, else a connection to the
// device process serving the program's root, else a device that answers
// every call as one whose registry and device manager hold nothing.
std::shared_ptr<DeviceService> ProcessDevice();

// The answers of a device that cannot be reached.
std::shared_ptr<DeviceService> AbsentDevice();

}  // namespace cehost
