// Devices on Wine as the device has them: a device name that no driver and
// no serial port of the device answers opens nothing, whatever Wine maps on
// its own; and the programs of one prefix each keep their own active keys.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "LoggerTestSupport.h"
#include "PseudoLine.h"
#include "TempDir.h"
#include "WendraProcess.h"
#include "WineSystem.h"

namespace winetest {
namespace {

namespace fs = std::filesystem;
using loggertest::TraceEntry;

// A device as new, its receiver's port bound to a line of the test's.
class WineDevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    wine_ = WineSystem::Shared(&error);
    ASSERT_TRUE(wine_) << error;
    ASSERT_TRUE(receiver_.Open());
    ASSERT_TRUE(wine_->FreshDevice("", &error)) << error;
    ASSERT_TRUE(wine_->BindPort(5, receiver_.Path(), &error)) << error;
  }
  // Ends Wendra through its Exit button.
  void Exit(pid_t wendra) {
    std::string said;
    wine_->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &said, 15000);
    EXPECT_EQ(0, cetest::WaitExit(wendra, 15000)) << dir_.Read("wendra.out");
  }

  WineSystem* wine_ = nullptr;
  PseudoLine receiver_;
  cetest::TempDir dir_;
};

// Wendra without its driver, on a prefix where Wine itself maps COM7 to a
// line: the tap COM7: is no device, so Wendra says it cannot open its port
// instead of reading the line.
TEST_F(WineDevicesTest, ATapPortNoDriverAnswersIsNoDeviceWhateverWineMaps) {
  PseudoLine stray;
  ASSERT_TRUE(stray.Open());
  fs::remove(wine_->ProgramDir() + "/Ravelink.Dll");  // nothing to install
  const std::string mapped = wine_->DriveC() + "/../dosdevices/com7";
  fs::remove(mapped);
  fs::create_symlink(stray.Path(), mapped);

  const std::string trace = dir_.Path() + "/wine-trace.jsonl";
  const pid_t wendra = wine_->Start("Wendra.exe", {}, {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace)},
                                    dir_.Path() + "/wendra.out");
  EXPECT_GE(loggertest::WaitForEntry(trace,
                                     [](const TraceEntry& e) {
                                       return e.op == "msgbox" && e.Get("text").find(
                                                                      "シリアルポートのオープンに失敗しました。") == 0;
                                     }),
            0)
      << dir_.Read("wendra.out");
  Exit(wendra);
  fs::remove(mapped);
}

// Wendra reading the relay, with a second program of the stand-in started
// beside it in the same prefix: the second one's device manager boots
// without taking Wendra's active keys away, and removes its own at its end.
// The relay's client hands Linux a new file of what it read.
TEST_F(WineDevicesTest, TwoProgramsOfOnePrefixKeepTheirOwnActiveKeys) {
  const std::string read = dir_.Path() + "/relay.out";
  std::ofstream(read) << "what an earlier run read, longer than this run's sentence\n";
  const std::string trace = dir_.Path() + "/wine-trace.jsonl";
  const pid_t wendra = wine_->Start("Wendra.exe", {},
                                   {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace),
                                    "CE_RELAY_CLIENT=COM6:", "CE_RELAY_OUTPUT=" + WineSystem::WindowsPath(read)},
                                   dir_.Path() + "/wendra.out");
  const std::string sentence = "$GPGGA,000000.00,,,,,0,00,99.99,,,,,,*66\r\n";
  receiver_.SendWhenOpened(sentence, sentence.size());
  EXPECT_TRUE(cetest::WaitForChange(dir_.Path(), [&] { return dir_.Read("relay.out") == sentence; }))
      << dir_.Read("relay.out");

  // Wendra's relay and tap, each with its active key.
  auto activeNames = [&] {
    std::string said;
    wine_->Reg({"query", "HKLM\\Drivers\\Active", "/s", "/v", "Name"}, &said);
    return said;
  };
  const std::string before = activeNames();
  ASSERT_NE(std::string::npos, before.find("COM6:")) << before;
  ASSERT_NE(std::string::npos, before.find("COM7:")) << before;
  std::string said;
  ASSERT_EQ(0, wine_->Reg({"add", "HKLM\\Drivers\\Active\\01", "/v", "Probe", "/d", "Wendra's", "/f"}, &said)) << said;
  // The conformance program's relay finds the real port held by Wendra's:
  // its checks fail, and its device manager has booted and ended.
  wine_->Run("ravelink-conformance.exe", {}, &said);
  EXPECT_EQ(0, wine_->Reg({"query", "HKLM\\Drivers\\Active\\01", "/v", "Probe"}, &said)) << said;
  EXPECT_NE(std::string::npos, said.find("Wendra's")) << said;
  EXPECT_EQ(before, activeNames()) << "the second program's active keys went at its end";

  Exit(wendra);
}

}  // namespace
}  // namespace winetest
