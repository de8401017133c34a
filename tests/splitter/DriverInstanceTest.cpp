// Driver instances and registration: the relay reads its key, writes and
// activates the tap key, and the tap links itself into the relay.
#include <dlfcn.h>

#include "SplitterFixture.h"

namespace cetest {
namespace {

std::u16string QueryText(const char16_t* keyPath, const char16_t* name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, 0, &key) != ERROR_SUCCESS) return u"<no key>";
  char16_t text[64] = {};
  DWORD size = sizeof text - sizeof(char16_t);
  DWORD type = 0;
  const LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return u"<missing>";
  return type == REG_SZ ? std::u16string(text) : u"<not text>";
}

DWORD QueryNumber(const char16_t* keyPath, const char16_t* name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, 0, &key) != ERROR_SUCCESS) return kSentinel;
  DWORD value = kSentinel;
  DWORD size = sizeof value;
  DWORD type = 0;
  const LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD ? value : kSentinel;
}

void SetText(const char16_t* keyPath, const char16_t* name, const std::u16string& text) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, 0, nullptr, &key, nullptr));
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * 2));
  RegCloseKey(key);
}

void SetNumber(const char16_t* keyPath, const char16_t* name, DWORD value) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, 0, nullptr, &key, nullptr));
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  RegCloseKey(key);
}

using DriverInstanceTest = SplitterFixture;

TEST_F(DriverInstanceTest, RelayActivatesItsTapAndCopiesWhatItsClientReads) {
  Start();
  EXPECT_EQ(u"Ravelink.Dll", QueryText(u"Drivers\\BuiltIn\\RavelinkMon", u"Dll"));
  EXPECT_EQ(u"COM", QueryText(u"Drivers\\BuiltIn\\RavelinkMon", u"Prefix"));
  EXPECT_EQ(7u, QueryNumber(u"Drivers\\BuiltIn\\RavelinkMon", u"Index"));
  EXPECT_EQ(kSentinel, QueryNumber(u"Drivers\\BuiltIn\\RavelinkMon", u"srcIndex"));
  EXPECT_EQ(kSentinel, QueryNumber(u"Drivers\\BuiltIn\\RavelinkMon", u"monIndex"));

  HANDLE relay = Open(u"COM6:");
  HANDLE tap = Open(u"COM7:");
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  ASSERT_NE(INVALID_HANDLE_VALUE, tap);
  AnswerAtOnce(relay);
  Relay(relay, "$GPGGA,1*00\r\n");
  EXPECT_EQ("$GPGGA,1*00\r\n", ReadNow(tap, 100));
  CloseHandle(relay);
  CloseHandle(tap);
}

TEST_F(DriverInstanceTest, ExistingTapKeyIsOverwrittenValueByValue) {
  Boot();
  SetText(u"Drivers\\BuiltIn\\RavelinkMon", u"Prefix", u"XYZ");
  SetNumber(u"Drivers\\BuiltIn\\RavelinkMon", u"Index", 9);
  SetText(u"Drivers\\BuiltIn\\RavelinkMon", u"Extra", u"kept");
  WriteRelayKey(6, 5, 8);
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateRelay());
  EXPECT_EQ(u"COM", QueryText(u"Drivers\\BuiltIn\\RavelinkMon", u"Prefix"));
  EXPECT_EQ(8u, QueryNumber(u"Drivers\\BuiltIn\\RavelinkMon", u"Index"));
  EXPECT_EQ(u"kept", QueryText(u"Drivers\\BuiltIn\\RavelinkMon", u"Extra"));
  HANDLE tap = Open(u"COM8:");
  EXPECT_NE(INVALID_HANDLE_VALUE, tap);
  CloseHandle(tap);
}

