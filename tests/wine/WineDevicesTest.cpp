// Device names and paths on Wine as the device has them: a device name that
// no driver and no serial port of the device answers opens nothing, whatever
// Wine maps on its own; a path from the root is the device's, whatever the
// program's current drive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "LoggerTestSupport.h"
#include "PseudoLine.h"
#include "TempDir.h"
#include "WendraProcess.h"
#include "WineSystem.h"

namespace winetest {
namespace {

namespace fs = std::filesystem;
using loggertest::TraceEntry;

// Wendra without its driver, on a prefix where Wine itself maps COM7 to a
// line: the tap COM7: is no device, so Wendra says it cannot open its port
// instead of reading the line.
TEST(WineDevicesTest, ATapPortNoDriverAnswersIsNoDeviceWhateverWineMaps) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  PseudoLine receiver, stray;
  ASSERT_TRUE(receiver.Open() && stray.Open());
  ASSERT_TRUE(wine->FreshDevice("", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, receiver.Path(), &error)) << error;
  fs::remove(wine->ProgramDir() + "/Ravelink.Dll");  // nothing to install
  const std::string mapped = wine->DriveC() + "/../dosdevices/com7";
  fs::remove(mapped);
  fs::create_symlink(stray.Path(), mapped);

  cetest::TempDir dir;
  const std::string trace = dir.Path() + "/wine-trace.jsonl";
  const pid_t wendra = wine->Start("Wendra.exe", {}, {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace)},
                                   dir.Path() + "/wendra.out");
  EXPECT_GE(loggertest::WaitForEntry(trace,
                                     [](const TraceEntry& e) {
                                       return e.op == "msgbox" && e.Get("text").find(
                                                                      "シリアルポートのオープンに失敗しました。") == 0;
                                     }),
            0)
      << dir.Read("wendra.out");
  std::string said;
  wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &said, 15000);
  EXPECT_EQ(0, cetest::WaitExit(wendra, 15000)) << dir.Read("wendra.out");
  fs::remove(mapped);
}

// The driver's edge cases from a program started on another drive than C:
// (here Z:, the host's root): it installs nothing itself, so its
// ActivateDevice must find \Windows\Ravelink.Dll on the device's drive.
TEST(WineDevicesTest, AProgramStartedOutsideDriveCActivatesTheDriver) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  PseudoLine line;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(wine->FreshDevice("", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, line.Path(), &error)) << error;
  std::string fed;
  for (int i = 0; i < 1337; ++i) fed += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(line.Send(fed));
  fs::copy_file(wine->ProgramDir() + "/Ravelink.Dll", wine->DriveC() + "/windows/Ravelink.Dll");

  cetest::TempDir elsewhere;
  std::string output;
  EXPECT_EQ(0, wine->Run("ravelink-conformance.exe", {}, &output, 60000, {}, elsewhere.Path())) << output;
  EXPECT_EQ(std::string::npos, output.find("FAIL")) << output;
  EXPECT_NE(std::string::npos, output.find("ok ")) << output;
}

// Wendra reading the relay, with a second program of the stand-in started
// beside it in the same prefix: the second one's device manager boots
// without taking Wendra's active keys away, and removes its own at its end.
// The relay's client hands Linux a new file of what it read.
TEST(WineDevicesTest, TwoProgramsOfOnePrefixKeepTheirOwnActiveKeys) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  PseudoLine line;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(wine->FreshDevice("", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, line.Path(), &error)) << error;
  cetest::TempDir dir;
  const std::string read = dir.Path() + "/relay.out";
  std::ofstream(read) << "what an earlier run read, longer than this run's sentence\n";
  const std::string trace = dir.Path() + "/wine-trace.jsonl";
  const pid_t wendra = wine->Start("Wendra.exe", {},
                                   {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace),
                                    "CE_RELAY_CLIENT=COM6:", "CE_RELAY_OUTPUT=" + WineSystem::WindowsPath(read)},
                                   dir.Path() + "/wendra.out");
  const std::string sentence = "$GPGGA,000000.00,,,,,0,00,99.99,,,,,,*66\r\n";
  line.SendWhenOpened(sentence, sentence.size());
  EXPECT_TRUE(cetest::WaitForChange(dir.Path(), [&] { return dir.Read("relay.out") == sentence; }))
      << dir.Read("relay.out");

  // Wendra's relay and tap, each with its active key.
  auto activeNames = [&] {
    std::string said;
    wine->Reg({"query", "HKLM\\Drivers\\Active", "/s", "/v", "Name"}, &said);
    return said;
  };
  const std::string before = activeNames();
  ASSERT_NE(std::string::npos, before.find("COM6:")) << before;
  ASSERT_NE(std::string::npos, before.find("COM7:")) << before;
  std::string said;
  ASSERT_EQ(0, wine->Reg({"add", "HKLM\\Drivers\\Active\\01", "/v", "Probe", "/d", "Wendra's", "/f"}, &said)) << said;
  // The conformance program's relay finds the real port held by Wendra's:
  // its checks fail, and its device manager has booted and ended.
  wine->Run("ravelink-conformance.exe", {}, &said);
  EXPECT_EQ(0, wine->Reg({"query", "HKLM\\Drivers\\Active\\01", "/v", "Probe"}, &said)) << said;
  EXPECT_NE(std::string::npos, said.find("Wendra's")) << said;
  EXPECT_EQ(before, activeNames()) << "the second program's active keys went at its end";

  wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &said, 15000);
  EXPECT_EQ(0, cetest::WaitExit(wendra, 15000)) << dir.Read("wendra.out");
}

}  // namespace
}  // namespace winetest
