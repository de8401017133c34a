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

// Device paths have no drive letter: the program runs on the drive that
// holds it, and its path is answered without the letter, as the device
// answers it (\Program Files\Wendra\Wendra.exe). A module on another drive
// than the current one keeps its letter, or the path would name another file.
DWORD WINAPI CoreGetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  const DWORD length = GetModuleFileNameW(hModule, lpFilename, nSize);
  WCHAR current[MAX_PATH];
  if (length < 3 || length >= nSize || lpFilename[1] != L':' || lpFilename[2] != L'\\' ||
      GetCurrentDirectoryW(MAX_PATH, current) < 2 || towlower(current[0]) != towlower(lpFilename[0])) {
    return length;
  }
  MoveMemory(lpFilename, lpFilename + 2, (length - 1) * sizeof(WCHAR));
  return length - 2;
}

}  // extern "C"
