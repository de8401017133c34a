// A program's request to the device: decoded from its frame, made on the
// program's view of the device, and its answer encoded.
#pragma once

#include "common/DeviceService.h"
#include "common/Protocol.h"

namespace cehost {

// The answer is written in answer's storage. False for a frame that is not a
// well-formed request: the connection that sent it ends. shutdown is set when
// the request asks the device to end.
bool DispatchRequest(DeviceService& service, FrameReader& request, FrameWriter* answer, bool* shutdown);

}  // namespace cehost
