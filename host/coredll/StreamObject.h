// What a file handle leads to: a file of the device's file system or an
// open device. ReadFile, WriteFile and the other file calls reach it.
#pragma once

#include <string>

#include "Kernel.h"

namespace cehost {

class StreamObject : public KernelObject {
 public:
  virtual BOOL Read(void* buffer, DWORD count, DWORD* done) = 0;
  virtual BOOL Write(const void* buffer, DWORD count, DWORD* done) = 0;
  // SetFilePointer's answer: the new position's low part, or 0xFFFFFFFF.
  virtual DWORD Seek(LONG low, PLONG high, DWORD method) = 0;
  virtual BOOL Flush() { return Fail(ERROR_INVALID_HANDLE); }
  // SetEndOfFile: the file ends at the current position.
  virtual BOOL SetEnd() { return Fail(ERROR_INVALID_HANDLE); }
  virtual BOOL IoControl(DWORD, void*, DWORD, void*, DWORD, DWORD*) { return Fail(ERROR_INVALID_HANDLE); }
};

// CreateFileW for a device name ("COM7:").
HANDLE OpenDeviceFile(const std::u16string& name, DWORD access, DWORD share);

}  // namespace cehost
