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

// A kernel object reached through a HANDLE (or HKEY, HMODULE). Calls that do
// not apply to a kind fail with ERROR_INVALID_HANDLE.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once, when the last handle to the object is closed.
  virtual BOOL Close() { return TRUE; }
  // WaitForSingleObject: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD Wait(DWORD milliseconds);
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
