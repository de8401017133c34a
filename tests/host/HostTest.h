// A device booted in a temporary root for one test, and the registry helpers
// the host tests share.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DeviceProcess.h"
#include "TempDir.h"
#include "cehost/Device.h"

namespace cetest {

constexpr DWORD kSentinel = 0xDEADBEEF;

class DeviceTest : public ::testing::Test {
 protected:
  explicit DeviceTest(Link link = Link::InProcess) : link_(link) { options_.root = dir_.Path(); }

  bool TryBoot() {
    device_ = BootDevice(link_, options_, &error_);
    return device_ != nullptr;
  }
  void Boot() { ASSERT_TRUE(TryBoot()) << error_; }
  // Shuts the device down and boots it again on the same root.
  void Reboot() {
    device_.reset();
    Boot();
  }

  TempDir dir_;
  const Link link_;
  cehost::BootOptions options_;
  std::string error_;
  std::unique_ptr<BootedDevice> device_;
};

// A test of device requests, run twice: with the device in the test's
// process, and with it in a process of its own, every request then framed,
// carried over the socket and answered as for any program.
class LinkedDeviceTest : public DeviceTest, public ::testing::WithParamInterface<Link> {
 protected:
  LinkedDeviceTest() : DeviceTest(GetParam()) {}
};

#define CETEST_ON_BOTH_LINKS(Suite)                                                                   \
  INSTANTIATE_TEST_SUITE_P(Links, Suite, ::testing::Values(Link::InProcess, Link::Socket),             \
                           [](const ::testing::TestParamInfo<Link>& info) { return LinkName(info.param); })

// A call made with the sentinel in the last error, which it must leave
// alone, on either link: a registry call always (it answers its error code),
// a call that answers BOOL or a handle when it succeeds.
template <typename Call>
auto LeavingTheLastError(Call call) {
  SetLastError(kSentinel);
  const auto result = call();
  EXPECT_EQ(kSentinel, GetLastError()) << "the call changed the last error";
  return result;
}
#define QUIETLY(call) ::cetest::LeavingTheLastError([&] { return call; })

inline HKEY CreateKey(const char16_t* path) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            QUIETLY(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, 0, nullptr, &key, nullptr)));
  return key;
}

inline void SetText(HKEY key, const char16_t* name, const std::u16string& text) {
  const auto size = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
  EXPECT_EQ(ERROR_SUCCESS,
            QUIETLY(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), size)));
}

inline void SetNumber(HKEY key, const char16_t* name, DWORD number) {
  EXPECT_EQ(ERROR_SUCCESS,
            QUIETLY(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4)));
}

struct Value {
  LONG result = ERROR_SUCCESS;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  std::u16string Text() const {
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    return text.substr(0, text.find(u'\0'));
  }
  DWORD Number() const {
    DWORD number = kSentinel;
    if (data.size() == 4) std::memcpy(&number, data.data(), 4);
    return number;
  }
};

// A value read as a program reads it: its size first, then its data.
inline Value Query(HKEY key, const char16_t* name) {
  Value value;
  DWORD size = 0;
  value.result = QUIETLY(RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size));
  if (value.result != ERROR_SUCCESS) return value;
  value.data.resize(size);
  value.result = QUIETLY(RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size));
  value.data.resize(size);
  return value;
}

inline Value Query(const char16_t* path, const char16_t* name) {
  HKEY key;
  Value value;
  value.result = QUIETLY(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key));
  if (value.result != ERROR_SUCCESS) return value;
  value = Query(key, name);
  QUIETLY(RegCloseKey(key));
  return value;
}

inline std::vector<std::u16string> SubKeys(const char16_t* path) {
  std::vector<std::u16string> names;
  HKEY key;
  if (QUIETLY(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key)) != ERROR_SUCCESS) return names;
  WCHAR name[MAX_PATH];
  DWORD size = MAX_PATH;
  for (DWORD i = 0;
       QUIETLY(RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS;
       ++i, size = MAX_PATH) {
    names.emplace_back(name);
  }
  QUIETLY(RegCloseKey(key));
  return names;
}

}  // namespace cetest
