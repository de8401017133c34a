// What the device's pkfuncs.h adds to windows.h: the device manager, the
// wide GetProcAddress and the process-exit notice to drivers.
#pragma once

#include <windows.h>

#define DLL_PROCESS_EXITING 4

#define FILE_DEVICE_PSL 0x00000103u

// Sent by the device manager to every driver a process holds open when the
// process exits.
#define IOCTL_PSL_NOTIFY CTL_CODE(FILE_DEVICE_PSL, 255, METHOD_NEITHER, FILE_ANY_ACCESS)

// The device's 16 bytes in every build: its process and thread handles are
// 32-bit values (a process's handle is its id), so they travel as DWORDs
// and the record keeps its size on a 64-bit host.
typedef struct _DEVICE_PSL_NOTIFY {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD hProc;
  DWORD hThread;
} DEVICE_PSL_NOTIFY, *PDEVICE_PSL_NOTIFY;

extern "C" {

// Loads the driver named by the key and calls its Init with the path of the
// new active key; dwClientInfo becomes the active key's ClientInfo.
HANDLE WINAPI ActivateDevice(LPCWSTR lpszDevKey, DWORD dwClientInfo);
BOOL WINAPI DeactivateDevice(HANDLE hDevice);

// The device's only GetProcAddress: the name is wide text.
FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName);

}  // extern "C"

#define GetProcAddress GetProcAddressW
