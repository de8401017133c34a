// A stream driver library loaded by the device manager, and the device
// instances it serves. One library is loaded once per device however many
// instances use it, so its module-wide values are shared by them all.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "StreamDevice.h"

namespace cehost {

class DriverLibrary {
 public:
  // Loads the library file (a host path) and finds the entry points that
  // carry the prefix ("COM_Init", ...). Calls DllMain with DLL_PROCESS_ATTACH.
  // nullptr with the last error set when the file is missing, cannot be
  // loaded or lacks Init and Deinit.
  static std::shared_ptr<DriverLibrary> Load(const std::string& hostPath, const std::u16string& devicePath,
                                             const std::u16string& prefix);
  ~DriverLibrary();  // DllMain with DLL_PROCESS_DETACH, then unload

  // Init with the active key's path: the instance, or nullptr when Init
  // answered 0.
  std::unique_ptr<StreamDevice> Init(const std::u16string& activeKey);

 private:
  class Instance;
  struct EntryPoints;

  DriverLibrary() = default;

  void* library_ = nullptr;
  HMODULE module_ = nullptr;
  std::unique_ptr<EntryPoints> entries_;
};

}  // namespace cehost
