#include "RequestDispatch.h"

#include "common/RequestCodec.h"

namespace cehost {

// Every request carries the caller's last error, which the call starts with;
// every answer carries the last error the call left.
bool DispatchRequest(DeviceService& service, FrameReader& request, FrameWriter* answer, bool* shutdown) {
  uint32_t lastError;
  if (!request.U32(&lastError)) return false;
  SetLastError(lastError);
  switch (request.Operation()) {
#define CEHOST_SERVE_REQUEST(name, result, parameters, arguments, ...) \
  case Op::name:                                                   \
    return codec::Serve<Op::name>(service, request, answer);
    CEHOST_REQUESTS(CEHOST_SERVE_REQUEST)
#undef CEHOST_SERVE_REQUEST
    case Op::Shutdown: {
      if (!request.Done()) return false;
      *shutdown = true;
      answer->Reset(Op::Shutdown);
      answer->U32(GetLastError());
      return true;
    }
    default:
      return false;  // a frame the device does not know ends the connection
  }
}

}  // namespace cehost
