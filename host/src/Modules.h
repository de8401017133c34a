// Module handles: the core system library, the program itself and the
// driver libraries the device manager loads.
#pragma once

#include <windows.h>

#include <string>

namespace cehost {

// A loaded library (a dlopen handle) under its device path.
HMODULE RegisterModule(void* library, const std::u16string& devicePath);
void UnregisterModule(HMODULE module);

}  // namespace cehost
