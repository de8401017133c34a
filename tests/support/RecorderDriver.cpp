// Recorder.Dll: a stream driver for tests of the device manager's calls into
// drivers. Prefix REC. It keeps what reaches it, in order, under
// HKLM\Recorder as the text value Calls: "open", "notify PID" for a
// process-exit notice, "close".
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

BOOL REC_IOControl(DWORD_PTR, DWORD code, BYTE* in, DWORD inSize, BYTE*, DWORD, DWORD*) {
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
