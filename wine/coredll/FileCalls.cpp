// The file calls that take a path: the device's paths are C:'s.
#include <stdio.h>
#include <windows.h>

#include "DevicePath.h"

using coredll::DevicePath;

extern "C" {

BOOL WINAPI CoreCopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  return CopyFileW(DevicePath(lpExistingFileName).Get(), DevicePath(lpNewFileName).Get(), bFailIfExists);
}

HANDLE WINAPI CoreFindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  return FindFirstFileW(DevicePath(lpFileName).Get(), lpFindFileData);
}

FILE* Core_wfopen(const wchar_t* filename, const wchar_t* mode) { return _wfopen(DevicePath(filename).Get(), mode); }

}  // extern "C"
