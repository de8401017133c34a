// Frames from a program, as the device process receives them, decoded and
// answered: a frame is refused or served, never read past, and the buffers a
// device call is given are exactly as large as the sizes it is told.
#include <cstdint>
#include <cstring>

#include "common/Protocol.h"
#include "device/RequestDispatch.h"

namespace {

// A device whose calls touch every byte they are told they have.
class TouchingDevice : public cehost::DeviceService {
 public:
  LONG RegOpenKey(const std::u16string&) override { return ERROR_SUCCESS; }
  LONG RegCreateKey(const std::u16string&, DWORD* disposition) override {
    *disposition = REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
  }
  LONG RegQueryValue(const std::u16string&, const std::u16string& name, DWORD* type, std::vector<BYTE>* data) override {
    *type = REG_BINARY;
    data->assign(name.size(), 0x5A);
    return ERROR_SUCCESS;
  }
  LONG RegSetValue(const std::u16string&, const std::u16string&, DWORD, const BYTE* data, DWORD size) override {
    return Touch(data, size) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  }
  LONG RegDeleteValue(const std::u16string&, const std::u16string&) override { return ERROR_SUCCESS; }
  LONG RegDeleteKey(const std::u16string&) override { return ERROR_SUCCESS; }
  LONG RegEnumKey(const std::u16string&, DWORD index, std::u16string* name) override {
    if (index > 2) return ERROR_NO_MORE_ITEMS;
    *name = u"Key";
    return ERROR_SUCCESS;
  }
  LONG RegEnumValue(const std::u16string&, DWORD index, std::u16string* name, DWORD* type,
                    std::vector<BYTE>* data) override {
    if (index > 2) return ERROR_NO_MORE_ITEMS;
    *name = u"Value";
    *type = REG_DWORD;
    data->assign(4, 1);
    return ERROR_SUCCESS;
  }
  DWORD ActivateDevice(const std::u16string&, DWORD) override { return 7; }
  BOOL DeactivateDevice(DWORD) override { return TRUE; }
  DWORD OpenDevice(const std::u16string&, DWORD, DWORD) override { return 9; }
  BOOL CloseDevice(DWORD) override { return TRUE; }
  BOOL ReadDevice(DWORD, void* buffer, DWORD count, DWORD* done) override {
    if (count) std::memset(buffer, 0xA5, count);  // an empty read may come without a buffer
    *done = count / 2;
    return TRUE;
  }
  BOOL WriteDevice(DWORD, const void* buffer, DWORD count, DWORD* done) override {
    *done = Touch(buffer, count) ? count : 0;
    return TRUE;
  }
  DWORD SeekDevice(DWORD, LONG, DWORD) override { return 0xFFFFFFFFu; }
  BOOL IoControlDevice(DWORD, DWORD, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
    if (in) Touch(in, inSize);
    if (out && outSize) std::memset(out, 0x3C, outSize);
    if (returned) *returned = outSize;
    return TRUE;
  }
  DWORD CreateMutex(const std::u16string&, BOOL) override { return 3; }
  BOOL ReleaseMutex(DWORD) override { return TRUE; }
  BOOL CloseMutex(DWORD) override { return TRUE; }
  DWORD CreateTopWindow(const std::u16string&) override { return 0x10; }
  BOOL DestroyTopWindow(DWORD) override { return TRUE; }
  BOOL SetWindowTitle(DWORD, const std::u16string&) override { return TRUE; }
  BOOL GetWindowTitle(DWORD, std::u16string* title) override {
    *title = u"Title";
    return TRUE;
  }
  std::vector<DWORD> ListWindows() override { return {0x10, 0x14}; }
  BOOL PlaceWindow(DWORD, DWORD) override { return TRUE; }
  BOOL SetForegroundWindow(DWORD) override { return TRUE; }
  BOOL SendWindowMessage(DWORD, UINT, WPARAM, LPARAM, LRESULT* result) override {
    *result = 1;
    return TRUE;
  }
  void GetLocalTime(SYSTEMTIME* time) override { *time = SYSTEMTIME{2008, 3, 5, 7, 9, 5, 2, 0}; }
  BOOL SetLocalTime(const SYSTEMTIME&) override { return TRUE; }

 private:
  static bool Touch(const void* data, DWORD size) {
    unsigned sum = 0;
    for (DWORD i = 0; i < size; ++i) sum += static_cast<const BYTE*>(data)[i];
    return sum != 0xFFFFFFFFu;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TouchingDevice device;
  cehost::FrameReader request(std::string(reinterpret_cast<const char*>(data), size));
  std::string reply;
  bool shutdown = false;
  cehost::DispatchRequest(device, request, &reply, &shutdown);
  return 0;
}
