#include "DeviceManager.h"
#include "DeviceNaming.h"
#include "DevicePath.h"
#include "DriverCalls.h"

#include <pkfuncs.h>
#include <wctype.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace coredll {

namespace {

const WCHAR BUILT_IN_KEY[] = L"Drivers\\BuiltIn";
const WCHAR ACTIVE_KEY[] = L"Drivers\\Active";
// The device's own serial driver: its ports are the desktop's serial ports
// of the same names, which Wine binds to real lines.
const WCHAR SERIAL_DLL[] = L"Serial.Dll";

// The stream interface entry points of one device's driver.
typedef DWORD_PTR (*InitEntry)(DWORD_PTR);
typedef BOOL (*DeinitEntry)(DWORD_PTR);
typedef DWORD_PTR (*OpenEntry)(DWORD_PTR, DWORD, DWORD);
typedef BOOL (*CloseEntry)(DWORD_PTR);
typedef DWORD (*ReadEntry)(DWORD_PTR, LPVOID, DWORD);
typedef DWORD (*WriteEntry)(DWORD_PTR, LPCVOID, DWORD);
typedef DWORD (*SeekEntry)(DWORD_PTR, LONG, DWORD);
typedef BOOL (*ControlEntry)(DWORD_PTR, DWORD, PBYTE, DWORD, PBYTE, DWORD, PDWORD);

// An activated device. Calls into its driver are counted, so that its
// deactivation waits until no thread is inside the driver any more.
struct Device {
  DWORD id = 0;
  std::wstring name;
  std::wstring activeKey;
  bool keyMade = false;  // the active key is this program's, made by it
  bool ready = false;  // Init has answered; until then the name is only reserved
  HMODULE library = NULL;
  DWORD_PTR context = 0;
  DeinitEntry deinit = NULL;
  OpenEntry open = NULL;
  CloseEntry close = NULL;
  ReadEntry read = NULL;
  WriteEntry write = NULL;
  SeekEntry seek = NULL;
  ControlEntry control = NULL;

  ceplatform::DriverCalls calls;
};

struct OpenFile {
  std::shared_ptr<Device> device;
  DWORD_PTR context;
};

std::mutex managerMutex;
std::vector<std::shared_ptr<Device>> devices;  // in activation order
std::map<HANDLE, std::shared_ptr<OpenFile>> files;
std::vector<std::wstring> desktopPorts;  // "COM5:": the device's own UARTs
DWORD nextId = 1;
unsigned nextActiveKey = 1;


BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool SameName(const std::wstring& a, LPCWSTR b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (towlower(a[i]) != towlower(b[i])) return false;
  }
  return i == a.size() && b[i] == 0;
}

// CE's registry ignores samDesired; the desktop's grants only what is asked.
LONG OpenKey(LPCWSTR path, HKEY* key) {
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key);
}

bool QueryText(HKEY key, LPCWSTR name, std::wstring* text) {
  WCHAR buffer[MAX_PATH];
  DWORD size = sizeof buffer - sizeof(WCHAR), type = 0;
  if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  buffer[size / sizeof(WCHAR)] = 0;
  *text = buffer;
  return true;
}

bool QueryNumber(HKEY key, LPCWSTR name, DWORD* number) {
  DWORD size = sizeof *number, type = 0;
  return RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(number), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof *number;
}

