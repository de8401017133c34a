// The serial calls. On a device file each is one DeviceIoControl with its
// IOCTL_SERIAL_* request and record, as the device's core library makes
// them; on any other file (a real port) they are Wine's own.
#include "DeviceManager.h"
#include "SerialRequests.h"

using namespace coredll;

namespace {

BOOL Request(HANDLE file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD returned = 0;
  return ControlDevice(file, code, in, inSize, out, outSize, &returned);
}

const ceplatform::SerialRequests<decltype(&Request)> serial(&Request);

}  // namespace

extern "C" {

BOOL WINAPI CoreClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  if (!IsDeviceFile(hFile)) return ClearCommError(hFile, lpErrors, lpStat);
  return serial.ClearCommError(hFile, lpErrors, lpStat);
}

BOOL WINAPI CoreEscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  if (!IsDeviceFile(hFile)) return EscapeCommFunction(hFile, dwFunc);
  return serial.EscapeCommFunction(hFile, dwFunc);
}

BOOL WINAPI CoreGetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  if (!IsDeviceFile(hFile)) return GetCommMask(hFile, lpEvtMask);
  return serial.GetCommMask(hFile, lpEvtMask);
}

BOOL WINAPI CoreSetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  if (!IsDeviceFile(hFile)) return SetCommMask(hFile, dwEvtMask);
  return serial.SetCommMask(hFile, dwEvtMask);
}

// On a device file lpOverlapped is not looked at: the device has no
// overlapped operation.
BOOL WINAPI CoreWaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
  if (!IsDeviceFile(hFile)) return WaitCommEvent(hFile, lpEvtMask, lpOverlapped);
  return serial.WaitCommEvent(hFile, lpEvtMask);
}

BOOL WINAPI CoreGetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  if (!IsDeviceFile(hFile)) return GetCommModemStatus(hFile, lpModemStat);
  return serial.GetCommModemStatus(hFile, lpModemStat);
}

BOOL WINAPI CoreGetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) {
  if (!IsDeviceFile(hFile)) return GetCommProperties(hFile, lpCommProp);
  return serial.GetCommProperties(hFile, lpCommProp);
}

BOOL WINAPI CoreGetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!IsDeviceFile(hFile)) return GetCommState(hFile, lpDCB);
  return serial.GetCommState(hFile, lpDCB);
}

BOOL WINAPI CoreSetCommState(HANDLE hFile, LPDCB lpDCB) {
  if (!IsDeviceFile(hFile)) return SetCommState(hFile, lpDCB);
  return serial.SetCommState(hFile, lpDCB);
}

BOOL WINAPI CoreGetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!IsDeviceFile(hFile)) return GetCommTimeouts(hFile, lpCommTimeouts);
  return serial.GetCommTimeouts(hFile, lpCommTimeouts);
}

BOOL WINAPI CoreSetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  if (!IsDeviceFile(hFile)) return SetCommTimeouts(hFile, lpCommTimeouts);
  return serial.SetCommTimeouts(hFile, lpCommTimeouts);
}

BOOL WINAPI CorePurgeComm(HANDLE hFile, DWORD dwFlags) {
  if (!IsDeviceFile(hFile)) return PurgeComm(hFile, dwFlags);
  return serial.PurgeComm(hFile, dwFlags);
}

BOOL WINAPI CoreSetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  if (!IsDeviceFile(hFile)) return SetupComm(hFile, dwInQueue, dwOutQueue);
  return serial.SetupComm(hFile, dwInQueue, dwOutQueue);
}

BOOL WINAPI CoreTransmitCommChar(HANDLE hFile, char cChar) {
  if (!IsDeviceFile(hFile)) return TransmitCommChar(hFile, cChar);
  return serial.TransmitCommChar(hFile, cChar);
}

}  // extern "C"
