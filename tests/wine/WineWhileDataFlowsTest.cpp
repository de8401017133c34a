// Wendra on Wine while sentences flow fast: on Win32 a control's text set
// from another thread waits for the window's thread, so Stop, Start and Exit
// (which wait for the receive thread) must never meet an update that waits
// for them. Every change of a window is made on the window's own thread.
#include <gtest/gtest.h>

#include <string>

#include "ControlIds.h"
#include "LoggerTestSupport.h"
#include "PseudoLine.h"
#include "WendraProcess.h"
#include "WineSystem.h"
#include "resource.h"

namespace winetest {
namespace {

using loggertest::TraceEntry;

TEST(WineWhileDataFlowsTest, StopStartAndExitNeverWaitForTheReceiveThreadsUpdates) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  PseudoLine line;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(wine->FreshDevice("autostart=1\r\ninterval=1\r\nwritecache=1\r\n", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, line.Path(), &error)) << error;
  // Ten times the drive, at twenty times the line's rate: every poll finds
  // sentences, and every record's texts are still being set.
  const std::string drive = loggertest::ReadTestData("drive-tokyo.nmea");
  std::string capture;
  for (int i = 0; i < 10; ++i) capture += drive;

  cetest::TempDir dir;
  const std::string trace = dir.Path() + "/wine-trace.jsonl";
  const pid_t wendra =
      wine->Start("Wendra.exe", {}, {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace), "CE_RELAY_CLIENT=COM6:"},
                  dir.Path() + "/wendra.out");
  line.SendWhenOpened(capture, 20 * 48);
  ASSERT_GE(loggertest::WaitForEntry(trace, [](const TraceEntry& e) { return e.op == "killtimer"; }), 0)
      << "logging began with the first fix";

  auto press = [&](int id) {
    std::string said;
    // A window thread that waits for ever leaves the sender waiting too.
    EXPECT_EQ(0, wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(id), "0"}, &said, 20000))
        << "control " << id << ": " << said;
  };
  for (int i = 0; i < 5; ++i) {
    press(IDC_STOP);
    press(IDC_START);
  }
  press(IDC_EXIT);
  EXPECT_EQ(0, cetest::WaitExit(wendra, 20000)) << dir.Read("wendra.out");

  int texts = 0, fromOtherThreads = 0;
  std::string first;
  for (const TraceEntry& e : loggertest::ReadTrace(trace)) {
    texts += e.op == "text" ? 1 : 0;
    if (e.Get("otherthread") == "true" && fromOtherThreads++ == 0) first = e.op + " of control " + std::to_string(e.Int("id"));
  }
  EXPECT_EQ(0, fromOtherThreads) << "the first: " << first;
  EXPECT_GT(texts, 100) << "the read-outs followed the sentences";
}

}  // namespace
}  // namespace winetest