void SetText(HKEY key, LPCWSTR name, const std::wstring& text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

// The path of the next active key of this program. Manager lock held.
std::wstring NextActiveKey() { return ceplatform::ActiveKey(ACTIVE_KEY, nextActiveKey++); }

// A record with its name and active key, listed so the name is taken while
// its driver's Init runs: the given index, or the first free of 1 to 9.
// NULL with ERROR_DEVICE_IN_USE.
std::shared_ptr<Device> Reserve(const std::wstring& prefix, const DWORD* given) {
  std::lock_guard<std::mutex> lock(managerMutex);
  auto taken = [&](DWORD candidate) {
    const std::wstring name = ceplatform::DeviceName(prefix, candidate);
    return std::any_of(devices.begin(), devices.end(),
                       [&](const std::shared_ptr<Device>& d) { return SameName(d->name, name.c_str()); });
  };
  DWORD index = 0;
  if (!ceplatform::ChooseIndex(given, taken, &index)) {
    SetLastError(ERROR_DEVICE_IN_USE);
    return nullptr;
  }
  auto device = std::make_shared<Device>();
  device->id = nextId++;
  device->name = ceplatform::DeviceName(prefix, index);
  device->activeKey = NextActiveKey();
  devices.push_back(device);
  return device;
}

void Forget(const std::shared_ptr<Device>& device) {
  std::lock_guard<std::mutex> lock(managerMutex);
  devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
}

// The driver's entry points, found by the device's prefix.
bool FindEntries(Device& device, const std::wstring& prefix, InitEntry* init) {
  const std::string narrow(prefix.begin(), prefix.end());
  auto entry = [&](const char* name) {
    return reinterpret_cast<void (*)()>(GetProcAddress(device.library, (narrow + "_" + name).c_str()));
  };
  *init = reinterpret_cast<InitEntry>(entry("Init"));
  device.deinit = reinterpret_cast<DeinitEntry>(entry("Deinit"));
  device.open = reinterpret_cast<OpenEntry>(entry("Open"));
  device.close = reinterpret_cast<CloseEntry>(entry("Close"));
  device.read = reinterpret_cast<ReadEntry>(entry("Read"));
  device.write = reinterpret_cast<WriteEntry>(entry("Write"));
  device.seek = reinterpret_cast<SeekEntry>(entry("Seek"));
  device.control = reinterpret_cast<ControlEntry>(entry("IOControl"));
  return *init && device.deinit;
}

HANDLE Failed(const std::shared_ptr<Device>& device, DWORD error) {
  if (device->library) FreeLibrary(device->library);
  if (device->keyMade) RegDeleteKeyW(HKEY_LOCAL_MACHINE, device->activeKey.c_str());
  Forget(device);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

HANDLE ActivateKey(LPCWSTR key, DWORD clientInfo) {
  HKEY driverKey;
  if (OpenKey(key, &driverKey) != ERROR_SUCCESS) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::wstring dll, prefix;
  DWORD index = 0;
  const bool named = QueryText(driverKey, L"Dll", &dll) && QueryText(driverKey, L"Prefix", &prefix);
  const bool indexGiven = QueryNumber(driverKey, L"Index", &index);
  RegCloseKey(driverKey);
  if (!named || prefix.size() != 3) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto device = Reserve(prefix, indexGiven ? &index : NULL);
  if (!device) return INVALID_HANDLE_VALUE;

  // A bare file name is in the device's system directory, \Windows.
  const std::wstring path = dll.find(L'\\') == std::wstring::npos ? L"\\Windows\\" + dll : dll;
  device->library = LoadLibraryW(DevicePath(path.c_str()).Get());
  if (!device->library) return Failed(device, ERROR_MOD_NOT_FOUND);
  InitEntry init;
  if (!FindEntries(*device, prefix, &init)) return Failed(device, ERROR_PROC_NOT_FOUND);

  // Every program of the prefix keeps its active keys under Drivers\Active:
  // a key another program made is skipped, never taken over.
  HKEY active;
  for (DWORD made = 0;;) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, device->activeKey.c_str(), 0, NULL, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                        NULL, &active, &made) != ERROR_SUCCESS) {
      return Failed(device, ERROR_GEN_FAILURE);
    }
    if (made == REG_CREATED_NEW_KEY) break;
    RegCloseKey(active);
    std::lock_guard<std::mutex> lock(managerMutex);
    device->activeKey = NextActiveKey();
  }
  device->keyMade = true;
  SetText(active, L"Key", key);
  SetText(active, L"Name", device->name);
  RegSetValueExW(active, L"ClientInfo", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&clientInfo), sizeof clientInfo);
  RegCloseKey(active);

  // Init takes the active key's path, as on the device.
  const DWORD_PTR context = init(reinterpret_cast<DWORD_PTR>(device->activeKey.c_str()));
  if (!context) return Failed(device, ERROR_DLL_INIT_FAILED);
  {
    std::lock_guard<std::mutex> lock(managerMutex);
    device->context = context;
    device->ready = true;
  }
  SetEvent(DeviceActivated());
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(device->id));
}

// A ready device by name, or by its activation's id.
std::shared_ptr<Device> FindDevice(LPCWSTR name, DWORD id) {
  std::lock_guard<std::mutex> lock(managerMutex);
  for (const auto& device : devices) {
    if (device->ready && (name ? SameName(device->name, name) : device->id == id)) return device;
  }
  return nullptr;
}

std::shared_ptr<OpenFile> FindFile(HANDLE file) {
  std::lock_guard<std::mutex> lock(managerMutex);
  auto it = files.find(file);
  return it == files.end() ? nullptr : it->second;
}

}  // namespace

