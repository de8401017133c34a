// A program's connection to the device process: one socket per calling
// thread, so that the device runs each call on a thread of its own, and one
// for the program itself, on which the device delivers messages for the
// program's windows and by whose end it learns that the program has ended.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/DeviceService.h"
#include "common/Protocol.h"

namespace cehost {

class RemoteDevice : public DeviceService, public std::enable_shared_from_this<RemoteDevice> {
 public:
  // nullptr when no device serves the root.
  static std::shared_ptr<RemoteDevice> Connect(const std::string& root);
  ~RemoteDevice() override;

  LONG RegOpenKey(const std::u16string& key) override;
  LONG RegCreateKey(const std::u16string& key, DWORD* disposition) override;
  LONG RegQueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                     std::vector<BYTE>* data) override;
  LONG RegSetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data,
                   DWORD size) override;
  LONG RegDeleteValue(const std::u16string& key, const std::u16string& name) override;
  LONG RegDeleteKey(const std::u16string& key) override;
  LONG RegEnumKey(const std::u16string& key, DWORD index, std::u16string* name) override;
  LONG RegEnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                    std::vector<BYTE>* data) override;

  DWORD ActivateDevice(const std::u16string& key, DWORD clientInfo) override;
  BOOL DeactivateDevice(DWORD device) override;
  DWORD OpenDevice(const std::u16string& name, DWORD access, DWORD share) override;
  BOOL CloseDevice(DWORD file) override;
  BOOL ReadDevice(DWORD file, void* buffer, DWORD count, DWORD* done) override;
  BOOL WriteDevice(DWORD file, const void* buffer, DWORD count, DWORD* done) override;
  DWORD SeekDevice(DWORD file, LONG amount, DWORD method) override;
  BOOL IoControlDevice(DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned) override;

  DWORD CreateMutex(const std::u16string& name, BOOL initialOwner) override;
  BOOL ReleaseMutex(DWORD mutex) override;
  BOOL CloseMutex(DWORD mutex) override;

  DWORD CreateTopWindow(const std::u16string& title) override;
  BOOL DestroyTopWindow(DWORD window) override;
  BOOL SetWindowTitle(DWORD window, const std::u16string& title) override;
  BOOL GetWindowTitle(DWORD window, std::u16string* title) override;
  std::vector<DWORD> ListWindows() override;
  BOOL PlaceWindow(DWORD window, DWORD placement) override;
  BOOL SetForegroundWindow(DWORD window) override;
  BOOL SendWindowMessage(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  void GetLocalTime(SYSTEMTIME* time) override;
  BOOL SetLocalTime(const SYSTEMTIME& time) override;

  // Asks the device process to shut down; true when it took the request.
  bool Shutdown();

 private:
  RemoteDevice(std::string root, int programFd);
  FrameWriter Request(Op op) const;
  // Sends the request on this thread's connection and reads the answer; the
  // answer's last error becomes this thread's. False when the device is gone.
  bool Call(FrameWriter& request, FrameReader* answer);
  void Listen();

  const std::string root_;
  const int programFd_;
  std::atomic<bool> lost_{false};
  const std::shared_ptr<DeviceService> absent_;
};

}  // namespace cehost
