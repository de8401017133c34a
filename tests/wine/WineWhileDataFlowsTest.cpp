// Wendra on Wine while sentences flow fast: on Win32 a control's text set
// from another thread waits for the window's thread, so Stop, Start and Exit
// (which wait for the receive thread) must take those updates while they
// wait. Each press is answered within a bound, and the program ends.
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

TEST(WineWhileDataFlowsTest, StopStartAndExitWhileDataFlowsEachEndWithinABound) {
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

  // A window thread that waited for ever would leave the sender waiting too.
  // The bound holds the start of the sending Wine program as well.
  constexpr int kBoundMs = 15000;
  auto press = [&](int id) {
    std::string said;
    const int status = wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(id), "0"}, &said, kBoundMs);
    EXPECT_EQ(0, status) << "control " << id << ": " << said;
    return status == 0;
  };
  for (int i = 0; i < 5; ++i) {
    if (!press(IDC_STOP) || !press(IDC_START)) break;
  }
  EXPECT_TRUE(press(IDC_EXIT));
  EXPECT_EQ(0, cetest::WaitExit(wendra, kBoundMs)) << dir.Read("wendra.out");

  int texts = 0, fromOtherThreads = 0;
  for (const TraceEntry& e : loggertest::ReadTrace(trace)) {
    texts += e.op == "text" ? 1 : 0;
    fromOtherThreads += e.Get("otherthread") == "true" ? 1 : 0;
  }
  EXPECT_GT(texts, 100) << "the read-outs followed the sentences";
  EXPECT_GT(fromOtherThreads, 0) << "the receive thread updates the window itself";
}

// A track that cannot be written: the error stop's steps on Wine, in their
// order, the exclamation beep last, as the host makes them.
TEST(WineWhileDataFlowsTest, TheErrorStopMakesItsStepsInOrderWithTheBeepLast) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  PseudoLine line;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(wine->FreshDevice("autostart=1\r\ninterval=1\r\nlogdir=\\missing\r\n", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, line.Path(), &error)) << error;
  cetest::TempDir dir;
  const std::string trace = dir.Path() + "/wine-trace.jsonl";
  const pid_t wendra =
      wine->Start("Wendra.exe", {},
                  {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace), "CE_RELAY_CLIENT=COM6:",
                   "CE_RELAY_GATE=4000"},  // some fixes, the rest once logging has begun
                  dir.Path() + "/wendra.out");
  line.SendWhenOpened(loggertest::ReadTestData("drive-tokyo.nmea"), 20 * 48);
  const int beep = loggertest::WaitForEntry(trace, loggertest::BeepStep(MB_ICONEXCLAMATION));
  EXPECT_GE(beep, 0) << dir.Read("wendra.out");
  const int disabled = loggertest::InOrder(
      loggertest::ReadTrace(trace), 0,
      {loggertest::Step("killtimer", 1), loggertest::Step("show", IDC_LOG_LAMP_BLINK, "shown", "false"),
       loggertest::Step("show", IDC_LOG_LAMP_STEADY, "shown", "true"), loggertest::Step("text", IDC_START, "text", "ログ書込不可"),
       loggertest::Step("enable", IDC_STOP, "enabled", "false")});
  EXPECT_GE(disabled, 0) << "the error stop's steps in order";
  EXPECT_LT(disabled, beep) << "the beep last";
  // The redraw asked for after Stop is disabled: Wine paints it at once or,
  // when the window thread is painting already, just after.
  EXPECT_GE(loggertest::WaitForEntry(trace,
                                     [](const TraceEntry& e) {
                                       return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX && e.Get("bg") == "[255,0,0]";
                                     },
                                     static_cast<size_t>(disabled < 0 ? 0 : disabled)),
            0);
  std::string said;
  EXPECT_EQ(0, wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &said, 15000)) << said;
  EXPECT_EQ(0, cetest::WaitExit(wendra, 15000)) << dir.Read("wendra.out");
}

}  // namespace
}  // namespace winetest
