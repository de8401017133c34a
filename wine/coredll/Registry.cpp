// The registry calls whose parameters Windows CE reads otherwise than the
// desktop; the others are Wine's own.
#include <windows.h>

#include "DeviceManager.h"

extern "C" {

// samDesired is not supported on the device and must be 0; the desktop
// grants only the access asked for, and 0 is none.
LONG WINAPI CoreRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM, PHKEY phkResult) {
  coredll::BootDevices();
  return RegOpenKeyExW(hKey, lpSubKey, ulOptions, KEY_ALL_ACCESS, phkResult);
}

// As above: samDesired is ignored on the device.
LONG WINAPI CoreRegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM,
                                LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
  coredll::BootDevices();
  return RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, KEY_ALL_ACCESS, lpSecurityAttributes,
                         phkResult, lpdwDisposition);
}

}  // extern "C"
