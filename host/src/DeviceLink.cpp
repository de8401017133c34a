#include "DeviceLink.h"

#include <mutex>

namespace cehost {

namespace {

// The answers of a device that cannot be reached.
class AbsentDevice : public DeviceService {
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
  void GetLocalTime(SYSTEMTIME* time) override { *time = SYSTEMTIME{2003, 1, 3, 1, 0, 0, 0, 0}; }
  BOOL SetLocalTime(const SYSTEMTIME&) override { return Refuse(ERROR_GEN_FAILURE); }

 private:
  static DWORD Refuse(DWORD error) {
    SetLastError(error);
    return 0;
  }
};

std::mutex linkMutex;
std::shared_ptr<DeviceService> link;

}  // namespace

std::shared_ptr<DeviceService> ProcessDevice() {
  std::lock_guard<std::mutex> lock(linkMutex);
  if (!link) link = std::make_shared<AbsentDevice>();
  return link;
}

void SetProcessDevice(std::shared_ptr<DeviceService> service) {
  std::lock_guard<std::mutex> lock(linkMutex);
  link = std::move(service);
}

}  // namespace cehost
