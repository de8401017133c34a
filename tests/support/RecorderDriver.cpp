// Recorder.Dll: a stream driver for tests of the device manager's calls into
// drivers. Prefix REC. It keeps what reaches it, in order, under
// HKLM\Recorder as the text value Calls: "open", "notify PID" for a
// process-exit notice, "close". Its reads fill the buffer with 'Z'; after
// the control request REC_CLAIM they answer the count asked for and write
// nothing, as a faulty driver might.
#include <pkfuncs.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace {

void Record(const std::u16string& call) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Recorder", 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;  // nothing to keep it in: the test sees the call missing
  }
  WCHAR calls[1024] = {};
  DWORD size = sizeof calls - sizeof(WCHAR);
  DWORD type = REG_SZ;
  if (RegQueryValueExW(key, u"Calls", nullptr, &type, reinterpret_cast<BYTE*>(calls), &size) != ERROR_SUCCESS) {
    calls[0] = 0;
  }
  std::u16string text(calls);
  text += (text.empty() ? u"" : u",") + call;
  RegSetValueExW(key, u"Calls", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
}

constexpr DWORD REC_CLAIM = 0x00220001;
bool claiming = false;  // one test program at a time

}  // namespace

extern "C" {

DWORD_PTR REC_Init(DWORD_PTR) { return 1; }
BOOL REC_Deinit(DWORD_PTR) { return TRUE; }

DWORD_PTR REC_Open(DWORD_PTR, DWORD, DWORD) {
  Record(u"open");
  return 1;
}

BOOL REC_Close(DWORD_PTR) {
  Record(u"close");
  return TRUE;
}

DWORD REC_Read(DWORD_PTR, void* buffer, DWORD count) {
  if (!claiming) std::memset(buffer, 'Z', count);
  return count;
}

BOOL REC_IOControl(DWORD_PTR, DWORD code, BYTE* in, DWORD inSize, BYTE*, DWORD, DWORD*) {
  if (code == REC_CLAIM) {
    claiming = true;
    return TRUE;
  }
  if (code == IOCTL_PSL_NOTIFY && in && inSize == sizeof(DEVICE_PSL_NOTIFY)) {
    DEVICE_PSL_NOTIFY notice;
    std::memcpy(&notice, in, sizeof notice);
    if (notice.dwFlags == DLL_PROCESS_EXITING) {
      const std::string pid = std::to_string(notice.hProc);
      Record(u"notify " + std::u16string(pid.begin(), pid.end()));
    }
  }
  return TRUE;
}

}  // extern "C"
