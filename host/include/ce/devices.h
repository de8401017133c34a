// The device manager and device control requests.
#pragma once

#include "ce/types.h"

#define FILE_DEVICE_SERIAL_PORT 0x0000001Bu
#define FILE_DEVICE_PSL 0x00000103u
#define METHOD_BUFFERED 0u
#define METHOD_NEITHER 3u
#define FILE_ANY_ACCESS 0u

#define CTL_CODE(DeviceType, Function, Method, Access) \
  ((static_cast<DWORD>(DeviceType) << 16) | (static_cast<DWORD>(Access) << 14) | \
   (static_cast<DWORD>(Function) << 2) | static_cast<DWORD>(Method))

// Sent by the device manager to every driver a process holds open when the
// process exits.
#define IOCTL_PSL_NOTIFY CTL_CODE(FILE_DEVICE_PSL, 255, METHOD_NEITHER, FILE_ANY_ACCESS)

typedef struct _DEVICE_PSL_NOTIFY {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD hProc;  // process and thread ids: 32-bit values on the device
  DWORD hThread;
} DEVICE_PSL_NOTIFY, *PDEVICE_PSL_NOTIFY;
static_assert(sizeof(DEVICE_PSL_NOTIFY) == 16, "DEVICE_PSL_NOTIFY is 16 bytes on the device");

extern "C" {

// Loads the driver named by the key and calls its Init with the path of the
// new active key; lpvParam becomes the active key's ClientInfo.
HANDLE ActivateDevice(LPCWSTR lpszDevKey, DWORD dwClientInfo);
BOOL DeactivateDevice(HANDLE hDevice);

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);

}  // extern "C"
