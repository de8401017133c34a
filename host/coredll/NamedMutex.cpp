// Named mutexes: kernel objects of the device, shared by its programs.
#include "DeviceLink.h"
#include "Kernel.h"

namespace cehost {

namespace {

class MutexObject : public KernelObject {
 public:
  MutexObject(std::shared_ptr<DeviceService> device, DWORD id) : device(std::move(device)), id(id) {}
  BOOL Close() override { return device->CloseMutex(id); }
  // Nothing in this system waits on a mutex; the host does not offer it.
  DWORD Wait(DWORD) override {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  const std::shared_ptr<DeviceService> device;
  const DWORD id;
};

}  // namespace

}  // namespace cehost

using namespace cehost;

extern "C" {

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  auto device = ProcessDevice();
  const DWORD id = device->CreateMutex(lpName ? std::u16string(lpName) : std::u16string(), bInitialOwner);
  if (id == 0) return nullptr;
  const DWORD error = GetLastError();  // ERROR_ALREADY_EXISTS must reach the caller
  HANDLE handle = InsertHandle(std::make_shared<MutexObject>(device, id));
  SetLastError(error);
  return handle;
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupHandleAs<MutexObject>(hMutex);
  if (!mutex) return Fail(ERROR_INVALID_HANDLE);
  return mutex->device->ReleaseMutex(mutex->id);
}

}  // extern "C"
