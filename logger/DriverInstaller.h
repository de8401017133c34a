// Puts the splitter driver in place when its file is missing from the
// system directory: copies it, writes the relay key, activates it.
#pragma once

#include <windows.h>

struct LoggerState;

class DriverInstaller {
 public:
  // No result: a failure shows later, when the tap port cannot be opened.
  static void InstallDriver(const LoggerState& state);
};
