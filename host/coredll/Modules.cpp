#include "cehost/ProcessDevice.h"

#include <dlfcn.h>
#include <pkfuncs.h>
#include <unistd.h>

#include <climits>
#include <algorithm>
#include <cstring>

#include "Kernel.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"

namespace cehost {

namespace {

class ModuleObject : public KernelObject {
 public:
  ModuleObject(void* library, std::u16string devicePath) : library(library), devicePath(std::move(devicePath)) {}
  void* const library;  // RTLD_DEFAULT for the core library: every platform call of the process
  const std::u16string devicePath;
};

HMODULE CoreLibrary() {
  static const HMODULE handle = static_cast<HMODULE>(
      InsertHandle(std::make_shared<ModuleObject>(RTLD_DEFAULT, u"\\Windows\\coredll.dll")));
  return handle;
}

bool IsCoreLibrary(std::u16string_view name) {
  return EqualsNoCase(name, u"coredll") || EqualsNoCase(name, u"coredll.dll");
}

bool ProgramPath(std::u16string* devicePath) {
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return false;
  return ToDevicePath(std::string(exe, static_cast<size_t>(n)), devicePath);
}

// The program itself: its resources and its file name.
HMODULE ProgramModule() {
  static const HMODULE handle = [] {
    std::u16string path;
    ProgramPath(&path);
    return static_cast<HMODULE>(InsertHandle(std::make_shared<ModuleObject>(RTLD_DEFAULT, path)));
  }();
  return handle;
}

}  // namespace

HMODULE RegisterModule(void* library, const std::u16string& devicePath) {
  return static_cast<HMODULE>(InsertHandle(std::make_shared<ModuleObject>(library, devicePath)));
}

void UnregisterModule(HMODULE module) { RemoveHandle(module); }

}  // namespace cehost

using namespace cehost;

extern "C" {

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (!lpModuleName) return ProgramModule();
  if (IsCoreLibrary(lpModuleName)) return CoreLibrary();
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// The core library exports every platform call by name, as coredll does.
FARPROC GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
  auto module = LookupHandleAs<ModuleObject>(hModule);
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!lpProcName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* address = ::dlsym(module->library, ToUtf8(lpProcName).c_str());
  if (!address) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(address);
}

// The host never sends per-thread notifications to a library; the call is
// accepted for any loaded module.
BOOL DisableThreadLibraryCalls(HMODULE hLibModule) {
  if (!LookupHandleAs<ModuleObject>(hLibModule)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::u16string path;
  if (!hModule) {
    if (!ProgramPath(&path)) {
      SetLastError(ERROR_FILE_NOT_FOUND);  // the program does not lie inside the device root
      return 0;
    }
  } else {
    auto module = LookupHandleAs<ModuleObject>(hModule);
    if (!module) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    path = module->devicePath;
  }
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const DWORD copied = static_cast<DWORD>(std::min<size_t>(path.size(), nSize - 1));
  std::memcpy(lpFilename, path.data(), copied * sizeof(WCHAR));
  lpFilename[copied] = u'\0';
  if (copied < path.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return copied;
}

}  // extern "C"
