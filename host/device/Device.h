// The device: registry, device manager with its drivers and real serial
// ports, named mutexes and clock. Programs reach it through a DeviceService
// bound to their process.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "DeviceClock.h"
#include "DeviceManager.h"
#include "MutexTable.h"
#include "RegistryStore.h"
#include "SerialPort.h"
#include "WindowDirectory.h"
#include "cehost/Device.h"
#include "common/DeviceService.h"

namespace cehost {

class Device : public std::enable_shared_from_this<Device> {
 public:
  // Prepares the root, loads the registry, sets the clock and binds the
  // ports. Drivers are loaded by LoadDrivers, once the process can reach
  // the device.
  static std::shared_ptr<Device> Create(const BootOptions& options, std::string* error);
  ~Device();

  void LoadDrivers() { manager_.LoadBuiltInKeys(); }

  // The device as one program sees it; it keeps the device alive, so a
  // handle left open after shutdown fails cleanly.
  std::shared_ptr<DeviceService> ServiceFor(ProcessId process);
  // Ends what a program held: device files (after the process-exit
  // notification), mutexes, windows.
  void ProcessExited(ProcessId process);
  void Shutdown();

  const std::string& Root() const { return root_; }
  RegistryStore& Registry() { return registry_; }
  DeviceManager& Manager() { return manager_; }
  MutexTable& Mutexes() { return mutexes_; }
  WindowDirectory& Windows() { return windows_; }
  DeviceClock& Clock() { return clock_; }
  SerialPort* Port(const std::string& name);

 private:
  Device(std::string root, std::string registryFile);

  const std::string root_;
  DeviceClock clock_;
  RegistryStore registry_;
  DeviceManager manager_;
  MutexTable mutexes_;
  WindowDirectory windows_;
  std::map<std::u16string, std::shared_ptr<SerialPort>> ports_;  // by lower-cased name
};

}  // namespace cehost
