#include "DeviceManager.h"

#include <pkfuncs.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "DeviceNaming.h"
#include "DriverCalls.h"
#include "DriverLibrary.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"

namespace cehost {

namespace {

constexpr char16_t kBuiltInKey[] = u"Drivers\\BuiltIn";
constexpr char16_t kActiveKey[] = u"Drivers\\Active";

bool QueryText(RegistryStore& registry, const std::u16string& key, const std::u16string& name,
               std::u16string* text) {
  DWORD type;
  std::vector<BYTE> data;
  if (registry.QueryValue(key, name, &type, &data) != ERROR_SUCCESS || type != REG_SZ) return false;
  std::u16string chars(data.size() / 2, u'\0');
  std::memcpy(chars.data(), data.data(), chars.size() * 2);
  const size_t end = chars.find(u'\0');
  *text = chars.substr(0, end);
  return true;
}

bool QueryNumber(RegistryStore& registry, const std::u16string& key, const std::u16string& name, DWORD* number) {
  DWORD type;
  std::vector<BYTE> data;
  if (registry.QueryValue(key, name, &type, &data) != ERROR_SUCCESS || type != REG_DWORD || data.size() != 4) {
    return false;
  }
  std::memcpy(number, data.data(), 4);
  return true;
}

void SetText(RegistryStore& registry, const std::u16string& key, const std::u16string& name,
             const std::u16string& text) {
  registry.SetValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    static_cast<DWORD>((text.size() + 1) * 2));
}

}  // namespace

// An activated device. Calls into its driver are counted, so that its
// deactivation waits until no thread is inside the driver any more.
struct DeviceManager::Record {
  DWORD id = 0;
  std::u16string name;
  std::u16string activeKey;
  bool ready = false;  // Init has answered; until then the name is only reserved
  std::shared_ptr<DriverLibrary> library;
  std::shared_ptr<StreamDevice> device;

  ceplatform::DriverCalls calls;
};

struct DeviceManager::OpenFile {
  ProcessId owner;
  std::shared_ptr<Record> record;
  DWORD_PTR context;
};


DeviceManager::DeviceManager(RegistryStore& registry) : registry_(registry) {}

// The active keys describe this boot only.
void DeviceManager::PrepareActiveKeys() { registry_.CreateVolatileKey(kActiveKey); }

DeviceManager::~DeviceManager() { Shutdown(); }

bool DeviceManager::AddBuiltIn(const std::u16string& name, std::shared_ptr<StreamDevice> device,
                               std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& record : devices_) {
    if (EqualsNoCase(record->name, name)) {
      *error = "the port name " + ToUtf8(name) + " is given twice";
      return false;
    }
  }
  auto record = std::make_shared<Record>();
  record->id = nextId_++;
  record->name = name;
  record->ready = true;
  record->device = std::move(device);
  devices_.push_back(record);
  return true;
}

void DeviceManager::LoadBuiltInKeys() {
  std::vector<ceplatform::BootKey> keys;
  std::u16string name;
  for (DWORD index = 0; registry_.EnumKey(kBuiltInKey, index, &name) == ERROR_SUCCESS; ++index) {
    const std::u16string key = std::u16string(kBuiltInKey) + u"\\" + name;
    std::u16string text;
    DWORD number;
    if (!QueryText(registry_, key, u"Dll", &text) || !QueryText(registry_, key, u"Prefix", &text) ||
        !QueryNumber(registry_, key, u"Index", &number)) {
      continue;
    }
    DWORD order = MAXDWORD;  // keys without an Order come last
    QueryNumber(registry_, key, u"Order", &order);
    keys.push_back({order, name});
  }
  ceplatform::SortForBoot(&keys, FoldCase);
  for (const auto& entry : keys) {
    // A key that fails to load leaves no device, as on the device; the others go on.
    Activate(std::u16string(kBuiltInKey) + u"\\" + entry.name, 0);
  }
}

std::shared_ptr<DriverLibrary> DeviceManager::LoadLibrary(const std::u16string& dll, const std::u16string& prefix) {
  const std::u16string devicePath = dll.find(u'\\') == std::u16string::npos ? u"\\Windows\\" + dll : dll;
  const std::u16string cacheKey = Lowered(devicePath) + u"|" + prefix;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto loaded = libraries_[cacheKey].lock()) return loaded;
  }
  std::string hostPath;
  DWORD unmapped = ERROR_SUCCESS;
  if (!ResolveDevicePath(devicePath, &hostPath, &unmapped)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto loaded = DriverLibrary::Load(hostPath, devicePath, prefix);
  if (!loaded) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  // Two activations may race to load the same library: keep the first.
  if (auto earlier = libraries_[cacheKey].lock()) return earlier;
  libraries_[cacheKey] = loaded;
  return loaded;
}

