// Start-up, the driver installation, one copy per application name and the
// hand-over to the running copy, across real processes on a served device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "WendraProcess.h"

namespace loggertest {
namespace {

const std::u16string kTitle = WindowTitle(u"Wendra");

LRESULT Press(HWND window, int id) { return SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

std::vector<BYTE> Value(const WCHAR* key, const WCHAR* name, DWORD* type) {
  HKEY handle;
  std::vector<BYTE> data(256);
  DWORD size = static_cast<DWORD>(data.size());
  *type = REG_NONE;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, 0, &handle) != ERROR_SUCCESS) return {};
  const LONG result = RegQueryValueExW(handle, name, NULL, type, data.data(), &size);
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return {};
  data.resize(size);
  return data;
}

DWORD Number(const WCHAR* key, const WCHAR* name) {
  DWORD type;
  const auto data = Value(key, name, &type);
  DWORD value = 0xDEADBEEF;
  if (type == REG_DWORD && data.size() == 4) std::memcpy(&value, data.data(), 4);
  return value;
}

std::vector<BYTE> Text(const std::u16string& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * 2);
}

// Active keys that stand for the relay key, with their ClientInfo.
std::vector<DWORD> RelayActivations() {
  std::vector<DWORD> clients;
  HKEY active;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\Active"), 0, 0, &active) != ERROR_SUCCESS) return clients;
  WCHAR name[64];
  for (DWORD i = 0;; ++i) {
    DWORD length = 64;
    if (RegEnumKeyExW(active, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    const std::u16string key = std::u16string(u"Drivers\\Active\\") + name;
    DWORD type;
    if (Value(key.c_str(), TEXT("Key"), &type) == Text(u"Drivers\\BuiltIn\\Ravelink")) {
      clients.push_back(Number(key.c_str(), TEXT("ClientInfo")));
    }
  }
  RegCloseKey(active);
  return clients;
}

bool RelayKeyExists() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn\\Ravelink"), 0, 0, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TEST(LoggerAppTest, InstallsTheDriverWhenItsFileIsMissing) {
  WendraDevice device;
  device.RemoveSettings("Wendra");
  const pid_t wendra = device.Start("Wendra", 0, "", 0, kEveryCall);
  ASSERT_TRUE(WaitForStartUp(device.Trace()));

  EXPECT_TRUE(std::filesystem::exists(device.HostPath("Windows/Ravelink.Dll")));
  const WCHAR* key = TEXT("Drivers\\BuiltIn\\Ravelink");
  DWORD type;
  EXPECT_EQ(Value(key, TEXT("Dll"), &type), Text(u"Ravelink.Dll"));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Value(key, TEXT("Prefix"), &type), Text(u"COM"));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Number(key, TEXT("Index")), 6u);
  EXPECT_EQ(Number(key, TEXT("srcIndex")), 5u);
  EXPECT_EQ(Number(key, TEXT("monIndex")), 7u);
  EXPECT_EQ(RelayActivations(), std::vector<DWORD>{0});

  // Without its settings file the defaults apply after the message; the tap opened.
  const auto trace = ReadTrace(device.Trace());
  ASSERT_EQ(Count(trace, "msgbox"), 1);
  for (const auto& e : trace) {
    if (e.op != "msgbox") continue;
    EXPECT_EQ(e.Get("text"),
              "設定ファイルを開けません。\n\\Program Files\\Wendra\\Wendra.cfg\nデフォルト値を読み込みます。");
    EXPECT_EQ(e.Get("caption"), "Wendra");
    EXPECT_EQ(e.Int("style"), MB_ICONHAND);
  }
  EXPECT_TRUE(WaitForPlace(device.Trace(), 0, 100, 58, 50));
  EXPECT_GE(WaitForEntry(device.Trace(), [](const TraceEntry& e) { return e.op == "show" && e.Int("id") == IDC_RECEIVE_LAMP_IDLE; }),
            0)
      << "the receive loop polls the tap";
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

