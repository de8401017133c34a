// The program side of the host: the process's handle table and the kernel
// objects behind handles.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "common/DeviceRoot.h"
#include "common/ErrorFromErrno.h"

namespace cehost {

// What a thread waiting on several things at once is told by each: that it
// may have changed. Rung under the object's own lock, so it only notes it.
class WaitAlarm {
 public:
  virtual ~WaitAlarm() = default;
  virtual void Ring() = 0;
};

// A kernel object reached through a HANDLE (or HKEY, HMODULE). Calls that do
// not apply to a kind fail with ERROR_INVALID_HANDLE.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once, when the last handle to the object is closed.
  virtual BOOL Close() { return TRUE; }
  // WaitForSingleObject: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD Wait(DWORD milliseconds);
  // For a wait on this object beside others (MsgWaitForMultipleObjectsEx):
  // WAIT_OBJECT_0 when it is signalled, taken as a wait takes it (an
  // auto-reset event resets); WAIT_TIMEOUT when it is not, and then the
  // alarm rings at its next signal until Unwatch; WAIT_FAILED, with the
  // last error, for a kind that cannot be waited on.
  virtual DWORD TakeOrWatch(WaitAlarm* alarm);
  virtual void Unwatch(WaitAlarm*) {}
};

// Process-wide handle table. Handles are small multiples of 4, as on the
// device; a lookup holds the object alive while a call uses it, so a close on
// another thread never frees an object in use.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Sets the last error and answers FALSE: the usual failure exit of a call.
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// A device path's host path; false with the reason as the last error.
inline bool MapDevicePath(std::u16string_view path, std::string* hostPath, bool wildcards = false) {
  DWORD error = ERROR_SUCCESS;
  if (ResolveDevicePath(path, hostPath, &error, wildcards)) return true;
  SetLastError(error);
  return false;
}

}  // namespace cehost
