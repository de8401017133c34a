// How the device's core library makes each serial call: one control request
// of its IOCTL_SERIAL_* code with its record, through the stand-in's own
// request on a device file. Both stand-ins of the core library make their
// serial calls with it, so the two cannot answer otherwise.
#pragma once

#include <windows.h>
#include <pegdser.h>

namespace ceplatform {

// Request: BOOL(HANDLE file, DWORD code, void* in, DWORD inSize, void* out,
// DWORD outSize), the stand-in's DeviceIoControl on a device file.
template <typename Request>
class SerialRequests {
 public:
  explicit SerialRequests(Request request) : request_(request) {}

  BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat) const {
    SERIAL_DEV_STATUS status{};
    if (!request_(file, IOCTL_SERIAL_GET_COMMSTATUS, NULL, 0, &status, sizeof status)) return FALSE;
    if (errors) *errors = status.Errors;
    if (stat) *stat = status.ComStat;
    return TRUE;
  }

  BOOL EscapeCommFunction(HANDLE file, DWORD function) const {
    DWORD code;
    switch (function) {
      case SETXOFF: code = IOCTL_SERIAL_SET_XOFF; break;
      case SETXON: code = IOCTL_SERIAL_SET_XON; break;
      case SETRTS: code = IOCTL_SERIAL_SET_RTS; break;
      case CLRRTS: code = IOCTL_SERIAL_CLR_RTS; break;
      case SETDTR: code = IOCTL_SERIAL_SET_DTR; break;
      case CLRDTR: code = IOCTL_SERIAL_CLR_DTR; break;
      case SETBREAK: code = IOCTL_SERIAL_SET_BREAK_ON; break;
      case CLRBREAK: code = IOCTL_SERIAL_SET_BREAK_OFF; break;
      case SETIR: code = IOCTL_SERIAL_ENABLE_IR; break;
      case CLRIR: code = IOCTL_SERIAL_DISABLE_IR; break;
      default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return request_(file, code, NULL, 0, NULL, 0);
  }

  BOOL GetCommMask(HANDLE file, LPDWORD mask) const {
    return request_(file, IOCTL_SERIAL_GET_WAIT_MASK, NULL, 0, mask, sizeof(DWORD));
  }
  BOOL SetCommMask(HANDLE file, DWORD mask) const {
    return request_(file, IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, NULL, 0);
  }
  // The device has no overlapped operation.
  BOOL WaitCommEvent(HANDLE file, LPDWORD mask) const {
    return request_(file, IOCTL_SERIAL_WAIT_ON_MASK, NULL, 0, mask, sizeof(DWORD));
  }
  BOOL GetCommModemStatus(HANDLE file, LPDWORD status) const {
    return request_(file, IOCTL_SERIAL_GET_MODEMSTATUS, NULL, 0, status, sizeof(DWORD));
  }
  BOOL GetCommProperties(HANDLE file, LPCOMMPROP properties) const {
    return request_(file, IOCTL_SERIAL_GET_PROPERTIES, NULL, 0, properties, sizeof(COMMPROP));
  }
  BOOL GetCommState(HANDLE file, LPDCB dcb) const {
    return request_(file, IOCTL_SERIAL_GET_DCB, NULL, 0, dcb, sizeof(DCB));
  }
  BOOL SetCommState(HANDLE file, LPDCB dcb) const {
    return request_(file, IOCTL_SERIAL_SET_DCB, dcb, sizeof(DCB), NULL, 0);
  }
  BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) const {
    return request_(file, IOCTL_SERIAL_GET_TIMEOUTS, NULL, 0, timeouts, sizeof(COMMTIMEOUTS));
  }
  BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) const {
    return request_(file, IOCTL_SERIAL_SET_TIMEOUTS, timeouts, sizeof(COMMTIMEOUTS), NULL, 0);
  }
  BOOL PurgeComm(HANDLE file, DWORD flags) const {
    return request_(file, IOCTL_SERIAL_PURGE, &flags, sizeof flags, NULL, 0);
  }
  BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) const {
    SERIAL_QUEUE_SIZES sizes{inQueue, outQueue};
    return request_(file, IOCTL_SERIAL_SET_QUEUE_SIZE, &sizes, sizeof sizes, NULL, 0);
  }
  BOOL TransmitCommChar(HANDLE file, char c) const {
    return request_(file, IOCTL_SERIAL_IMMEDIATE_CHAR, &c, 1, NULL, 0);
  }

 private:
  Request request_;
};

}  // namespace ceplatform
