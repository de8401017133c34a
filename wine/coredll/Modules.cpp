// The module calls that Windows CE has otherwise than the desktop.
#include <windows.h>
#include <wctype.h>

extern "C" {

// The device's only GetProcAddress takes a wide name; the desktop's takes a
// narrow one. Export names are ASCII, so anything else finds nothing.
FARPROC WINAPI CoreGetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
  char name[256];
  int i = 0;
  for (; lpProcName && lpProcName[i] && i < 255; ++i) {
    if (lpProcName[i] > 0x7F) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return NULL;
    }
    name[i] = static_cast<char>(lpProcName[i]);
  }
  name[i] = '\0';
  return GetProcAddress(hModule, name);
}

// Device paths have no drive letter: the device's one file system is drive
// C:, whose modules are answered without the letter, as the device answers
// them (\Program Files\Wendra\Wendra.exe), whatever the current drive. A
// module elsewhere keeps its letter, or the path would name another file.
DWORD WINAPI CoreGetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  const DWORD length = GetModuleFileNameW(hModule, lpFilename, nSize);
  if (length < 3 || length >= nSize || towlower(lpFilename[0]) != L'c' || lpFilename[1] != L':' ||
      lpFilename[2] != L'\\') {
    return length;
  }
  MoveMemory(lpFilename, lpFilename + 2, (length - 1) * sizeof(WCHAR));
  return length - 2;
}

}  // extern "C"
