#include "MutexTable.h"

namespace cehost {

DWORD MutexTable::Create(ProcessId process, const std::u16string& name, BOOL initialOwner) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<Mutex> mutex;
  if (!name.empty()) mutex = named_[name].lock();  // names are case-sensitive, as on the device
  const bool existed = mutex != nullptr;
  if (!mutex) {
    mutex = std::make_shared<Mutex>();
    mutex->name = name;
    if (initialOwner) mutex->owner = process;
    if (!name.empty()) named_[name] = mutex;
  }
  ++mutex->handles;
  const DWORD id = next_++;
  handles_[id] = Handle{process, mutex};
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return id;
}

BOOL MutexTable::Release(ProcessId process, DWORD handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.process != process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.mutex->owner != process) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  it->second.mutex->owner = 0;
  return TRUE;
}

void MutexTable::Drop(std::map<DWORD, Handle>::iterator it) {
  auto mutex = it->second.mutex;
  handles_.erase(it);
  if (--mutex->handles == 0 && !mutex->name.empty()) named_.erase(mutex->name);
}

BOOL MutexTable::Close(ProcessId process, DWORD handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.process != process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Drop(it);
  return TRUE;
}

void MutexTable::ProcessExited(ProcessId process) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = handles_.begin(); it != handles_.end();) {
    auto next = std::next(it);
    if (it->second.process == process) {
      if (it->second.mutex->owner == process) it->second.mutex->owner = 0;  // abandoned
      Drop(it);
    }
    it = next;
  }
}

}  // namespace cehost
