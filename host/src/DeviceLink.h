// The program's way to its device: the device's own service when the program
// booted the device itself, else a connection to the device process.
#pragma once

#include <memory>

#include "../device/DeviceService.h"

namespace cehost {

// Never null: without a device every call fails as on a device whose
// registry and device manager hold nothing.
std::shared_ptr<DeviceService> ProcessDevice();
void SetProcessDevice(std::shared_ptr<DeviceService> service);

}  // namespace cehost
