// What a program asks of its device: the registry, the device manager and
// the devices it serves, named mutexes, and the clock. The device process
// answers it directly; a program of its own process reaches it over the
// device's socket. Results follow the platform: BOOL or an id (0 for a
// failure) with the reason in the calling thread's last error; registry calls
// answer the error code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace cehost {

// A program as the device knows it: the host's process id.
typedef DWORD ProcessId;

// Where a window goes in the stacking order.
enum WindowPlacement : DWORD {
  kPlaceTop = 0,        // top of its band
  kPlaceTopMost = 1,    // into the top-most band, at its top
  kPlaceNotTopMost = 2, // out of the top-most band, at the top of the others
  kPlaceBottom = 3,
};

class DeviceService {
 public:
  virtual ~DeviceService() = default;

  // Registry under HKEY_LOCAL_MACHINE; key paths are relative to it.
  virtual LONG RegOpenKey(const std::u16string& key) = 0;
  virtual LONG RegCreateKey(const std::u16string& key, DWORD* disposition) = 0;
  virtual LONG RegQueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                             std::vector<BYTE>* data) = 0;
  virtual LONG RegSetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data,
                           DWORD size) = 0;
  virtual LONG RegDeleteValue(const std::u16string& key, const std::u16string& name) = 0;
  virtual LONG RegDeleteKey(const std::u16string& key) = 0;
  virtual LONG RegEnumKey(const std::u16string& key, DWORD index, std::u16string* name) = 0;
  virtual LONG RegEnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                            std::vector<BYTE>* data) = 0;

  // Device manager: activated devices and open device files, by id.
  virtual DWORD ActivateDevice(const std::u16string& key, DWORD clientInfo) = 0;
  virtual BOOL DeactivateDevice(DWORD device) = 0;
  virtual DWORD OpenDevice(const std::u16string& name, DWORD access, DWORD share) = 0;
  virtual BOOL CloseDevice(DWORD file) = 0;
  virtual BOOL ReadDevice(DWORD file, void* buffer, DWORD count, DWORD* done) = 0;
  virtual BOOL WriteDevice(DWORD file, const void* buffer, DWORD count, DWORD* done) = 0;
  virtual DWORD SeekDevice(DWORD file, LONG amount, DWORD method) = 0;
  virtual BOOL IoControlDevice(DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* returned) = 0;

  // Named mutexes: created or opened (ERROR_ALREADY_EXISTS) by name.
  virtual DWORD CreateMutex(const std::u16string& name, BOOL initialOwner) = 0;
  virtual BOOL ReleaseMutex(DWORD mutex) = 0;
  virtual BOOL CloseMutex(DWORD mutex) = 0;

  // Top-level windows of every program, listed in stacking order, top first.
  // Ids are the windows' HWND values, the same in every program.
  virtual DWORD CreateTopWindow(const std::u16string& title) = 0;
  virtual BOOL DestroyTopWindow(DWORD window) = 0;
  virtual BOOL SetWindowTitle(DWORD window, const std::u16string& title) = 0;
  virtual BOOL GetWindowTitle(DWORD window, std::u16string* title) = 0;
  virtual std::vector<DWORD> ListWindows() = 0;
  virtual BOOL PlaceWindow(DWORD window, DWORD placement) = 0;  // a WindowPlacement
  virtual BOOL SetForegroundWindow(DWORD window) = 0;
  // A message to another program's window, handled on that window's thread;
  // the caller waits for the answer.
  virtual BOOL SendWindowMessage(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;

  // The device's local time.
  virtual void GetLocalTime(SYSTEMTIME* time) = 0;
  virtual BOOL SetLocalTime(const SYSTEMTIME& time) = 0;
};

}  // namespace cehost
