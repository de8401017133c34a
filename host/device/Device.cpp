#include "Device.h"

#include <unistd.h>

#include <mutex>

#include "PortBinding.h"
#include "TestSource.h"
#include "cehost/ProcessDevice.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"

namespace cehost {

namespace {

class DeviceSession : public DeviceService {
 public:
  DeviceSession(std::shared_ptr<Device> device, ProcessId process) : device_(std::move(device)), process_(process) {}

  LONG RegOpenKey(const std::u16string& key) override { return device_->Registry().OpenKey(key); }
  LONG RegCreateKey(const std::u16string& key, DWORD* disposition) override {
    return device_->Registry().CreateKey(key, disposition);
  }
  LONG RegQueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                     std::vector<BYTE>* data) override {
    return device_->Registry().QueryValue(key, name, type, data);
  }
  LONG RegSetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data,
                   DWORD size) override {
    return device_->Registry().SetValue(key, name, type, data, size);
  }
  LONG RegDeleteValue(const std::u16string& key, const std::u16string& name) override {
    return device_->Registry().DeleteValue(key, name);
  }
  LONG RegDeleteKey(const std::u16string& key) override { return device_->Registry().DeleteKey(key); }
  LONG RegEnumKey(const std::u16string& key, DWORD index, std::u16string* name) override {
    return device_->Registry().EnumKey(key, index, name);
  }
  LONG RegEnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                    std::vector<BYTE>* data) override {
    return device_->Registry().EnumValue(key, index, name, type, data);
  }

  DWORD ActivateDevice(const std::u16string& key, DWORD clientInfo) override {
    return device_->Manager().Activate(key, clientInfo);
  }
  BOOL DeactivateDevice(DWORD device) override { return device_->Manager().Deactivate(device); }
  DWORD OpenDevice(const std::u16string& name, DWORD access, DWORD share) override {
    return device_->Manager().Open(process_, name, access, share);
  }
  BOOL CloseDevice(DWORD file) override { return device_->Manager().Close(process_, file); }
  BOOL ReadDevice(DWORD file, void* buffer, DWORD count, DWORD* done) override {
    return device_->Manager().Read(process_, file, buffer, count, done);
  }
  BOOL WriteDevice(DWORD file, const void* buffer, DWORD count, DWORD* done) override {
    return device_->Manager().Write(process_, file, buffer, count, done);
  }
  DWORD SeekDevice(DWORD file, LONG amount, DWORD method) override {
    return device_->Manager().Seek(process_, file, amount, method);
  }
  BOOL IoControlDevice(DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned) override {
    return device_->Manager().IoControl(process_, file, code, in, inSize, out, outSize, returned);
  }

  DWORD CreateMutex(const std::u16string& name, BOOL initialOwner) override {
    return device_->Mutexes().Create(process_, name, initialOwner);
  }
  BOOL ReleaseMutex(DWORD mutex) override { return device_->Mutexes().Release(process_, mutex); }
  BOOL CloseMutex(DWORD mutex) override { return device_->Mutexes().Close(process_, mutex); }

  DWORD CreateTopWindow(const std::u16string& title) override {
    return device_->Windows().Create(process_, title);
  }
  BOOL DestroyTopWindow(DWORD window) override { return device_->Windows().Destroy(process_, window); }
  BOOL SetWindowTitle(DWORD window, const std::u16string& title) override {
    return device_->Windows().SetTitle(process_, window, title);
  }
  BOOL GetWindowTitle(DWORD window, std::u16string* title) override {
    return device_->Windows().GetTitle(window, title);
  }
  std::vector<DWORD> ListWindows() override { return device_->Windows().List(); }
  BOOL PlaceWindow(DWORD window, DWORD placement) override {
    return device_->Windows().Place(process_, window, placement);
  }
  BOOL SetForegroundWindow(DWORD window) override { return device_->Windows().SetForeground(process_, window); }
  BOOL SendWindowMessage(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    return device_->Windows().Send(window, message, wParam, lParam, result);
  }

  void GetLocalTime(SYSTEMTIME* time) override { device_->Clock().Get(time); }
  BOOL SetLocalTime(const SYSTEMTIME& time) override {
    if (device_->Clock().Set(time)) return TRUE;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

 private:
  const std::shared_ptr<Device> device_;
  const ProcessId process_;
};

