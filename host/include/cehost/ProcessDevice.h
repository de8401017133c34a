// What a program that boots its own device tells its platform calls: the
// device they reach from now on, and the driver libraries that device's
// manager loads, which become modules of the program.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/DeviceService.h"

namespace cehost {

// nullptr returns the program to the device process serving its root.
void SetProcessDevice(std::shared_ptr<DeviceService> service);

// A loaded library (a dlopen handle) under its device path.
HMODULE RegisterModule(void* library, const std::u16string& devicePath);
void UnregisterModule(HMODULE module);

}  // namespace cehost
