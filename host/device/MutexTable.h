// The device's named mutexes. A mutex lives while any program holds a handle
// to it; a program's handles and ownership end with the program.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/DeviceService.h"

namespace cehost {

class MutexTable {
 public:
  // A handle id; the last error is ERROR_ALREADY_EXISTS when the name was
  // taken (the mutex is then opened, not owned), else ERROR_SUCCESS.
  DWORD Create(ProcessId process, const std::u16string& name, BOOL initialOwner);
  BOOL Release(ProcessId process, DWORD handle);
  BOOL Close(ProcessId process, DWORD handle);
  void ProcessExited(ProcessId process);

 private:
  struct Mutex {
    std::u16string name;
    ProcessId owner = 0;  // ownership is kept per program: no program here waits on its own mutex
    int handles = 0;
  };
  struct Handle {
    ProcessId process;
    std::shared_ptr<Mutex> mutex;
  };
  void Drop(std::map<DWORD, Handle>::iterator it);

  std::mutex mutex_;
  DWORD next_ = 1;
  std::map<DWORD, Handle> handles_;
  std::map<std::u16string, std::weak_ptr<Mutex>> named_;
};

}  // namespace cehost
