// Device control requests: their codes and DeviceIoControl. The device
// manager's own calls are in pkfuncs.h.
#pragma once

#include "ce/types.h"

#define FILE_DEVICE_SERIAL_PORT 0x0000001Bu
#define METHOD_BUFFERED 0u
#define METHOD_NEITHER 3u
#define FILE_ANY_ACCESS 0u

#define CTL_CODE(DeviceType, Function, Method, Access) \
  ((static_cast<DWORD>(DeviceType) << 16) | (static_cast<DWORD>(Access) << 14) | \
   (static_cast<DWORD>(Function) << 2) | static_cast<DWORD>(Method))

extern "C" {

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped);

}  // extern "C"
