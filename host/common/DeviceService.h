// What a program asks of its device: the registry, the device manager and
// the devices it serves, named mutexes, the clock and the directory of
// windows. The device process answers it directly; a program of its own
// process reaches it over the device's socket.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Requests.h"

namespace cehost {

// A program as the device knows it: the host's process id.
typedef DWORD ProcessId;

// Where a window goes in the stacking order.
enum WindowPlacement : DWORD {
  kPlaceTop = 0,        // top of its band
  kPlaceTopMost = 1,    // into the top-most band, at its top
  kPlaceNotTopMost = 2, // out of the top-most band, at the top of the others
  kPlaceBottom = 3,
};

// One pure method per request of common/Requests.h.
class DeviceService {
 public:
  virtual ~DeviceService() = default;

#define CEHOST_DECLARE_REQUEST(name, result, parameters, arguments, ...) virtual result name parameters = 0;
  CEHOST_REQUESTS(CEHOST_DECLARE_REQUEST)
#undef CEHOST_DECLARE_REQUEST
};

// One pure method per delivery of common/Requests.h: what the device asks of
// a program.
class ProgramService {
 public:
  virtual ~ProgramService() = default;

#define CEHOST_DECLARE_DELIVERY(name, result, parameters, arguments) virtual result name parameters = 0;
  CEHOST_DELIVERIES(CEHOST_DECLARE_DELIVERY)
#undef CEHOST_DECLARE_DELIVERY
};

}  // namespace cehost