TEST_F(DriverInstanceTest, RelayKeyWithoutNumericIndexesIsRefused) {
  Boot();
  WriteRelayKey(6, 5, 7);
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Ravelink", 0, 0, &key));
  RegDeleteValueW(key, u"srcIndex");
  RegCloseKey(key);
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateRelay());

  SetText(u"Drivers\\BuiltIn\\Ravelink", u"srcIndex", u"5");
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateRelay());

  SetNumber(u"Drivers\\BuiltIn\\Ravelink", u"srcIndex", 5);
  SetText(u"Drivers\\BuiltIn\\Ravelink", u"monIndex", u"7");
  EXPECT_EQ(INVALID_HANDLE_VALUE, ActivateRelay());

  // No device was made and the tap key was never written.
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(u"COM6:"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(u"<no key>", QueryText(u"Drivers\\BuiltIn\\RavelinkMon", u"Dll"));
}

TEST_F(DriverInstanceTest, InitNeedsANumericClientInfoThatNamesALiveRelay) {
  Boot();
  void* library = dlopen((dir_.Path() + "/Windows/Ravelink.Dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(library) << dlerror();
  // Loaded as the device manager loads it: DllMain first and last.
  auto dllMain = reinterpret_cast<BOOL(WINAPI*)(HANDLE, DWORD, LPVOID)>(dlsym(library, "DllMain"));
  auto init = reinterpret_cast<DWORD_PTR (*)(DWORD_PTR)>(dlsym(library, "COM_Init"));
  ASSERT_TRUE(dllMain && init);
  ASSERT_TRUE(dllMain(library, DLL_PROCESS_ATTACH, nullptr));
  auto initWith = [&](const char16_t* key) { return init(reinterpret_cast<DWORD_PTR>(key)); };

  EXPECT_EQ(0u, initWith(u"Drivers\\Active\\Missing"));
  SetText(u"Drivers\\Active\\Test", u"Name", u"COM9:");
  EXPECT_EQ(0u, initWith(u"Drivers\\Active\\Test"));
  SetText(u"Drivers\\Active\\Test", u"ClientInfo", u"0");
  EXPECT_EQ(0u, initWith(u"Drivers\\Active\\Test"));
  SetNumber(u"Drivers\\Active\\Test", u"ClientInfo", 3);  // no relay behind it
  EXPECT_EQ(0u, initWith(u"Drivers\\Active\\Test"));
  // A relay whose key is missing cannot start either.
  SetNumber(u"Drivers\\Active\\Test", u"ClientInfo", 0);
  EXPECT_EQ(0u, initWith(u"Drivers\\Active\\Test"));
  dllMain(library, DLL_PROCESS_DETACH, nullptr);
  dlclose(library);
}

// The driver the device manager has loaded, its entry points called here as
// the manager calls them. A second load in the same process attaches
// nothing, so DllMain is left to the manager.
class LoadedDriver {
 public:
  explicit LoadedDriver(const std::string& path) : library_(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    if (!library_) return;
    init_ = reinterpret_cast<DWORD_PTR (*)(DWORD_PTR)>(dlsym(library_, "COM_Init"));
    deinit_ = reinterpret_cast<BOOL (*)(DWORD_PTR)>(dlsym(library_, "COM_Deinit"));
  }
  ~LoadedDriver() {
    if (library_) dlclose(library_);
  }
  bool Loaded() const { return library_ && init_ && deinit_; }
  DWORD_PTR Init(const char16_t* activeKey) { return init_(reinterpret_cast<DWORD_PTR>(activeKey)); }
  BOOL Deinit(DWORD_PTR context) { return deinit_(context); }

 private:
  void* library_;
  DWORD_PTR (*init_)(DWORD_PTR) = nullptr;
  BOOL (*deinit_)(DWORD_PTR) = nullptr;
};

// Whether a record is released: the platform's heap refuses to free a block
// it no longer holds, and frees one that was kept (so a record still in use
// is never asked about).
bool Released(DWORD_PTR record) {
  SetLastError(kSentinel);
  return LocalFree(reinterpret_cast<HLOCAL>(record)) != NULL && GetLastError() == ERROR_INVALID_HANDLE;
}

// Deinit releases the instance's record and answers TRUE: a relay with its
// tap linked, that tap once no relay links to it, and a relay whose tap could
// not start.
TEST_F(DriverInstanceTest, DeinitReleasesTheRecordAndAnswersTrue) {
  Start();  // relay 6 and tap 7, through the device manager
  LoadedDriver driver(dir_.Path() + "/Windows/Ravelink.Dll");
  ASSERT_TRUE(driver.Loaded()) << dlerror();
  SetNumber(u"Drivers\\Active\\Relay", u"ClientInfo", 0);

  WriteRelayKey(6, 5, 8);
  const DWORD_PTR relay = driver.Init(u"Drivers\\Active\\Relay");
  ASSERT_NE(0u, relay);
  // Its tap, COM8:, was activated through the device manager, which holds
  // it; a relay's record begins with the link to its tap's.
  const DWORD_PTR tap = *reinterpret_cast<const DWORD_PTR*>(relay);
  ASSERT_NE(0u, tap);
  HANDLE open = Open(u"COM8:");
  ASSERT_NE(INVALID_HANDLE_VALUE, open);
  CloseHandle(open);
  EXPECT_TRUE(driver.Deinit(relay));
  EXPECT_TRUE(Released(relay)) << "the relay's record is kept after its Deinit";
  EXPECT_TRUE(device_->Deactivate("COM8:"));
  EXPECT_TRUE(Released(tap)) << "the tap's record is kept after its Deinit";

  // COM7: is taken by the first tap: this relay goes on without one.
  WriteRelayKey(6, 5, 7);
  const DWORD_PTR alone = driver.Init(u"Drivers\\Active\\Relay");
  ASSERT_NE(0u, alone);
  EXPECT_EQ(0u, *reinterpret_cast<const DWORD_PTR*>(alone));
  EXPECT_TRUE(driver.Deinit(alone));
  EXPECT_TRUE(Released(alone)) << "the record of a relay without a tap is kept after its Deinit";
}

TEST_F(DriverInstanceTest, RelayWhoseTapCannotStartBehavesAsATap) {
  Boot({"COM5:=test", "COM7:=test"});  // the tap's name is taken
  WriteRelayKey(6, 5, 7);
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateRelay());
  HANDLE relay = Open(u"COM6:");
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  AnswerAtOnce(relay);
  Gps().Feed("$GPRMC\r\n");  // the real port was never opened: the UART drops it
  EXPECT_EQ("", ReadNow(relay, 100));
  EXPECT_EQ(0u, TapCount(relay));
  DCB dcb{};
  dcb.DCBlength = 24;
  EXPECT_TRUE(SetCommState(relay, &dcb));  // the tap's answer
  EXPECT_EQ(2u, [&] {
    DWORD written = 0;
    WriteFile(relay, "AB\0CD", 5, &written, nullptr);
    return written;
  }());
  CloseHandle(relay);
}

TEST_F(DriverInstanceTest, RelayDeinitLeavesTheTapUsable) {
  Start();
  HANDLE relay = Open(u"COM6:");
  HANDLE tap = Open(u"COM7:");
  AnswerAtOnce(relay);
  Relay(relay, "held");
  EXPECT_TRUE(device_->Deactivate("COM6:"));
  EXPECT_EQ(4u, TapCount(tap));
  EXPECT_EQ("held", ReadNow(tap, 100));
  CloseHandle(tap);
  CloseHandle(relay);
}

TEST_F(DriverInstanceTest, TapDeinitWhileLinkedLeavesTheRelayPassingThrough) {
  Start();
  HANDLE relay = Open(u"COM6:");
  HANDLE tap = Open(u"COM7:");
  AnswerAtOnce(relay);
  EXPECT_TRUE(device_->Deactivate("COM7:"));
  // The relay still links to the released tap record: its reads pass
  // through and copy nothing.
  Relay(relay, "$GPGSA,A,3\r\n");
  Relay(relay, "$GPRMC,1\r\n");
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(u"COM7:"));
  CloseHandle(tap);
  CloseHandle(relay);
  EXPECT_TRUE(device_->Deactivate("COM6:"));
}

}  // namespace
}  // namespace cetest