std::shared_ptr<DeviceManager::Record> DeviceManager::Reserve(const std::u16string& prefix, const DWORD* given) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto taken = [&](DWORD candidate) {
    const std::u16string name = ceplatform::DeviceName(prefix, candidate);
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const std::shared_ptr<Record>& r) { return EqualsNoCase(r->name, name); });
  };
  DWORD index = 0;
  if (!ceplatform::ChooseIndex(given, taken, &index)) {
    SetLastError(ERROR_DEVICE_IN_USE);
    return nullptr;
  }
  auto record = std::make_shared<Record>();
  record->id = nextId_++;
  record->name = ceplatform::DeviceName(prefix, index);
  record->activeKey = ceplatform::ActiveKey(kActiveKey, nextActiveKey_++);
  devices_.push_back(record);  // reserves the name while Init runs
  return record;
}

DWORD DeviceManager::Activate(const std::u16string& key, DWORD clientInfo) {
  if (registry_.OpenKey(key) != ERROR_SUCCESS) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  std::u16string dll;
  std::u16string prefix;
  if (!QueryText(registry_, key, u"Dll", &dll) || !QueryText(registry_, key, u"Prefix", &prefix) ||
      prefix.size() != 3) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD index = 0;
  const bool indexGiven = QueryNumber(registry_, key, u"Index", &index);

  auto record = Reserve(prefix, indexGiven ? &index : nullptr);
  if (!record) return 0;

  auto undo = [&](DWORD error) {
    registry_.DeleteKey(record->activeKey);
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.erase(std::remove(devices_.begin(), devices_.end(), record), devices_.end());
    devicesGone_.notify_all();
    SetLastError(error);
    return 0;
  };

  record->library = LoadLibrary(dll, prefix);
  if (!record->library) return undo(GetLastError());

  registry_.CreateKey(record->activeKey, nullptr);
  SetText(registry_, record->activeKey, u"Key", key);
  SetText(registry_, record->activeKey, u"Name", record->name);
  registry_.SetValue(record->activeKey, u"ClientInfo", REG_DWORD, reinterpret_cast<const BYTE*>(&clientInfo), 4);

  auto device = record->library->Init(record->activeKey);
  if (!device) return undo(ERROR_DLL_INIT_FAILED);
  std::lock_guard<std::mutex> lock(mutex_);
  record->device = std::move(device);
  record->ready = true;
  return record->id;
}

bool DeviceManager::Remove(const std::shared_ptr<Record>& record) {
  // A DeactivateDevice and the shutdown, or two at once: the first removes.
  if (!record->calls.Remove(&removalsWaiting_)) return false;
  if (record->device) record->device->Deinit();
  if (!record->activeKey.empty()) registry_.DeleteKey(record->activeKey);
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.erase(std::remove(devices_.begin(), devices_.end(), record), devices_.end());
  devicesGone_.notify_all();
  return true;
}

BOOL DeviceManager::Deactivate(DWORD device) {
  std::shared_ptr<Record> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& candidate : devices_) {
      if (candidate->id == device && candidate->ready && candidate->library) record = candidate;
    }
  }
  // A device that another thread is taking away is gone already.
  if (!record || !Remove(record)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD DeviceManager::FindActivated(const std::u16string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& record : devices_) {
    if (record->ready && record->library && EqualsNoCase(record->name, name)) return record->id;
  }
  return 0;
}

DWORD DeviceManager::Open(ProcessId owner, const std::u16string& name, DWORD access, DWORD share) {
  std::shared_ptr<Record> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& candidate : devices_) {
      if (candidate->ready && EqualsNoCase(candidate->name, name)) record = candidate;
    }
  }
  if (!record) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  DWORD_PTR context;
  {
    ceplatform::DriverCall guard(record->calls);
    if (!guard.Entered()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    context = record->device->Open(access, share);
  }
  if (context == 0) {
    // The driver refused; its reason stays in the last error, else a general failure.
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  DWORD id = nextId_++;
  files_[id] = std::make_shared<OpenFile>(OpenFile{owner, record, context});
  return id;
}

std::shared_ptr<DeviceManager::OpenFile> DeviceManager::FindFile(ProcessId owner, DWORD file) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(file);
  if (it == files_.end() || it->second->owner != owner) return nullptr;
  return it->second;
}