std::mutex bootMutex;
bool booted = false;

}  // namespace

Device::Device(std::string root, std::string registryFile)
    : root_(std::move(root)), registry_(std::move(registryFile)), manager_(registry_) {}

Device::~Device() { Shutdown(); }

std::shared_ptr<Device> Device::Create(const BootOptions& options, std::string* error) {
  if (options.root.empty()) {
    *error = "no device root given";
    return nullptr;
  }
  if (!PrepareDeviceRoot(options.root, error) || !MakePrivateDirectories(options.root + "/Windows", error)) {
    return nullptr;
  }
  if (::access(options.root.c_str(), W_OK) != 0) {
    *error = "the device root " + options.root + " is not writable";
    return nullptr;
  }
  SYSTEMTIME clock{};
  if (!options.clock.empty() && !DeviceClock::Parse(options.clock, &clock)) {
    *error = "the clock '" + options.clock + "' is not a time of the form YYYY-MM-DDThh:mm:ss";
    return nullptr;
  }
  SetDeviceRoot(options.root);
  std::shared_ptr<Device> device(new Device(options.root, options.root + "/registry.reg"));
  if (!device->registry_.Load(error)) return nullptr;
  device->manager_.PrepareActiveKeys();
  if (!options.clock.empty()) device->clock_.Set(clock);
  for (const auto& port : options.ports) {
    std::u16string name;
    PortBinding binding;
    if (!ParsePortOption(port, &name, &binding, error)) return nullptr;
    auto source = MakePortSource(binding, device->clock_, error);
    if (!source) return nullptr;
    auto serial = std::make_shared<SerialPort>(std::move(source));
    if (!device->manager_.AddBuiltIn(name, serial, error)) return nullptr;
    device->ports_[Lowered(name)] = serial;
  }
  return device;
}

std::shared_ptr<DeviceService> Device::ServiceFor(ProcessId process) {
  return std::make_shared<DeviceSession>(shared_from_this(), process);
}

void Device::ProcessExited(ProcessId process) {
  manager_.ProcessExited(process);
  mutexes_.ProcessExited(process);
  windows_.ProcessExited(process);
}

void Device::Shutdown() { manager_.Shutdown(); }

SerialPort* Device::Port(const std::string& name) {
  auto it = ports_.find(Lowered(ToUtf16(name)));
  return it == ports_.end() ? nullptr : it->second.get();
}

// --- the in-process device --------------------------------------------------

InProcessDevice::InProcessDevice(std::shared_ptr<Device> device) : device_(std::move(device)) {}

std::unique_ptr<InProcessDevice> InProcessDevice::Boot(const BootOptions& options, std::string* error) {
  {
    std::lock_guard<std::mutex> lock(bootMutex);
    if (booted) {
      *error = "a device is already running in this process";
      return nullptr;
    }
    booted = true;
  }
  auto device = Device::Create(options, error);
  if (!device) {
    std::lock_guard<std::mutex> lock(bootMutex);
    booted = false;
    return nullptr;
  }
  // The program is the device process: its calls reach the device directly,
  // and so do the calls of the drivers it loads.
  SetProcessDevice(device->ServiceFor(GetCurrentProcessId()));
  if (options.loadBuiltInDrivers) device->LoadDrivers();
  return std::unique_ptr<InProcessDevice>(new InProcessDevice(std::move(device)));
}

InProcessDevice::~InProcessDevice() {
  device_->Shutdown();
  SetProcessDevice(nullptr);
  device_.reset();
  std::lock_guard<std::mutex> lock(bootMutex);
  booted = false;
}

TestPort* InProcessDevice::Port(const std::string& name) {
  SerialPort* port = device_->Port(name);
  return port ? dynamic_cast<TestSource*>(&port->Source()) : nullptr;
}

bool InProcessDevice::Deactivate(const std::string& name) {
  const DWORD id = device_->Manager().FindActivated(ToUtf16(name));
  return id != 0 && device_->Manager().Deactivate(id);
}

unsigned long long InProcessDevice::LostBytes(const std::string& name) {
  SerialPort* port = device_->Port(name);
  return port ? port->LostBytes() : 0;
}

}  // namespace cehost