// A card that fills while the driver is copied: nothing of it is left under
// its name, so the next start, with room, installs it whole and reads the tap.
TEST(LoggerAppTest, ADriverTheCardCouldNotTakeIsInstalledWholeAtTheNextStart) {
  WendraDevice device;
  const std::string source = device.HostPath("Program Files/Wendra/Ravelink.Dll");
  const std::string installed = device.HostPath("Windows/Ravelink.Dll");
  const size_t room = std::filesystem::file_size(source) / 2;
  const pid_t full = device.Start("Wendra", 0, "", room);
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  EXPECT_FALSE(std::filesystem::exists(installed));
  EXPECT_TRUE(RelayActivations().empty());
  const auto trace = ReadTrace(device.Trace());
  ASSERT_EQ(Count(trace, "msgbox"), 1);
  for (const auto& e : trace) {
    if (e.op == "msgbox") {
      EXPECT_EQ(e.Get("text"), "シリアルポートのオープンに失敗しました。\n");
    }
  }
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(full, 10000), 0);

  const pid_t wendra = device.Start("Wendra", 1, "", 0, kEveryCall);
  ASSERT_TRUE(WaitForStartUp(device.Trace("Wendra", 1)));
  ASSERT_TRUE(std::filesystem::exists(installed));
  std::ifstream a(source, std::ios::binary), b(installed, std::ios::binary);
  EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                         std::istreambuf_iterator<char>(b), std::istreambuf_iterator<char>()))
      << "the driver is installed whole";
  EXPECT_EQ(RelayActivations(), std::vector<DWORD>{0});
  EXPECT_EQ(Count(ReadTrace(device.Trace("Wendra", 1)), "msgbox"), 0);
  EXPECT_GE(WaitForEntry(device.Trace("Wendra", 1),
                         [](const TraceEntry& e) { return e.op == "show" && e.Int("id") == IDC_RECEIVE_LAMP_IDLE; }),
            0)
      << "the receive loop polls the tap";
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

TEST(LoggerAppTest, DriverFilePresentWritesNothingAndTheMissingTapIsReported) {
  WendraDevice device(true);
  const pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  EXPECT_FALSE(RelayKeyExists());
  EXPECT_TRUE(RelayActivations().empty());
  const auto trace = ReadTrace(device.Trace());
  int box = -1, tile = -1;
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].op == "msgbox") {
      box = int(i);
      EXPECT_EQ(trace[i].Get("text"), "シリアルポートのオープンに失敗しました。\n");
      EXPECT_EQ(trace[i].Int("style"), MB_ICONHAND);
    }
    if (trace[i].op == "place" && trace[i].Int("y") == 100) tile = int(i);
  }
  EXPECT_GE(box, 0);
  EXPECT_GT(tile, box) << "the tile still comes up after the message";
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

TEST(LoggerAppTest, OnlyActivateDriverEndsWithoutAWindow) {
  for (bool present : {false, true}) {
    SCOPED_TRACE(present ? "driver file present" : "driver file missing");
    WendraDevice device(present);
    device.Install("Wendra", "onlyactivatedriver=1\n");
    EXPECT_EQ(cetest::WaitExit(device.Start(), 10000), 0);
    const auto trace = ReadTrace(device.Trace());
    EXPECT_EQ(Count(trace, "destroy"), 1);
    EXPECT_EQ(Count(trace, "place") - 1, 0) << "only the centring: never the tile";
    EXPECT_EQ(Count(trace, "show") + Count(trace, "paint") + Count(trace, "msgbox"), 0)
        << "never shown, the tap never polled";
    EXPECT_EQ(RelayKeyExists(), !present);
    EXPECT_EQ(RelayActivations().size(), present ? 0u : 1u);
  }
}

