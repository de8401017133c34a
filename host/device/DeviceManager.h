// The device manager: activates drivers from registry keys, names their
// devices, and carries every call on an open device file to its driver on
// the calling thread. Driver calls never run under the manager's lock, so a
// driver's Init may activate another device and a blocking read never stalls
// other callers.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RegistryStore.h"
#include "StreamDevice.h"
#include "common/DeviceService.h"

namespace cehost {

class DriverLibrary;

class DeviceManager {
 public:
  // Driver libraries are loaded from the device's system directory.
  explicit DeviceManager(RegistryStore& registry);
  ~DeviceManager();

  // Starts the active keys of this boot, once the registry is loaded.
  void PrepareActiveKeys();

  // A device of the device itself (a real serial port), named e.g. "COM5:".
  bool AddBuiltIn(const std::u16string& name, std::shared_ptr<StreamDevice> device, std::string* error);

  // Activates every key under Drivers\BuiltIn that names a driver, ordered by
  // its Order value, then by key name, as the device does at boot.
  void LoadBuiltInKeys();

  DWORD Activate(const std::u16string& key, DWORD clientInfo);
  BOOL Deactivate(DWORD device);
  // The id of the activated device with this name, or 0.
  DWORD FindActivated(const std::u16string& name) const;

  DWORD Open(ProcessId owner, const std::u16string& name, DWORD access, DWORD share);
  BOOL Close(ProcessId owner, DWORD file);
  BOOL Read(ProcessId owner, DWORD file, void* buffer, DWORD count, DWORD* done);
  BOOL Write(ProcessId owner, DWORD file, const void* buffer, DWORD count, DWORD* done);
  DWORD Seek(ProcessId owner, DWORD file, LONG amount, DWORD method);
  BOOL IoControl(ProcessId owner, DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned);

  // The process-exit notification to every driver the process holds open,
  // then the close of those files.
  void ProcessExited(ProcessId process);

  // Closes every open file, then deactivates every device, last first.
  void Shutdown();

  // Names of the devices that exist now.
  std::vector<std::u16string> DeviceNames() const;

  // Threads that wait now for a device to be taken away: for the last call
  // to leave its driver, or for another thread's removal to end. What the
  // tests of those waits watch.
  int RemovalsWaiting() const { return removalsWaiting_.load(); }
  // Calls inside the driver of the device of that name now (0 when there is
  // none): how those tests know that a call is inside before they remove.
  int CallsInside(const std::u16string& name) const;

 private:
  struct Record;
  struct OpenFile;

  std::shared_ptr<OpenFile> FindFile(ProcessId owner, DWORD file) const;
  template <typename R, typename Call>
  R WithFile(ProcessId owner, DWORD file, R failure, Call call);
  // A record with its name and active key, listed so the name is taken
  // while its driver's Init runs; the given index, or the first free of 1
  // to 9. nullptr with ERROR_DEVICE_IN_USE.
  std::shared_ptr<Record> Reserve(const std::u16string& prefix, const DWORD* index);
  std::shared_ptr<DriverLibrary> LoadLibrary(const std::u16string& dll, const std::u16string& prefix);
  // Deinitialises the device once no call is inside its driver and forgets
  // it; false, doing nothing, when another thread removes it already.
  bool Remove(const std::shared_ptr<Record>& record);

  RegistryStore& registry_;

  mutable std::mutex mutex_;
  DWORD nextId_ = 1;
  unsigned nextActiveKey_ = 1;
  std::vector<std::shared_ptr<Record>> devices_;  // in activation order
  std::condition_variable devicesGone_;           // a record left devices_
  std::atomic<int> removalsWaiting_{0};
  std::map<DWORD, std::shared_ptr<OpenFile>> files_;
  std::map<std::u16string, std::weak_ptr<DriverLibrary>> libraries_;  // by lower-cased file name
};

}  // namespace cehost
