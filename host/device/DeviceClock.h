// The device's clock: local time, set at boot (or taken from the host) and
// running on from there.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

namespace cehost {

class DeviceClock {
 public:
  DeviceClock();  // the host's local time

  // "YYYY-MM-DDThh:mm:ss"; false for text that is not a valid time.
  static bool Parse(const std::string& text, SYSTEMTIME* time);

  void Get(SYSTEMTIME* time) const;
  bool Set(const SYSTEMTIME& time);

 private:
  mutable std::mutex mutex_;
  long long offsetMs_ = 0;  // device time minus host UTC, in milliseconds
};

// Milliseconds since 1601-01-01 for a broken-down time, and back; false for
// fields out of range.
bool ToMilliseconds(const SYSTEMTIME& time, long long* ms);
void FromMilliseconds(long long ms, SYSTEMTIME* time);

}  // namespace cehost