// A second copy hands over to the first and ends without a window of its own.
TEST(LoggerAppTest, SecondStartHandsOver) {
  for (bool restore : {true, false}) {
    SCOPED_TRACE(restore ? "rstcurrun set" : "rstcurrun clear");
    WendraDevice device;
    device.Install("Wendra", restore ? "rstcurrun=1\n" : "");
    const pid_t first = device.Start("Wendra", 0);
    ASSERT_TRUE(WaitForStartUp(device.Trace("Wendra", 0)));
    HWND window = FindTitle(kTitle);
    // Another window on top, so that coming to the foreground shows.
    device.Install("Other", "topmost=1\n");
    const pid_t other = device.Start("Other", 0);
    ASSERT_TRUE(WaitForStartUp(device.Trace("Other", 0)));
    ASSERT_NE(GetForegroundWindow(), window);

    const size_t mark = ReadTrace(device.Trace("Wendra", 0)).size();
    EXPECT_EQ(cetest::WaitExit(device.Start("Wendra", 1), 10000), 0);
    EXPECT_EQ(ReadTrace(device.Trace("Wendra", 1)).size(), 0u) << "the second copy made no window";
    EXPECT_EQ(GetForegroundWindow(), window);
    const auto trace = ReadTrace(device.Trace("Wendra", 0));
    // The running program was told before the second copy ended, and brought its window to the front.
    EXPECT_EQ(Count(trace, "foreground", mark), 1);
    EXPECT_EQ(Count(trace, "beep", mark), restore ? 1 : 0);
    if (restore) {
      EXPECT_TRUE(WaitForPlace(device.Trace("Wendra", 0), 8, 10, 303, 220, mark));
    }
    EXPECT_EQ(Count(trace, "place", mark), restore ? 1 : 0);

    Press(window, IDC_EXIT);
    Press(FindTitle(WindowTitle(u"Other")), IDC_EXIT);
    EXPECT_EQ(cetest::WaitExit(first, 10000), 0);
    EXPECT_EQ(cetest::WaitExit(other, 10000), 0);
  }
}

// The title is read as at most 79 characters: a name of 64 makes a title of
// 79 and is found, one of 65 is not.
TEST(LoggerAppTest, ApplicationNamesOf64And65Characters) {
  for (size_t length : {64u, 65u}) {
    SCOPED_TRACE(std::to_string(length) + " characters");
    WendraDevice device;
    const std::string name = "W" + std::string(length - 1, 'x');
    device.Install(name, "rstcurrun=1\n");
    const pid_t first = device.Start(name, 0);
    ASSERT_TRUE(WaitForStartUp(device.Trace(name, 0)));
    const size_t mark = ReadTrace(device.Trace(name, 0)).size();
    EXPECT_EQ(cetest::WaitExit(device.Start(name, 1), 10000), 0);
    EXPECT_EQ(Count(ReadTrace(device.Trace(name, 0)), "beep", mark), length == 64 ? 1 : 0);
    Press(FindTitle(WindowTitle(std::u16string(name.begin(), name.end()))), IDC_EXIT);
    EXPECT_EQ(cetest::WaitExit(first, 10000), 0);
  }
}

// Under another file name the program is another application: its own
// settings file, mutex and title, running beside Wendra.
TEST(LoggerAppTest, AnotherNameIsAnotherApplication) {
  WendraDevice device;
  device.Install("Wendra", "minposx=1\n");
  device.Install("Kelbrun", "minposx=7\n");
  const pid_t wendra = device.Start("Wendra");
  const pid_t kelbrun = device.Start("Kelbrun");
  EXPECT_TRUE(WaitForPlace(device.Trace("Wendra"), 1, 100, 58, 50));
  EXPECT_TRUE(WaitForPlace(device.Trace("Kelbrun"), 7, 100, 58, 50));
  HWND first = FindTitle(kTitle), second = FindTitle(WindowTitle(u"Kelbrun"));
  EXPECT_TRUE(first && second && first != second);

  // The device's commands see and drive them as well.
  const std::string listing = device.HostPath("windows.txt");
  EXPECT_EQ(cetest::WaitExit(cetest::Spawn({CEDEVICE_EXE, "windows", "--root", device.Root()}, {}, listing), 10000),
            0);
  std::ifstream in(listing);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find(" Wendra@kelbrun<*+~#$>\n"), std::string::npos) << all;
  EXPECT_NE(all.find(" Kelbrun@kelbrun<*+~#$>\n"), std::string::npos) << all;
  const std::string answer = device.HostPath("answer.txt");
  EXPECT_EQ(cetest::WaitExit(cetest::Spawn({CEDEVICE_EXE, "send", "--root", device.Root(), "Kelbrun@kelbrun<*+~#$>",
                                            "WM_COMMAND", "1003", "0"},
                                           {}, answer),
                             10000),
            0);
  EXPECT_EQ(cetest::WaitExit(kelbrun, 10000), 0);
  Press(first, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

}  // namespace
}  // namespace loggertest
