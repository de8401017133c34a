// The device's clock, the same for every program of the device.
#include "DeviceLink.h"
#include "Kernel.h"

using namespace cehost;

extern "C" {

void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime) ProcessDevice()->GetLocalTime(lpSystemTime);
}

BOOL SetLocalTime(const SYSTEMTIME* lpSystemTime) {
  if (!lpSystemTime) return Fail(ERROR_INVALID_PARAMETER);
  return ProcessDevice()->SetLocalTime(*lpSystemTime);
}

}  // extern "C"