BOOL DeviceManager::Close(ProcessId owner, DWORD file) {
  std::shared_ptr<OpenFile> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(file);
    if (it == files_.end() || it->second->owner != owner) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    open = it->second;
    files_.erase(it);
  }
  ceplatform::DriverCall guard(open->record->calls);
  if (!guard.Entered()) return TRUE;  // the device is gone; nothing left to close
  return open->record->device->Close(open->context);
}

// Calls the driver of an open file with its open context, counted in. A
// file that is not the caller's answers failure with ERROR_INVALID_HANDLE; a
// device taken away meanwhile, with ERROR_DEVICE_REMOVED.
template <typename R, typename Call>
R DeviceManager::WithFile(ProcessId owner, DWORD file, R failure, Call call) {
  auto open = FindFile(owner, file);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failure;
  }
  ceplatform::DriverCall guard(open->record->calls);
  if (!guard.Entered()) {
    SetLastError(ERROR_DEVICE_REMOVED);
    return failure;
  }
  return call(*open->record->device, open->context);
}

BOOL DeviceManager::Read(ProcessId owner, DWORD file, void* buffer, DWORD count, DWORD* done) {
  *done = WithFile(owner, file, kFailedCount,
                   [&](StreamDevice& device, DWORD_PTR context) { return device.Read(context, buffer, count); });
  if (*done != kFailedCount) return TRUE;
  *done = 0;
  return FALSE;
}

BOOL DeviceManager::Write(ProcessId owner, DWORD file, const void* buffer, DWORD count, DWORD* done) {
  *done = WithFile(owner, file, kFailedCount,
                   [&](StreamDevice& device, DWORD_PTR context) { return device.Write(context, buffer, count); });
  if (*done != kFailedCount) return TRUE;
  *done = 0;
  return FALSE;
}

DWORD DeviceManager::Seek(ProcessId owner, DWORD file, LONG amount, DWORD method) {
  return WithFile(owner, file, kFailedCount,
                  [&](StreamDevice& device, DWORD_PTR context) { return device.Seek(context, amount, method); });
}

BOOL DeviceManager::IoControl(ProcessId owner, DWORD file, DWORD code, void* in, DWORD inSize, void* out,
                              DWORD outSize, DWORD* returned) {
  return WithFile(owner, file, BOOL{FALSE}, [&](StreamDevice& device, DWORD_PTR context) {
    return device.IOControl(context, code, static_cast<BYTE*>(in), inSize, static_cast<BYTE*>(out), outSize,
                            returned);
  });
}

void DeviceManager::ProcessExited(ProcessId process) {
  std::vector<std::shared_ptr<OpenFile>> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = files_.begin(); it != files_.end();) {
      if (it->second->owner == process) {
        held.push_back(it->second);
        it = files_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& open : held) {
    DEVICE_PSL_NOTIFY notify = ceplatform::ExitNotice(process, 0);
    ceplatform::DriverCall guard(open->record->calls);
    if (guard.Entered()) {
      open->record->device->IOControl(open->context, IOCTL_PSL_NOTIFY, reinterpret_cast<BYTE*>(&notify),
                                      sizeof notify, nullptr, 0, nullptr);
    }
  }
  for (const auto& open : held) {
    ceplatform::DriverCall guard(open->record->calls);
    if (guard.Entered()) open->record->device->Close(open->context);
  }
}

void DeviceManager::Shutdown() {
  std::map<DWORD, std::shared_ptr<OpenFile>> files;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    files.swap(files_);
  }
  for (const auto& [id, open] : files) {
    ceplatform::DriverCall guard(open->record->calls);
    if (guard.Entered()) open->record->device->Close(open->context);
  }
  // Last first; a device another thread is removing is waited for, so none
  // is left when the shutdown returns.
  for (;;) {
    std::shared_ptr<Record> last;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      auto unclaimed = [&] {
        auto it = std::find_if(devices_.rbegin(), devices_.rend(),
                               [](const std::shared_ptr<Record>& r) { return !r->calls.Removed(); });
        return it == devices_.rend() ? nullptr : *it;
      };
      auto ready = [&] { return devices_.empty() || (last = unclaimed()); };
      if (!ready()) {
        ++removalsWaiting_;
        devicesGone_.wait(lock, ready);
        --removalsWaiting_;
      }
      if (!last) break;
    }
    Remove(last);
  }
}

int DeviceManager::CallsInside(const std::u16string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& record : devices_) {
    if (record->ready && EqualsNoCase(record->name, name)) return record->calls.Inside();
  }
  return 0;
}

std::vector<std::u16string> DeviceManager::DeviceNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::u16string> names;
  for (const auto& record : devices_) {
    if (record->ready) names.push_back(record->name);
  }
  return names;
}

}  // namespace cehost