HANDLE DeviceActivated() {
  static const HANDLE event = CreateEventW(NULL, FALSE, FALSE, NULL);
  return event;
}

bool DeviceExists(LPCWSTR name) { return FindDevice(name, 0) != nullptr; }

// The driver keys' activation runs once; a driver's Init that opens a key or
// activates a device meanwhile, on the booting thread, goes on at once, and
// other threads wait until the boot is done.
void BootDevices() {
  static std::recursive_mutex bootMutex;
  static bool booted = false;
  std::lock_guard<std::recursive_mutex> lock(bootMutex);
  if (booted) return;
  booted = true;
  {
    // The active keys are volatile: they go when the prefix's server ends,
    // and each program removes its own. Every key below a volatile one must
    // be volatile too on the desktop, so Drivers is made a lasting key first.
    HKEY active;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Drivers", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &active, NULL) ==
        ERROR_SUCCESS) {
      RegCloseKey(active);
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ACTIVE_KEY, 0, NULL, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, NULL, &active,
                        NULL) == ERROR_SUCCESS) {
      RegCloseKey(active);
    }
    HKEY builtIn;
    if (OpenKey(BUILT_IN_KEY, &builtIn) != ERROR_SUCCESS) return;
    std::vector<ceplatform::BootKey> keys;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(builtIn, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
      HKEY key;
      if (RegOpenKeyExW(builtIn, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
      std::wstring dll, prefix;
      DWORD number, order = MAXDWORD;  // keys without an Order come last
      if (QueryText(key, L"Dll", &dll) && QueryText(key, L"Prefix", &prefix) && QueryNumber(key, L"Index", &number)) {
        QueryNumber(key, L"Order", &order);
        if (_wcsicmp(dll.c_str(), SERIAL_DLL) == 0 && _wcsicmp(prefix.c_str(), L"COM") == 0) {
          std::lock_guard<std::mutex> lock(managerMutex);
          desktopPorts.push_back(L"COM" + std::to_wstring(number) + L":");
        } else {
          keys.push_back({order, name});
        }
      }
      RegCloseKey(key);
    }
    RegCloseKey(builtIn);
    ceplatform::SortForBoot(&keys, towlower);
    // A key that fails to load leaves no device, as on the device; the others go on.
    for (const auto& entry : keys) ActivateKey((std::wstring(BUILT_IN_KEY) + L"\\" + entry.name).c_str(), 0);
  }
}

HANDLE Activate(LPCWSTR key, DWORD clientInfo) {
  if (!key) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  BootDevices();
  return ActivateKey(key, clientInfo);
}

BOOL Deactivate(HANDLE handle) {
  const ULONG_PTR id = reinterpret_cast<ULONG_PTR>(handle);
  auto device = handle == INVALID_HANDLE_VALUE || id == 0 || id > MAXDWORD ? nullptr
                                                                            : FindDevice(NULL, static_cast<DWORD>(id));
  if (!device) return Fail(ERROR_INVALID_HANDLE);
  if (!device->calls.Remove()) return Fail(ERROR_INVALID_HANDLE);  // another thread takes it away
  device->deinit(device->context);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, device->activeKey.c_str());
  Forget(device);
  FreeLibrary(device->library);
  return TRUE;
}

bool IsDeviceName(LPCWSTR name) {
  if (!name) return false;
  for (int i = 0; i < 3; ++i) {
    if (!iswalpha(name[i])) return false;
  }
  return iswdigit(name[3]) && name[4] == L':' && name[5] == 0;
}

