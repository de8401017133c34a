#include "DriverInstaller.h"

#include <pkfuncs.h>
#include <stdio.h>
#include <string.h>

#include "LoggerState.h"

namespace {

const WCHAR DRIVER_FILE[] = TEXT("Ravelink.Dll");
const WCHAR INSTALLED_DRIVER[] = TEXT("\\Windows\\Ravelink.Dll");
const WCHAR RELAY_KEY[] = TEXT("Drivers\\BuiltIn\\Ravelink");

void SetText(HKEY key, LPCWSTR name, LPCWSTR value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(WCHAR)));
}

void SetNumber(HKEY key, LPCWSTR name, LONG value) {
  const DWORD number = static_cast<DWORD>(value);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

}  // namespace

// No step's outcome is looked at: a driver file still missing makes the
// next start install again.
void DriverInstaller::InstallDriver(const LoggerState& state) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(INSTALLED_DRIVER, &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    return;
  }

  WCHAR source[MAX_PATH];
  _snwprintf(source, MAX_PATH - 1, TEXT("%s%s"), state.appDir, DRIVER_FILE);
  source[MAX_PATH - 1] = TEXT('\0');
  CopyFileW(source, INSTALLED_DRIVER, FALSE);

  HKEY key;
  DWORD disposition;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, RELAY_KEY, 0, NULL, 0, 0, NULL, &key, &disposition) == ERROR_SUCCESS) {
    SetText(key, TEXT("Dll"), DRIVER_FILE);
    SetText(key, TEXT("Prefix"), TEXT("COM"));
    SetNumber(key, TEXT("Index"), state.settings.chgtoport);
    SetNumber(key, TEXT("srcIndex"), state.settings.chgfromport);
    SetNumber(key, TEXT("monIndex"), state.settings.monport);
    RegCloseKey(key);
  }

  ActivateDevice(RELAY_KEY, 0);
}
