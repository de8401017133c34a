// What the Windows CE SDK's pkfuncs.h adds to the desktop's Windows headers
// for the system's code: the device manager and the process-exit notice.
#pragma once

#include <windows.h>
#include <winioctl.h>

#ifdef __cplusplus
extern "C" {
#endif

// Loads the driver named by the registry key; dwClientInfo becomes the
// new device's ClientInfo.
HANDLE WINAPI ActivateDevice(LPCWSTR lpszDevKey, DWORD dwClientInfo);
BOOL WINAPI DeactivateDevice(HANDLE hDevice);

// The device's only GetProcAddress takes a wide name; the desktop's takes a narrow one.
FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName);

#ifdef __cplusplus
}
#endif

// The device's winnt.h: the reason of the process-exit notice.
#ifndef DLL_PROCESS_EXITING
#define DLL_PROCESS_EXITING 4
#endif

#define FILE_DEVICE_PSL 259
// Sent by the device manager to every driver a process holds open when the
// process exits; the desktop has no such request.
#define IOCTL_PSL_NOTIFY CTL_CODE(FILE_DEVICE_PSL, 255, METHOD_NEITHER, FILE_ANY_ACCESS)

// The SDK declares the process and thread as HANDLEs, which are 32 bits on
// the device; as DWORDs the record keeps the device's 16 bytes in a 64-bit
// build too.
typedef struct _DEVICE_PSL_NOTIFY {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD hProc;
  DWORD hThread;
} DEVICE_PSL_NOTIFY, *PDEVICE_PSL_NOTIFY;
