#include "DeviceLink.h"

#include <mutex>

#include "RemoteDevice.h"
#include "common/DeviceRoot.h"

namespace cehost {

namespace {

// The answers of a device that cannot be reached.
class Unreachable : public DeviceService {
 public:
  LONG RegOpenKey(const std::u16string&) override { return ERROR_FILE_NOT_FOUND; }
  LONG RegCreateKey(const std::u16string&, DWORD*) override { return ERROR_ACCESS_DENIED; }
  LONG RegQueryValue(const std::u16string&, const std::u16string&, DWORD*, std::vector<BYTE>*) override {
    return ERROR_FILE_NOT_FOUND;
  }
  LONG RegSetValue(const std::u16string&, const std::u16string&, DWORD, const BYTE*, DWORD) override {
    return ERROR_ACCESS_DENIED;
  }
  LONG RegDeleteValue(const std::u16string&, const std::u16string&) override { return ERROR_FILE_NOT_FOUND; }
  LONG RegDeleteKey(const std::u16string&) override { return ERROR_FILE_NOT_FOUND; }
  LONG RegEnumKey(const std::u16string&, DWORD, std::u16string*) override { return ERROR_FILE_NOT_FOUND; }
  LONG RegEnumValue(const std::u16string&, DWORD, std::u16string*, DWORD*, std::vector<BYTE>*) override {
    return ERROR_FILE_NOT_FOUND;
  }
  DWORD ActivateDevice(const std::u16string&, DWORD) override { return Refuse(ERROR_FILE_NOT_FOUND); }
  BOOL DeactivateDevice(DWORD) override { return Refuse(ERROR_INVALID_HANDLE); }
  DWORD OpenDevice(const std::u16string&, DWORD, DWORD) override { return Refuse(ERROR_FILE_NOT_FOUND); }
  BOOL CloseDevice(DWORD) override { return Refuse(ERROR_INVALID_HANDLE); }
  BOOL ReadDevice(DWORD, void*, DWORD, DWORD*) override { return Refuse(ERROR_INVALID_HANDLE); }
  BOOL WriteDevice(DWORD, const void*, DWORD, DWORD*) override { return Refuse(ERROR_INVALID_HANDLE); }
  DWORD SeekDevice(DWORD, LONG, DWORD) override {
    Refuse(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  BOOL IoControlDevice(DWORD, DWORD, void*, DWORD, void*, DWORD, DWORD*) override {
    return Refuse(ERROR_INVALID_HANDLE);
  }
  DWORD CreateMutex(const std::u16string&, BOOL) override { return Refuse(ERROR_GEN_FAILURE); }
  BOOL ReleaseMutex(DWORD) override { return Refuse(ERROR_INVALID_HANDLE); }
  BOOL CloseMutex(DWORD) override { return Refuse(ERROR_INVALID_HANDLE); }
  DWORD CreateTopWindow(const std::u16string&) override { return Refuse(ERROR_GEN_FAILURE); }
  BOOL DestroyTopWindow(DWORD) override { return Refuse(ERROR_INVALID_WINDOW_HANDLE); }
  BOOL SetWindowTitle(DWORD, const std::u16string&) override { return Refuse(ERROR_INVALID_WINDOW_HANDLE); }
  BOOL GetWindowTitle(DWORD, std::u16string*) override { return Refuse(ERROR_INVALID_WINDOW_HANDLE); }
  std::vector<DWORD> ListWindows() override { return {}; }
  BOOL PlaceWindow(DWORD, DWORD) override { return Refuse(ERROR_INVALID_WINDOW_HANDLE); }
  BOOL SetForegroundWindow(DWORD) override { return Refuse(ERROR_INVALID_WINDOW_HANDLE); }
  BOOL SendWindowMessage(DWORD, UINT, WPARAM, LPARAM, LRESULT*) override {
    return Refuse(ERROR_INVALID_WINDOW_HANDLE);
  }
  void GetLocalTime(SYSTEMTIME* time) override { *time = SYSTEMTIME{2003, 1, 3, 1, 0, 0, 0, 0}; }
  BOOL SetLocalTime(const SYSTEMTIME&) override { return Refuse(ERROR_GEN_FAILURE); }

 private:
  static DWORD Refuse(DWORD error) {
    SetLastError(error);
    return 0;
  }
};

// Lives as long as the process: threads may still call after static
// destruction has begun.
struct Link {
  std::mutex mutex;
  std::shared_ptr<DeviceService> service;
  std::shared_ptr<DeviceService> absent = std::make_shared<Unreachable>();
};

Link& TheLink() {
  static Link* link = new Link;
  return *link;
}

}  // namespace

std::shared_ptr<DeviceService> AbsentDevice() { return TheLink().absent; }

std::shared_ptr<DeviceService> ProcessDevice() {
  Link& link = TheLink();
  std::lock_guard<std::mutex> lock(link.mutex);
  if (link.service) return link.service;
  // No device of its own: the device process serving the root, once it runs.
  std::string root;
  if (FindDeviceRoot(&root)) {
    if (auto remote = RemoteDevice::Connect(root)) {
      link.service = remote;
      return remote;
    }
  }
  return link.absent;
}

void SetProcessDevice(std::shared_ptr<DeviceService> service) {
  Link& link = TheLink();
  std::lock_guard<std::mutex> lock(link.mutex);
  link.service = std::move(service);
}

}  // namespace cehost