HANDLE OpenDevice(LPCWSTR name, DWORD access, DWORD share) {
  BootDevices();
  auto device = FindDevice(name, 0);
  if (!device) return NULL;
  DWORD_PTR context = 0;
  {
    ceplatform::DriverCall guard(device->calls);
    if (!guard.Entered() || !device->open) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    context = device->open(device->context, access, share);
  }
  if (!context) {
    // The driver's reason stays in the last error, else a general failure.
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  // A kernel object of the desktop's stands for the file, so its handle
  // never equals one of the desktop's own files.
  const HANDLE handle = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (!handle) {
    // No handle to give: the driver's open is undone, its reason kept.
    const DWORD error = GetLastError();
    ceplatform::DriverCall guard(device->calls);
    if (guard.Entered() && device->close) device->close(context);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(managerMutex);
  files[handle] = std::make_shared<OpenFile>(OpenFile{device, context});
  return handle;
}

bool IsDesktopPort(LPCWSTR name) {
  BootDevices();
  std::lock_guard<std::mutex> lock(managerMutex);
  return std::any_of(desktopPorts.begin(), desktopPorts.end(),
                     [&](const std::wstring& port) { return SameName(port, name); });
}

bool IsDeviceFile(HANDLE file) { return FindFile(file) != nullptr; }

BOOL CloseDevice(HANDLE file) {
  std::shared_ptr<OpenFile> open;
  {
    std::lock_guard<std::mutex> lock(managerMutex);
    auto it = files.find(file);
    if (it == files.end()) return Fail(ERROR_INVALID_HANDLE);
    open = it->second;
    files.erase(it);
  }
  CloseHandle(file);
  ceplatform::DriverCall guard(open->device->calls);
  if (!guard.Entered() || !open->device->close) return TRUE;  // the device is gone; nothing left to close
  return open->device->close(open->context);
}

namespace {

// Calls the driver of an open file; a device taken away meanwhile answers
// ERROR_DEVICE_REMOVED.
template <typename R, typename Call>
R WithFile(HANDLE file, R failure, Call call) {
  auto open = FindFile(file);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failure;
  }
  ceplatform::DriverCall guard(open->device->calls);
  if (!guard.Entered()) {
    SetLastError(ERROR_DEVICE_REMOVED);
    return failure;
  }
  return call(*open->device, open->context);
}

}  // namespace

BOOL ReadDevice(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done) {
  if (done) *done = 0;
  const DWORD read = WithFile(file, DWORD{0xFFFFFFFF}, [&](Device& device, DWORD_PTR context) {
    if (!device.read) return (SetLastError(ERROR_INVALID_FUNCTION), DWORD{0xFFFFFFFF});
    return device.read(context, buffer, count);
  });
  if (read == 0xFFFFFFFF) return FALSE;
  if (done) *done = read;
  return TRUE;
}

BOOL WriteDevice(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done) {
  if (done) *done = 0;
  const DWORD written = WithFile(file, DWORD{0xFFFFFFFF}, [&](Device& device, DWORD_PTR context) {
    if (!device.write) return (SetLastError(ERROR_INVALID_FUNCTION), DWORD{0xFFFFFFFF});
    return device.write(context, buffer, count);
  });
  if (written == 0xFFFFFFFF) return FALSE;
  if (done) *done = written;
  return TRUE;
}

DWORD SeekDevice(HANDLE file, LONG amount, DWORD method) {
  return WithFile(file, DWORD{0xFFFFFFFF}, [&](Device& device, DWORD_PTR context) {
    if (!device.seek) return (SetLastError(ERROR_INVALID_FUNCTION), DWORD{0xFFFFFFFF});
    return device.seek(context, amount, method);
  });
}

BOOL ControlDevice(HANDLE file, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
  return WithFile(file, BOOL{FALSE}, [&](Device& device, DWORD_PTR context) {
    if (!device.control) return Fail(ERROR_INVALID_FUNCTION);
    return device.control(context, code, static_cast<PBYTE>(in), inSize, static_cast<PBYTE>(out), outSize,
                          returned);
  });
}

void ProcessExiting() {
  std::map<HANDLE, std::shared_ptr<OpenFile>> held;
  {
    std::lock_guard<std::mutex> lock(managerMutex);
    held.swap(files);
  }
  DEVICE_PSL_NOTIFY notify = ceplatform::ExitNotice(GetCurrentProcessId(), GetCurrentThreadId());
  for (const auto& [handle, open] : held) {
    ceplatform::DriverCall guard(open->device->calls);
    if (guard.Entered() && open->device->control) {
      open->device->control(open->context, IOCTL_PSL_NOTIFY, reinterpret_cast<PBYTE>(&notify), sizeof notify, NULL,
                            0, NULL);
    }
  }
  for (const auto& [handle, open] : held) {
    ceplatform::DriverCall guard(open->device->calls);
    if (guard.Entered() && open->device->close) open->device->close(open->context);
    CloseHandle(handle);
  }
  // The program's active keys go with it; the other programs' stay.
  std::lock_guard<std::mutex> lock(managerMutex);
  for (const auto& device : devices) {
    if (device->keyMade) RegDeleteKeyW(HKEY_LOCAL_MACHINE, device->activeKey.c_str());
  }
}

}  // namespace coredll
