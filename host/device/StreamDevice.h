// One device instance as the device manager calls it: the stream-interface
// entry points with the instance's device context bound in.
#pragma once

#include <windows.h>

namespace cehost {

// What Read, Write and Seek answer for a failure, with the reason in the last error.
constexpr DWORD kFailedCount = 0xFFFFFFFF;

class StreamDevice {
 public:
  virtual ~StreamDevice() = default;
  // Open context, or 0 when the open is refused.
  virtual DWORD_PTR Open(DWORD access, DWORD share) = 0;
  virtual BOOL Close(DWORD_PTR openContext) = 0;
  // Count done, or kFailedCount.
  virtual DWORD Read(DWORD_PTR openContext, void* buffer, DWORD count) = 0;
  virtual DWORD Write(DWORD_PTR openContext, const void* buffer, DWORD count) = 0;
  virtual DWORD Seek(DWORD_PTR openContext, LONG amount, DWORD method) = 0;
  virtual BOOL IOControl(DWORD_PTR openContext, DWORD code, BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                         DWORD* returned) = 0;
  virtual BOOL Deinit() = 0;
};

}  // namespace cehost
