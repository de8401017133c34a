// The device manager: activation from driver keys written by the test, the
// active keys it keeps, device names, and the drivers loaded at boot.
#include <pkfuncs.h>

#include "HostTest.h"

namespace cetest {
namespace {

class DeviceManagerTest : public LinkedDeviceTest {
 protected:
  void SetUp() override {
    InstallDriver(dir_.Path(), RAVELINK_DLL);
    options_.ports = {"COM5:=test"};
    Boot();
  }
  // A driver key; the relay reads srcIndex and monIndex from its own key.
  static void WriteKey(const char16_t* path, const std::u16string& dll, DWORD index) {
    HKEY key = CreateKey(path);
    SetText(key, u"Dll", dll);
    SetText(key, u"Prefix", u"COM");
    SetNumber(key, u"Index", index);
    SetNumber(key, u"srcIndex", 5);
    SetNumber(key, u"monIndex", 7);
    RegCloseKey(key);
  }
  static HANDLE OpenDevice(const char16_t* name) {
    return CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
};

constexpr char16_t kRelayKey[] = u"Drivers\\BuiltIn\\Ravelink";

TEST_P(DeviceManagerTest, ActiveKeysDescribeEachActivatedDevice) {
  WriteKey(kRelayKey, u"Ravelink.Dll", 6);
  HANDLE relay = ActivateDevice(kRelayKey, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);

  const auto active = SubKeys(u"Drivers\\Active");
  ASSERT_EQ(2u, active.size());  // the relay and the tap it activates
  bool relayFound = false;
  for (const auto& name : active) {
    EXPECT_EQ(2u, name.size());
    const std::u16string path = u"Drivers\\Active\\" + name;
    const Value device = Query(path.c_str(), u"Name");
    const Value client = Query(path.c_str(), u"ClientInfo");
    EXPECT_EQ(REG_DWORD, client.type);
    if (device.Text() == u"COM6:") {
      relayFound = true;
      EXPECT_EQ(kRelayKey, Query(path.c_str(), u"Key").Text());
      EXPECT_EQ(0u, client.Number());
    } else {
      EXPECT_EQ(u"COM7:", device.Text());
      EXPECT_EQ(u"Drivers\\BuiltIn\\RavelinkMon", Query(path.c_str(), u"Key").Text());
      EXPECT_NE(0u, client.Number());
    }
  }
  EXPECT_TRUE(relayFound);
  const std::string file = dir_.Read("registry.reg");
  EXPECT_EQ(std::string::npos, file.find("Drivers\\Active\\")) << file;
  EXPECT_EQ(std::string::npos, file.find("ClientInfo")) << file;

  // Deactivation removes the device and its active key.
  EXPECT_TRUE(QUIETLY(DeactivateDevice(relay)));
  for (const auto& name : SubKeys(u"Drivers\\Active")) {
    EXPECT_NE(u"COM6:", Query((u"Drivers\\Active\\" + name).c_str(), u"Name").Text());
  }
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(u"COM6:"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  SetLastError(kSentinel);
  EXPECT_FALSE(DeactivateDevice(relay));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST_P(DeviceManagerTest, ANameInUseIsRefused) {
  WriteKey(u"Drivers\\Mine", u"Ravelink.Dll", 5);  // COM5: is the device's own port
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateDevice(u"Drivers\\Mine", 0));
  EXPECT_EQ(ERROR_DEVICE_IN_USE, GetLastError());
  EXPECT_TRUE(SubKeys(u"Drivers\\Active").empty());
}

TEST_P(DeviceManagerTest, AFailedActivationLeavesNoActiveKeyAndNoName) {
  WriteKey(kRelayKey, u"Missing.Dll", 6);
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateDevice(kRelayKey, 0));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
  EXPECT_TRUE(SubKeys(u"Drivers\\Active").empty());

  // The library loads but its Init answers 0: the relay finds no srcIndex.
  WriteKey(kRelayKey, u"Ravelink.Dll", 6);
  HKEY key = CreateKey(kRelayKey);
  RegDeleteValueW(key, u"srcIndex");
  RegCloseKey(key);
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateDevice(kRelayKey, 0));
  EXPECT_TRUE(SubKeys(u"Drivers\\Active").empty());
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(u"COM6:"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());

  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateDevice(u"Drivers\\NoSuchKey", 0));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_P(DeviceManagerTest, OpeningADeviceThatDoesNotExistFails) {
  for (const char16_t* name : {u"COM9:", u"GPS1:", u"COM6:"}) {
    SetLastError(kSentinel);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(name));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  }
  HANDLE port = OpenDevice(u"com5:");
  EXPECT_NE(INVALID_HANDLE_VALUE, port);
  CloseHandle(port);
}

TEST_P(DeviceManagerTest, BuiltInKeysAreActivatedAtBoot) {
  WriteKey(kRelayKey, u"Ravelink.Dll", 6);
  Reboot();
  HANDLE relay = OpenDevice(u"COM6:");
  EXPECT_NE(INVALID_HANDLE_VALUE, relay);
  CloseHandle(relay);
  EXPECT_FALSE(SubKeys(u"Drivers\\Active").empty());

  device_.reset();
  options_.loadBuiltInDrivers = false;
  Boot();
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(u"COM6:"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_TRUE(SubKeys(u"Drivers\\Active").empty());
}

// The process-exit notice as a program of the platform sends it, 16 bytes
// laid out by hand: the relay gives up its real port for DLL_PROCESS_EXITING
// (4) and keeps it for any other reason.
TEST_P(DeviceManagerTest, TheProcessExitNoticeOfThePlatformsSizeClosesTheRelaysRealPort) {
  WriteKey(kRelayKey, u"Ravelink.Dll", 6);
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateDevice(kRelayKey, 0));
  HANDLE relay = CreateFileW(u"COM6:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  COMMTIMEOUTS now{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(relay, &now));
  auto relayed = [&](const std::string& bytes) {
    device_->Port("COM5:")->Feed(bytes);
    char buffer[64] = {};
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(relay, buffer, sizeof buffer, &done, nullptr));
    return std::string(buffer, done);
  };
  auto notify = [&](DWORD flags) {
    const DWORD words[4] = {16, flags, 0x1234, 0x5678};
    BYTE record[16];
    std::memcpy(record, words, sizeof record);
    return DeviceIoControl(relay, IOCTL_PSL_NOTIFY, record, sizeof record, nullptr, 0, nullptr, nullptr);
  };

  EXPECT_TRUE(notify(5));
  EXPECT_EQ("$GPGGA\r\n", relayed("$GPGGA\r\n"));
  DCB dcb{};
  EXPECT_TRUE(GetCommState(relay, &dcb));

  EXPECT_TRUE(notify(DLL_PROCESS_EXITING));
  EXPECT_EQ("", relayed("$GPRMC\r\n"));
  EXPECT_FALSE(GetCommState(relay, &dcb));
  CloseHandle(relay);
}

CETEST_ON_BOTH_LINKS(DeviceManagerTest);

}  // namespace
}  // namespace cetest
