// The serial calls. On a device file each is one DeviceIoControl with its
// IOCTL_SERIAL_* request and record, as the device's core library makes
// them; on any other file (a real port) they are Wine's own.
#include <pegdser.h>

#include "DeviceManager.h"

using namespace coredll;

namespace {

BOOL Request(HANDLE file, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD returned = 0;
  return ControlDevice(file, code, const_cast<void*>(in), inSize, out, outSize, &returned);
}

}  // namespace

extern "C" {

BOOL WINAPI CoreClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  if (!IsDeviceFile(hFile)) return ClearCommError(hFile, lpErrors, lpStat);
  SERIAL_DEV_STATUS status{};
  if (!Request(hFile, IOCTL_SERIAL_GET_COMMSTATUS, NULL, 0, &status, sizeof status)) return FALSE;
  if (lpErrors) *lpErrors = status.Errors;
  if (lpStat) *lpStat = status.ComStat;
  return TRUE;
}

BOOL WINAPI CoreEscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  if (!IsDeviceFile(hFile)) return EscapeCommFunction(hFile, dwFunc);
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
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  return Request(hFile, code, NULL, 0, NULL, 0);
}

BOOL WINAPI CoreGetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  if (!IsDeviceFile(hFile)) return GetCommMask(hFile, lpEvtMask);
  return Request(hFile, IOCTL_SERIAL_GET_WAIT_MASK, NULL, 0, lpEvtMask, sizeof(DWORD));
}

BOOL WINAPI CoreSetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  if (!IsDeviceFile(hFile)) return SetCommMask(hFile, dwEvtMask);
  return Request(hFile, IOCTL_SERIAL_SET_WAIT_MASK, &dwEvtMask, sizeof dwEvtMask, NULL, 0);
}

// The device has no overlapped operation; on a device file lpOverlapped is
// not looked at.
BOOL WINAPI CoreWaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  if (!IsDeviceFile(hFile)) return WaitCommEvent(hFile, lpEvtMask, lpOverlapped);
  return Request(hFile, IOCTL_SERIAL_WAIT_ON_MASK, NULL, 0, lpEvtMask, sizeof(DWORD));
}

BOOL WINAPI CoreGetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  if (!IsDeviceFile(hFile)) return GetCommModemStatus(hFile, lpModemStat);
  return Request(hFile, IOCTL_SERIAL_GET_MODEMSTATUS, NULL, 0, lpModemStat, sizeof(DWORD));
}

BOOL WINAPI CoreGetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) {
  if (!IsDeviceFile(hFile)) return GetCommProperties(hFile, lpCommProp);
  return Request(hFile, IOCTL_SERIAL_GET_PROPERTIES, NULL, 0, lpCommProp, sizeof(COMMPROP));
}

BOOL WINAPI CoreGetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!IsDeviceFile(hFile)) return GetCommState(hFile, lpDCB);
  return Request(hFile, IOCTL_SERIAL_GET_DCB, NULL, 0, lpDCB, sizeof(DCB));
}

BOOL WINAPI CoreSetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!IsDeviceFile(hFile)) return SetCommState(hFile, lpDCB);
  return Request(hFile, IOCTL_SERIAL_SET_DCB, lpDCB, sizeof(DCB), NULL, 0);
}

BOOL WINAPI CoreGetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!IsDeviceFile(hFile)) return GetCommTimeouts(hFile, lpCommTimeouts);
  return Request(hFile, IOCTL_SERIAL_GET_TIMEOUTS, NULL, 0, lpCommTimeouts, sizeof(COMMTIMEOUTS));
}

BOOL WINAPI CoreSetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!IsDeviceFile(hFile)) return SetCommTimeouts(hFile, lpCommTimeouts);
  return Request(hFile, IOCTL_SERIAL_SET_TIMEOUTS, lpCommTimeouts, sizeof(COMMTIMEOUTS), NULL, 0);
}

BOOL WINAPI CorePurgeComm(HANDLE hFile, DWORD dwFlags) {
  if (!IsDeviceFile(hFile)) return PurgeComm(hFile, dwFlags);
  return Request(hFile, IOCTL_SERIAL_PURGE, &dwFlags, sizeof dwFlags, NULL, 0);
}

BOOL WINAPI CoreSetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  if (!IsDeviceFile(hFile)) return SetupComm(hFile, dwInQueue, dwOutQueue);
  SERIAL_QUEUE_SIZES sizes{dwInQueue, dwOutQueue};
  return Request(hFile, IOCTL_SERIAL_SET_QUEUE_SIZE, &sizes, sizeof sizes, NULL, 0);
}

BOOL WINAPI CoreTransmitCommChar(HANDLE hFile, char cChar) {
  if (!IsDeviceFile(hFile)) return TransmitCommChar(hFile, cChar);
  return Request(hFile, IOCTL_SERIAL_IMMEDIATE_CHAR, &cChar, 1, NULL, 0);
}

}  // extern "C"
