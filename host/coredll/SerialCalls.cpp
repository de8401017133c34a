// The serial calls, each one DeviceIoControl with its IOCTL_SERIAL_* request
// and record, as the device's core library makes them.
#include <windows.h>

#include "SerialRequests.h"

namespace {

BOOL Request(HANDLE file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD returned = 0;
  return DeviceIoControl(file, code, in, inSize, out, outSize, &returned, nullptr);
}

const ceplatform::SerialRequests<decltype(&Request)> serial(&Request);

}  // namespace

extern "C" {

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  return serial.ClearCommError(hFile, lpErrors, lpStat);
}
BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) { return serial.EscapeCommFunction(hFile, dwFunc); }
BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) { return serial.GetCommMask(hFile, lpEvtMask); }
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) { return serial.SetCommMask(hFile, dwEvtMask); }
// lpOverlapped is not looked at: the device has no overlapped operation.
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED) { return serial.WaitCommEvent(hFile, lpEvtMask); }
BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) { return serial.GetCommModemStatus(hFile, lpModemStat); }
BOOL GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) { return serial.GetCommProperties(hFile, lpCommProp); }
BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) { return serial.GetCommState(hFile, lpDCB); }
BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) { return serial.SetCommState(hFile, lpDCB); }
BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return serial.GetCommTimeouts(hFile, lpCommTimeouts);
}
BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  return serial.SetCommTimeouts(hFile, lpCommTimeouts);
}
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) { return serial.PurgeComm(hFile, dwFlags); }
BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  return serial.SetupComm(hFile, dwInQueue, dwOutQueue);
}
BOOL TransmitCommChar(HANDLE hFile, char cChar) { return serial.TransmitCommChar(hFile, cChar); }

}  // extern "C"
