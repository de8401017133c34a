// The serial calls, each one DeviceIoControl with its IOCTL_SERIAL_* request
// and record, as the device's core library makes them.
#include <windows.h>
#include <pegdser.h>

#include "Kernel.h"

namespace {

BOOL Request(HANDLE file, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD returned = 0;
  return DeviceIoControl(file, code, const_cast<void*>(in), inSize, out, outSize, &returned, nullptr);
}

}  // namespace

extern "C" {

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  SERIAL_DEV_STATUS status{};
  if (!Request(hFile, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, &status, sizeof status)) return FALSE;
  if (lpErrors) *lpErrors = status.Errors;
  if (lpStat) *lpStat = status.ComStat;
  return TRUE;
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  DWORD code;
  switch (dwFunc) {
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
    default: return cehost::Fail(ERROR_INVALID_PARAMETER);
  }
  return Request(hFile, code, nullptr, 0, nullptr, 0);
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  return Request(hFile, IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, lpEvtMask, sizeof(DWORD));
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  return Request(hFile, IOCTL_SERIAL_SET_WAIT_MASK, &dwEvtMask, sizeof dwEvtMask, nullptr, 0);
}

// The device has no overlapped operation; lpOverlapped is not looked at.
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED) {
  return Request(hFile, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, lpEvtMask, sizeof(DWORD));
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  return Request(hFile, IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, lpModemStat, sizeof(DWORD));
}

BOOL GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) {
  return Request(hFile, IOCTL_SERIAL_GET_PROPERTIES, nullptr, 0, lpCommProp, sizeof(COMMPROP));
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  return Request(hFile, IOCTL_SERIAL_GET_DCB, nullptr, 0, lpDCB, sizeof(DCB));
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  return Request(hFile, IOCTL_SERIAL_SET_DCB, lpDCB, sizeof(DCB), nullptr, 0);
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return Request(hFile, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, lpCommTimeouts, sizeof(COMMTIMEOUTS));
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return Request(hFile, IOCTL_SERIAL_SET_TIMEOUTS, lpCommTimeouts, sizeof(COMMTIMEOUTS), nullptr, 0);
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  return Request(hFile, IOCTL_SERIAL_PURGE, &dwFlags, sizeof dwFlags, nullptr, 0);
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  SERIAL_QUEUE_SIZES sizes{dwInQueue, dwOutQueue};
  return Request(hFile, IOCTL_SERIAL_SET_QUEUE_SIZE, &sizes, sizeof sizes, nullptr, 0);
}

BOOL TransmitCommChar(HANDLE hFile, char cChar) {
  return Request(hFile, IOCTL_SERIAL_IMMEDIATE_CHAR, &cChar, 1, nullptr, 0);
}

}  // extern "C"
