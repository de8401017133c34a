// The file calls of the core library. A name that a loaded driver answers
// (COM6:) reaches the driver's entry points, as on the device; a real port
// of the device (COM5:) is Wine's serial driver on a real line; any other
// device name names no device, whatever ports Wine maps on its own; every
// other name is the desktop's own file.
#include "DeviceManager.h"
#include "DevicePath.h"

using namespace coredll;

extern "C" {

HANDLE WINAPI CoreCreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                              DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (IsDeviceName(lpFileName)) {
    if (const HANDLE device = OpenDevice(lpFileName, dwDesiredAccess, dwShareMode)) return device;
    if (!IsDesktopPort(lpFileName)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  }
  return CreateFileW(DevicePath(lpFileName).Get(), dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                     dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL WINAPI CoreCloseHandle(HANDLE hObject) {
  if (IsDeviceFile(hObject)) return CloseDevice(hObject);
  return CloseHandle(hObject);
}

BOOL WINAPI CoreReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                         LPOVERLAPPED lpOverlapped) {
  if (IsDeviceFile(hFile)) return ReadDevice(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
  return ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WINAPI CoreWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                          LPOVERLAPPED lpOverlapped) {
  if (IsDeviceFile(hFile)) return WriteDevice(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
  return WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

// A device has no position of its own: the driver's Seek answers.
DWORD WINAPI CoreSetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  if (IsDeviceFile(hFile)) return SeekDevice(hFile, lDistanceToMove, dwMoveMethod);
  return SetFilePointer(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}

BOOL WINAPI CoreDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                LPOVERLAPPED lpOverlapped) {
  if (IsDeviceFile(hDevice)) {
    return ControlDevice(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                         lpBytesReturned);
  }
  return DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                         lpBytesReturned, lpOverlapped);
}

// Windows CE only: the desktop has no device manager of a program's own.
HANDLE WINAPI CoreActivateDevice(LPCWSTR lpszDevKey, DWORD dwClientInfo) { return Activate(lpszDevKey, dwClientInfo); }

BOOL WINAPI CoreDeactivateDevice(HANDLE hDevice) { return Deactivate(hDevice); }

}  // extern "C"
