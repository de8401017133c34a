// The registry calls of a program; the registry itself lives in the device.
#include <cstring>

#include "DeviceLink.h"
#include "Kernel.h"

namespace cehost {

namespace {

class KeyObject : public KernelObject {
 public:
  explicit KeyObject(std::u16string path) : path(std::move(path)) {}
  const std::u16string path;  // relative to HKEY_LOCAL_MACHINE
};

bool KeyPath(HKEY key, std::u16string* path) {
  if (key == HKEY_LOCAL_MACHINE) {
    path->clear();
    return true;
  }
  auto object = LookupHandleAs<KeyObject>(key);
  if (!object) return false;
  *path = object->path;
  return true;
}

std::u16string Join(const std::u16string& base, LPCWSTR sub) {
  if (!sub || !*sub) return base;
  return base.empty() ? std::u16string(sub) : base + u"\\" + sub;
}

std::u16string Name(LPCWSTR name) { return name ? std::u16string(name) : std::u16string(); }

}  // namespace

}  // namespace cehost

using namespace cehost;

extern "C" {

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  std::u16string base;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(hKey, &base)) return ERROR_INVALID_HANDLE;
  const std::u16string path = Join(base, lpSubKey);
  const LONG result = ProcessDevice()->RegOpenKey(path);
  if (result != ERROR_SUCCESS) return result;
  *phkResult = static_cast<HKEY>(InsertHandle(std::make_shared<KeyObject>(path)));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
  std::u16string base;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  if (!KeyPath(hKey, &base)) return ERROR_INVALID_HANDLE;
  const std::u16string path = Join(base, lpSubKey);
  DWORD disposition = 0;
  const LONG result = ProcessDevice()->RegCreateKey(path, &disposition);
  if (result != ERROR_SUCCESS) return result;
  if (lpdwDisposition) *lpdwDisposition = disposition;
  *phkResult = static_cast<HKEY>(InsertHandle(std::make_shared<KeyObject>(path)));
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  std::u16string path;
  if (!KeyPath(hKey, &path)) return ERROR_INVALID_HANDLE;
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  const LONG result = ProcessDevice()->RegQueryValue(path, Name(lpValueName), &type, &data);
  if (result != ERROR_SUCCESS) return result;
  if (lpType) *lpType = type;
  if (!lpcbData) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(data.size());
  if (lpData && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData && size) std::memcpy(lpData, data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  std::u16string path;
  if (!KeyPath(hKey, &path)) return ERROR_INVALID_HANDLE;
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  return ProcessDevice()->RegSetValue(path, Name(lpValueName), dwType, lpData, cbData);
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  std::u16string path;
  if (!KeyPath(hKey, &path)) return ERROR_INVALID_HANDLE;
  return ProcessDevice()->RegDeleteValue(path, Name(lpValueName));
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  std::u16string path;
  if (!KeyPath(hKey, &path)) return ERROR_INVALID_HANDLE;
  if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;
  return ProcessDevice()->RegDeleteKey(Join(path, lpSubKey));
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcName, LPDWORD, LPWSTR lpClass,
                   LPDWORD lpcClass, LPFILETIME) {
  std::u16string path;
  if (!KeyPath(hKey, &path)) return ERROR_INVALID_HANDLE;
  if (!lpName || !lpcName) return ERROR_INVALID_PARAMETER;
  std::u16string name;
  const LONG result = ProcessDevice()->RegEnumKey(path, dwIndex, &name);
  if (result != ERROR_SUCCESS) return result;
  if (name.size() + 1 > *lpcName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcName = static_cast<DWORD>(name.size());
  if (lpClass && lpcClass && *lpcClass) {
    *lpClass = u'\0';
    *lpcClass = 0;
  }
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                   LPBYTE lpData, LPDWORD lpcbData) {
  std::u16string path;
  if (!KeyPath(hKey, &path)) return ERROR_INVALID_HANDLE;
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  const LONG result = ProcessDevice()->RegEnumValue(path, dwIndex, &name, &type, &data);
  if (result != ERROR_SUCCESS) return result;
  if (name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  if (lpData && *lpcbData < data.size()) {
    *lpcbData = static_cast<DWORD>(data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcchValueName = static_cast<DWORD>(name.size());
  if (lpType) *lpType = type;
  if (lpData && !data.empty()) std::memcpy(lpData, data.data(), data.size());
  if (lpcbData) *lpcbData = static_cast<DWORD>(data.size());
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (!LookupHandleAs<KeyObject>(hKey)) return ERROR_INVALID_HANDLE;
  RemoveHandle(hKey);
  return ERROR_SUCCESS;
}

}  // extern "C"
