// The registry: values and keys as programs see them, and the REGEDIT4 file
// that keeps them from one boot to the next.
#include "HostTest.h"

namespace cetest {
namespace {

using RegistryTest = LinkedDeviceTest;

const std::u16string kJapanese = u"東京タワー";
const char16_t kQuotedName[] = u"say \"hi\" \\ bye";

std::vector<BYTE> Pattern(size_t size) {
  std::vector<BYTE> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 37 + 1);
  return bytes;
}

TEST_P(RegistryTest, ValuesSurviveARebootInAReadableRegedit4File) {
  Boot();
  HKEY key = CreateKey(u"Software\\Wendra");
  SetText(key, u"Place", kJapanese);
  SetNumber(key, u"Index", 6);
  const std::vector<BYTE> binary = Pattern(64);  // long enough to go on over several lines
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Raw", 0, REG_BINARY, binary.data(), 64));
  const char16_t multi[] = u"COM5:\0COM6:\0";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(key, u"Ports", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi));
  SetText(key, kQuotedName, u"C:\\x");
  SetText(key, nullptr, u"dflt");
  RegCloseKey(key);

  const std::string text = dir_.Read("registry.reg");
  EXPECT_EQ(0u, text.find("REGEDIT4\n"));
  for (const char* line : {"[HKEY_LOCAL_MACHINE\\Software\\Wendra]", "\"Index\"=dword:00000006",
                           "\"Place\"=\"東京タワー\"", R"("say \"hi\" \\ bye"="C:\\x")", "@=\"dflt\"",
                           "\"Raw\"=hex:01,26,4b,70,95,ba,df,04,29,4e,73,98,bd,e2,07,2c,51,76,9b,c0,e5,0a,2f,\\",
                           "\"Ports\"=hex(7):43,00,4f,00,4d,00,35,00,3a,00,00,00,43,00"}) {
    EXPECT_NE(std::string::npos, text.find(std::string("\n") + line)) << line << " in\n" << text;
  }

  Reboot();
  EXPECT_EQ(kJapanese, Query(u"Software\\Wendra", u"Place").Text());
  EXPECT_EQ(6u, Query(u"Software\\Wendra", u"Index").Number());
  const Value raw = Query(u"Software\\Wendra", u"Raw");
  EXPECT_EQ(REG_BINARY, raw.type);
  EXPECT_EQ(binary, raw.data);
  const Value ports = Query(u"Software\\Wendra", u"Ports");
  EXPECT_EQ(REG_MULTI_SZ, ports.type);
  ASSERT_EQ(sizeof multi, ports.data.size());
  EXPECT_EQ(0, std::memcmp(multi, ports.data.data(), sizeof multi));
  EXPECT_EQ(u"C:\\x", Query(u"Software\\Wendra", kQuotedName).Text());
  EXPECT_EQ(u"dflt", Query(u"Software\\Wendra", u"").Text());
}

TEST_P(RegistryTest, AFileWrittenByHandIsLoaded) {
  dir_.Write("registry.reg",
             "REGEDIT4\r\n\r\n; kept by hand\r\n[HKEY_LOCAL_MACHINE\\Software\\Wendra]\r\n"
             "\"Index\"=dword:0000000a\r\n\"Raw\"=hex:01,02,\\\r\n  03\r\n\"Name\"=\"Wendra\"\r\n");
  Boot();
  EXPECT_EQ(10u, Query(u"Software\\Wendra", u"Index").Number());
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), Query(u"Software\\Wendra", u"Raw").data);
  EXPECT_EQ(u"Wendra", Query(u"Software\\Wendra", u"Name").Text());
}

TEST_P(RegistryTest, AMalformedFileRefusesTheBootNamingTheLine) {
  const std::string broken = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"Good\"=dword:00000001\n\"Bad\"=dword:xyz\n";
  dir_.Write("registry.reg", broken);
  EXPECT_FALSE(TryBoot());
  EXPECT_NE(std::string::npos, error_.find("line 5")) << error_;
  EXPECT_EQ(broken, dir_.Read("registry.reg"));  // left for a person to mend

  dir_.Write("registry.reg", "[HKEY_LOCAL_MACHINE\\Software]\n");
  EXPECT_FALSE(TryBoot());
  EXPECT_NE(std::string::npos, error_.find("line 1")) << error_;
}

TEST_P(RegistryTest, QueryAnswersSizesAndLeavesTheLastErrorAlone) {
  Boot();
  HKEY key = CreateKey(u"Software\\Wendra");
  SetText(key, u"Name", u"Wendra");  // 7 characters with the terminator: 14 bytes
  SetLastError(kSentinel);

  DWORD type = kSentinel;
  DWORD size = kSentinel;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, &type, nullptr, &size));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(14u, size);

  BYTE data[32];
  std::memset(data, 0xAB, sizeof data);
  size = 8;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, u"Name", nullptr, &type, data, &size));
  EXPECT_EQ(14u, size);
  EXPECT_EQ(0xAB, data[8]);

  size = sizeof data;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, &type, data, &size));
  EXPECT_EQ(14u, size);
  EXPECT_EQ(u"Wendra", std::u16string(reinterpret_cast<const char16_t*>(data)));
  EXPECT_EQ(0xAB, data[14]);

  size = sizeof data;
  type = kSentinel;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"Missing", nullptr, &type, data, &size));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, u"Missing"));
  HKEY missing;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Missing", 0, 0, &missing));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"Name"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(kSentinel, GetLastError());
}

TEST_P(RegistryTest, NamesCompareWithoutRegardToCaseAndKeepTheirCase) {
  Boot();
  HKEY key = CreateKey(u"Software\\Wendra");
  SetNumber(key, u"Index", 6);
  SetNumber(key, u"INDEX", 7);
  SetText(key, u"Überblick", u"map");
  RegCloseKey(key);

  DWORD disposition = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\WENDRA", 0, nullptr, 0, 0, nullptr,
                                           &key, &disposition));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  EXPECT_EQ(7u, Query(key, u"index").Number());
  EXPECT_EQ(u"map", Query(key, u"ÜBERBLICK").Text());
  WCHAR name[32];
  DWORD length = 32;
  DWORD type = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key, 0, name, &length, nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(u"Index", std::u16string(name));
  RegCloseKey(key);
  EXPECT_EQ(std::vector<std::u16string>{u"Wendra"}, SubKeys(u"software"));
}

TEST_P(RegistryTest, CreateAnswersItsDispositionAndDeleteRemovesSubkeys) {
  Boot();
  HKEY key;
  DWORD disposition = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\A\\B\\C", 0, nullptr, 0, 0, nullptr,
                                           &key, &disposition));
  EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
  SetNumber(key, u"Deep", 1);
  RegCloseKey(key);
  disposition = kSentinel;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\A\\B", 0, nullptr, 0, 0, nullptr, &key,
                                           &disposition));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  RegCloseKey(key);

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\A"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\A\\B\\C", 0, 0, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\A", 0, 0, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\A"));
  Reboot();
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query(u"Software\\A\\B\\C", u"Deep").result);
}

CETEST_ON_BOTH_LINKS(RegistryTest);

}  // namespace
}  // namespace cetest
