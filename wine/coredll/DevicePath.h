// Paths as the device has them: one file system, whose root is drive C: of
// the prefix. A path from the root (\Windows\Ravelink.Dll) is C:'s whatever
// the program's current drive; any other path is left as it is.
#pragma once

#include <windows.h>

#include <string>

namespace coredll {

class DevicePath {
 public:
  explicit DevicePath(LPCWSTR path)
      : path_(path && path[0] == L'\\' && path[1] != L'\\' ? std::wstring(L"C:") + path : std::wstring()),
        given_(path) {}
  // The path to hand to the desktop's call; NULL stays NULL.
  LPCWSTR Get() const { return path_.empty() ? given_ : path_.c_str(); }

 private:
  std::wstring path_;
  LPCWSTR given_;
};

}  // namespace coredll
