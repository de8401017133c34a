// Device files and the device manager's calls, carried to the device.
#include <pkfuncs.h>

#include "DeviceLink.h"
#include "StreamObject.h"

namespace cehost {

namespace {

class DeviceFileObject : public StreamObject {
 public:
  DeviceFileObject(std::shared_ptr<DeviceService> device, DWORD id) : device_(std::move(device)), id_(id) {}

  BOOL Close() override { return device_->CloseDevice(id_); }
  BOOL Read(void* buffer, DWORD count, DWORD* done) override { return device_->ReadDevice(id_, buffer, count, done); }
  BOOL Write(const void* buffer, DWORD count, DWORD* done) override {
    return device_->WriteDevice(id_, buffer, count, done);
  }
  // A device has no position of its own: the driver's Seek answers, and a
  // high part is not passed on.
  DWORD Seek(LONG low, PLONG, DWORD method) override { return device_->SeekDevice(id_, low, method); }
  BOOL IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
    return device_->IoControlDevice(id_, code, in, inSize, out, outSize, returned);
  }

 private:
  const std::shared_ptr<DeviceService> device_;
  const DWORD id_;
};

}  // namespace

HANDLE OpenDeviceFile(const std::u16string& name, DWORD access, DWORD share) {
  auto device = ProcessDevice();
  const DWORD id = device->OpenDevice(name, access, share);
  if (id == 0) return INVALID_HANDLE_VALUE;
  return InsertHandle(std::make_shared<DeviceFileObject>(device, id));
}

}  // namespace cehost

using namespace cehost;

extern "C" {

// The answer is the device manager's number for the device, not a kernel
// handle: it only serves DeactivateDevice, as on the device.
HANDLE ActivateDevice(LPCWSTR lpszDevKey, DWORD dwClientInfo) {
  if (!lpszDevKey) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const DWORD id = ProcessDevice()->ActivateDevice(lpszDevKey, dwClientInfo);
  if (id == 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(id));
}

BOOL DeactivateDevice(HANDLE hDevice) {
  const ULONG_PTR id = reinterpret_cast<ULONG_PTR>(hDevice);
  if (hDevice == INVALID_HANDLE_VALUE || id == 0 || id > MAXDWORD) return Fail(ERROR_INVALID_HANDLE);
  return ProcessDevice()->DeactivateDevice(static_cast<DWORD>(id));
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED) {
  auto stream = LookupHandleAs<StreamObject>(hDevice);
  if (!stream) return Fail(ERROR_INVALID_HANDLE);
  return stream->IoControl(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                           lpBytesReturned);
}

}  // extern "C"
