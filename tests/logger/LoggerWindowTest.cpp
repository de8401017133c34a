// The main window as a user meets it: Wendra runs as its own process on a
// device served from the test; the test presses buttons and taps through the
// device and reads the window trace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "LoggerTestSupport.h"
#include "WendraProcess.h"

namespace loggertest {
namespace {

const std::u16string kTitle = WindowTitle(u"Wendra");

LRESULT Press(HWND window, int id) { return SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
LRESULT Tap(HWND window, int x, int y) { return SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }

std::string Burst(int quality, double minutes) {
  char rmc[128];
  std::snprintf(rmc, sizeof rmc, "GPRMC,090502,A,3539.%04d,N,13944.4874,E,020.0,084.4,070308,,", static_cast<int>(minutes));
  return Sentence("GPGGA,090502,3539.4874,N,13944.4874,E," + std::to_string(quality) + ",08,0.9,45.3,M,39.0,M,,") +
         Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") + Sentence(rmc);
}

const char kIdle[] = "fg=[0,0,0] mode=1 bg=[192,192,192]";
const char kWaiting[] = "fg=[255,255,255] mode=2 bg=[0,0,255]";
const char kNoFix[] = "fg=[0,0,0] mode=2 bg=[255,255,0]";
const char kFailed[] = "fg=[255,255,255] mode=2 bg=[255,0,0]";

// The dialog, then its 23 controls in template order: id, kind, caption,
// pixel geometry (7/4 px across, 3/2 px down; images take their bitmap's size),
// state; then its two icons.
void ExpectCreatedFromTemplate102(const std::vector<TraceEntry>& trace) {
  struct Expected {
    int id;
    const char* kind;
    const char* text;
    int x, y, w, h;
    bool enabled, shown;
  };
  const Expected controls[] = {
      {1000, "button", "ログ開始", 11, 53, 89, 75, true, true},
      {1001, "button", "ログ停止", 100, 53, 89, 75, false, true},
      {1002, "button", "最小化", 194, 53, 90, 75, true, true},
      {1003, "button", "終了", 194, 135, 90, 75, true, true},
      {1007, "image", "", 2, 15, 13, 13, true, true},
      {1008, "image", "", 2, 15, 13, 13, true, false},
      {1009, "image", "", 0, 0, 56, 15, true, true},
      {1020, "text", "LOG", 16, 17, 28, 12, true, true},
      {1011, "image", "", 2, 30, 13, 13, false, true},
      {1012, "image", "", 2, 30, 13, 13, true, true},
      {-1, "text", "RCV", 16, 30, 28, 12, true, true},
      {1013, "button", "Button1", 11, 135, 89, 75, false, true},
      {1014, "button", "Button2", 100, 135, 89, 75, false, true},
      {1015, "edit", "", 95, 8, 73, 15, true, true},
      {-1, "text", "緯度:", 58, 8, 37, 15, true, true},
      {1016, "edit", "", 95, 23, 73, 15, true, true},
      {-1, "text", "経度:", 58, 23, 37, 15, true, true},
      {1017, "edit", "", 215, 8, 32, 15, true, true},
      {-1, "text", "最高速:", 168, 8, 47, 15, true, true},
      {-1, "text", "km/h", 247, 8, 31, 15, true, true},
      {1018, "edit", "", 215, 23, 21, 15, true, true},
      {1019, "edit", "", 236, 23, 37, 15, true, true},
      {-1, "text", "測位:", 173, 23, 42, 15, true, true},
  };
  ASSERT_GE(trace.size(), 24u);
  EXPECT_EQ(trace[0].op, "create");
  EXPECT_EQ(trace[0].Get("kind"), "dialog");
  EXPECT_EQ(trace[0].Int("style"), 0x90800A40 & ~0x10000000);  // shown once initialised
  EXPECT_EQ(trace[0].Int("exstyle"), 0x80040000);
  for (size_t i = 0; i < 23; ++i) {
    const TraceEntry& e = trace[i + 1];
    const Expected& c = controls[i];
    SCOPED_TRACE("control " + std::to_string(i + 1));
    EXPECT_EQ(e.op, "create");
    EXPECT_EQ(e.Int("id"), c.id);
    EXPECT_EQ(e.Get("kind"), c.kind);
    EXPECT_EQ(e.Get("text"), c.text);
    EXPECT_EQ(std::vector<long long>({e.Int("x"), e.Int("y"), e.Int("w"), e.Int("h")}),
              std::vector<long long>({c.x, c.y, c.w, c.h}));
    EXPECT_EQ(e.Get("enabled"), c.enabled ? "true" : "false");
    EXPECT_EQ(e.Get("shown"), c.shown ? "true" : "false");
  }
  EXPECT_EQ(trace[24].op, "icon");
  EXPECT_EQ(trace[24].Int("type"), ICON_BIG);
  EXPECT_EQ(trace[24].Int("w"), 32);
  EXPECT_EQ(trace[25].Int("type"), ICON_SMALL);
  EXPECT_EQ(trace[25].Int("w"), 16);
}

// Centred, titled, top-most, then the tile at (0, 100), 58 x 50, in that
// order; answers the tile's place in the trace, or -1.
int ExpectPlacedThenTiled(const std::vector<TraceEntry>& trace) {
  int centred = -1, titled = -1, topmost = -1, tile = -1;
  for (size_t i = 0; i < trace.size(); ++i) {
    const TraceEntry& e = trace[i];
    if (e.op == "place" && e.Int("x") == 10 && e.Int("y") == 11 && e.Get("topmost") == "false") centred = int(i);
    if (e.op == "title" && e.Get("text") == "Wendra@kelbrun<*+~#$>") titled = int(i);
    if (e.op == "place" && e.Int("w") == 300 && e.Get("topmost") == "true") topmost = int(i);
    if (e.op == "place" && e.Int("x") == 0 && e.Int("y") == 100 && e.Int("w") == 58 && e.Int("h") == 50 &&
        e.Get("topmost") == "true" && tile < 0) {
      tile = int(i);
    }
  }
  EXPECT_TRUE(centred >= 0 && centred < titled && titled < topmost && topmost < tile)
      << centred << " " << titled << " " << topmost << " " << tile;
  return tile;
}

TEST(LoggerWindowTest, ComesUpFromTemplate102AsTheTile) {
  WendraDevice device;
  const pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  // The controls paint one by one: the status box's may come after the first.
  ASSERT_GE(WaitForEntry(device.Trace(), [](const TraceEntry& e) { return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX; }),
            0);
  const auto trace = ReadTrace(device.Trace());

  ASSERT_NO_FATAL_FAILURE(ExpectCreatedFromTemplate102(trace));
  const int tile = ExpectPlacedThenTiled(trace);
  ASSERT_GT(tile, 0);
  EXPECT_EQ(Count(trace, "beep"), 1);
  EXPECT_EQ(trace[tile - 1].op, "beep");
  EXPECT_EQ(Count(trace, "msgbox"), 0);
  EXPECT_EQ(StatusColours(trace), kIdle);
  EXPECT_EQ(FindTitle(kTitle) != NULL, true);

  ASSERT_EQ(Press(FindTitle(kTitle), IDC_EXIT), 0);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  EXPECT_EQ(FindTitle(kTitle), HWND(NULL));
}

TEST(LoggerWindowTest, TileRestoreAndTheRestoreSignal) {
  WendraDevice device;
  device.Install("Wendra", "");  // topmost set, rstcurrun clear
  pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  size_t mark = ReadTrace(device.Trace()).size();

  // The restore signal leaves the tile alone: no beep, no placement.
  Tap(window, 255, 255);
  auto trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(trace, "beep", mark) + Count(trace, "place", mark), 0);

  // A tap anywhere on the tile restores 303 x 220 at (8, 10), top-most, with one beep.
  Tap(window, 20, 30);
  trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(trace, "beep", mark), 1);
  ASSERT_EQ(Count(trace, "place", mark), 1);
  EXPECT_TRUE(WaitForPlace(device.Trace(), 8, 10, 303, 220, mark));
  for (size_t i = mark; i < trace.size(); ++i) {
    if (trace[i].op == "place") {
      EXPECT_EQ(trace[i].Get("topmost"), "true");
    }
  }

  // The full window ignores taps and the signal; Minimize is the tile again, with one beep.
  mark = trace.size();
  Tap(window, 255, 255);
  Tap(window, 20, 30);
  Press(window, IDC_MINIMIZE);
  trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(trace, "beep", mark), 1);
  EXPECT_TRUE(WaitForPlace(device.Trace(), 0, 100, 58, 50, mark));
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);

  // With topmost clear the restored window is not top-most; with rstcurrun set the signal restores.
  device.Install("Wendra", "topmost=0\nrstcurrun=1\nminposx=3\nminposy=4\nminsizew=70\nminsizeh=0\n");
  wendra = device.Start("Wendra", 1);
  ASSERT_TRUE(WaitForStartUp(device.Trace("Wendra", 1)));
  window = FindTitle(kTitle);
  trace = ReadTrace(device.Trace("Wendra", 1));
  EXPECT_TRUE(WaitForPlace(device.Trace("Wendra", 1), 3, 4, 65, 1));
  EXPECT_EQ(Count(trace, "place"), 2) << "centring and the tile: no top-most step";
  mark = trace.size();
  Tap(window, 255, 255);
  trace = ReadTrace(device.Trace("Wendra", 1));
  EXPECT_EQ(Count(trace, "beep", mark), 1);
  ASSERT_TRUE(WaitForPlace(device.Trace("Wendra", 1), 8, 10, 303, 220, mark));
  for (size_t i = mark; i < trace.size(); ++i) {
    if (trace[i].op == "place") {
      EXPECT_EQ(trace[i].Get("topmost"), "false");
    }
  }
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

// Start with autominimize beeps twice; autostart beeps three times with it,
// twice without, and the first painting already shows the wait for a fix.
TEST(LoggerWindowTest, StartBeepsAndAutostart) {
  WendraDevice device;
  pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  Tap(window, 1, 1);
  size_t mark = ReadTrace(device.Trace()).size();
  Press(window, IDC_START);
  auto trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(trace, "beep", mark), 2);
  EXPECT_EQ(Count(trace, "timer", mark), 1);
  EXPECT_TRUE(WaitForPlace(device.Trace(), 0, 100, 58, 50, mark));
  EXPECT_GE(WaitForEntry(device.Trace(), [](const TraceEntry& e) { return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX; },
                         mark),
            0);
  EXPECT_EQ(StatusColours(ReadTrace(device.Trace()), mark), kWaiting);
  // Stop while waiting: the box returns to black on the window's background.
  mark = ReadTrace(device.Trace()).size();
  Press(window, IDC_STOP);
  trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(trace, "killtimer", mark), 1);
  EXPECT_GE(WaitForEntry(device.Trace(), [](const TraceEntry& e) { return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX; },
                         mark),
            0);
  EXPECT_EQ(StatusColours(ReadTrace(device.Trace()), mark), kIdle);
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);

  const char* settings[] = {"autostart=1\n", "autostart=1\nautominimize=0\n"};
  const int beeps[] = {3, 2};
  for (int run = 1; run <= 2; ++run) {
    device.Install("Wendra", settings[run - 1]);
    wendra = device.Start("Wendra", run);
    ASSERT_TRUE(WaitForStartUp(device.Trace("Wendra", run)));
    trace = ReadTrace(device.Trace("Wendra", run));
    EXPECT_EQ(Count(trace, "beep"), beeps[run - 1]) << settings[run - 1];
    int firstPaint = WaitForEntry(device.Trace("Wendra", run),
                                  [](const TraceEntry& e) { return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX; });
    ASSERT_GE(firstPaint, 0);
    trace = ReadTrace(device.Trace("Wendra", run));
    EXPECT_EQ(StatusColours({trace[firstPaint]}), kWaiting);
    Press(FindTitle(kTitle), IDC_EXIT);
    EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  }
}

// The pass that read a burst fed after entry mark (the data image shown) and
// the pass after it (the idle image shown again): their entries' indices.
bool WaitForBurstPasses(const std::string& trace, size_t mark, int* data, int* idle) {
  *data = WaitForEntry(trace, Step("show", IDC_RECEIVE_LAMP_DATA, "shown", "true"), mark);
  *idle = *data < 0 ? -1
                    : WaitForEntry(trace, Step("show", IDC_RECEIVE_LAMP_IDLE, "shown", "true"),
                                   static_cast<size_t>(*data));
  return *idle >= 0;
}

// The first poll shows the lamp as the dialog shows it already: a call,
// kept here since the trace keeps every call, that repaints nothing. From
// then on a poll calls the lamp only when its outcome changes: a burst makes
// one step to the data image and one back.
TEST(LoggerWindowTest, TheLampIsCalledOnlyWhenAPollChangesIt) {
  WendraDevice device;
  const pid_t wendra = device.Start("Wendra", 0, "", 0, kEveryCall);
  EXPECT_TRUE(WaitForStartUp(device.Trace()));
  const int firstPoll = WaitForEntry(device.Trace(), Step("show", IDC_RECEIVE_LAMP_IDLE, "shown", "true"));
  ASSERT_GE(firstPoll, 0);
  const size_t mark = static_cast<size_t>(firstPoll) + 1;
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());
  device.Receiver().Feed(Burst(1, 7));
  int data = -1, idle = -1;
  ASSERT_TRUE(WaitForBurstPasses(device.Trace(), mark, &data, &idle));
  const auto trace = ReadTrace(device.Trace());
  const std::vector<TraceEntry> polls(trace.begin() + static_cast<long>(mark), trace.begin() + idle + 1);
  EXPECT_EQ(Count(polls, "show", 0, IDC_RECEIVE_LAMP_DATA), 2) << "shown and hidden once";
  EXPECT_EQ(Count(polls, "show", 0, IDC_RECEIVE_LAMP_IDLE), 2) << "hidden and shown once";
  // Before the burst each image is painted at most once: for the window's
  // first painting, when that came after the first poll.
  const std::vector<TraceEntry> atRest(trace.begin() + static_cast<long>(mark), trace.begin() + data);
  EXPECT_LE(Count(atRest, "paint", 0, IDC_RECEIVE_LAMP_DATA), 1);
  EXPECT_LE(Count(atRest, "paint", 0, IDC_RECEIVE_LAMP_IDLE), 1);
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

// The ids of a process's threads with this name.
std::vector<std::string> ThreadsNamed(pid_t pid, const std::string& name) {
  std::vector<std::string> found;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::string comm;
    std::getline(std::ifstream(task.path() / "comm"), comm);
    if (comm == name) found.push_back(task.path().filename().string());
  }
  return found;
}

// A look at both processes pairs the receive thread with the device's thread
// that answers it: the host names a thread after its start routine, which
// Wendra exports, and the device names the thread serving a program's
// thread after that thread's id. The first poll has asked the device for
// the port's status by the time it sets the lamp.
TEST(LoggerWindowTest, TheReceiveThreadAndTheDeviceThreadServingItAreNamed) {
  WendraDevice device;
  const pid_t wendra = device.Start("Wendra", 0, "", 0, kEveryCall);
  ASSERT_GE(WaitForEntry(device.Trace(), Step("show", IDC_RECEIVE_LAMP_IDLE, "shown", "true")), 0);
  const std::vector<std::string> receiver = ThreadsNamed(wendra, "ReceiveLoop");
  ASSERT_EQ(receiver.size(), 1u);
  EXPECT_EQ(ThreadsNamed(::getpid(), "for " + receiver[0]).size(), 1u);
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

TEST(LoggerWindowTest, LauncherButtons) {
  WendraDevice device;
  // A program of the device that notes its parameters.
  const std::string nav = device.HostPath("Windows/nav.sh");
  std::ofstream(nav) << "#!/bin/sh\necho \"$@\" > \"$CEDEVICE_ROOT/launched\"\n";
  ::chmod(nav.c_str(), 0755);
  // Saved on the device, in Shift_JIS: the caption "ナビ" and the path \Windows\地図\missing.exe.
  device.Install("Wendra",
                 "btn1appname=\x83\x69\x83\x72\nbtn1apppath=\\Windows\\\x92\x6E\x90\x7D\\missing.exe\n"
                 "btn2appname=\nbtn2apppath=\\Windows\\nav.sh\nbtn2appargv=-x \"two words\"\n");
  const pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  auto trace = ReadTrace(device.Trace());
  // Each launcher with a path takes its caption (even an empty one) and is enabled.
  for (int id : {IDC_LAUNCH1, IDC_LAUNCH2}) {
    int text = -1, enable = -1;
    for (size_t i = 24; i < trace.size(); ++i) {
      if (trace[i].op == "text" && trace[i].Int("id") == id) text = int(i);
      if (trace[i].op == "enable" && trace[i].Int("id") == id && trace[i].Get("enabled") == "true") enable = int(i);
    }
    ASSERT_GE(text, 0);
    EXPECT_EQ(trace[text].Get("text"), id == IDC_LAUNCH1 ? "ナビ" : "");
    EXPECT_GT(enable, text);
  }

  Tap(window, 5, 5);
  size_t mark = ReadTrace(device.Trace()).size();
  Press(window, IDC_LAUNCH1);
  trace = ReadTrace(device.Trace());
  ASSERT_EQ(Count(trace, "msgbox", mark), 1);
  for (size_t i = mark; i < trace.size(); ++i) {
    if (trace[i].op == "launch") {
      EXPECT_EQ(trace[i].Get("ok"), "false");
    }
    if (trace[i].op != "msgbox") continue;
    EXPECT_EQ(trace[i].Get("text"), "起動できません。\n\\Windows\\地図\\missing.exe");
    EXPECT_EQ(trace[i].Get("caption"), "Wendra");
    EXPECT_EQ(trace[i].Int("style"), MB_ICONHAND);
  }
  EXPECT_EQ(Count(trace, "beep", mark) + Count(trace, "place", mark), 0) << "the window stays full";

  mark = trace.size();
  Press(window, IDC_LAUNCH2);
  trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(trace, "msgbox", mark), 0);
  EXPECT_EQ(Count(trace, "beep", mark), 1);
  EXPECT_TRUE(WaitForPlace(device.Trace(), 0, 100, 58, 50, mark));
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (line.empty() && std::chrono::steady_clock::now() < deadline) {
    std::ifstream launched(device.HostPath("launched"));
    std::getline(launched, line);
    if (line.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(line, "-x two words");
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

// The status box follows the flags whenever it paints: waiting, logging
// with a fix, logging without one, stopped, and a write failure for good.
// The status box is painted in these colours at or after entry `from`.
bool PaintedAs(const std::string& tracePath, const char* colours, size_t from) {
  const auto painted = [&](const TraceEntry& e) {
    return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX && StatusColours({e}) == colours;
  };
  return WaitForEntry(tracePath, painted, from) >= 0;
}

// Feeds a burst with a fix and waits until Wendra has read it whole: its
// latitude shown, then a pass that found nothing more. Fed so before Start,
// the wait for a fix ends at its first tick and the burst makes no record,
// whenever that tick comes (a tick amid the burst would make it one).
bool FixBeforeStart(WendraDevice& device, const std::string& trace, const std::string& burst) {
  const size_t mark = ReadTrace(trace).size();
  device.Receiver().Feed(burst);
  const int fixed = WaitForEntry(
      trace, [](const TraceEntry& e) { return e.op == "text" && e.Int("id") == IDC_LATITUDE && !e.Get("text").empty(); },
      mark);
  return fixed >= 0 &&
         WaitForEntry(trace, Step("show", IDC_RECEIVE_LAMP_IDLE, "shown", "true"), static_cast<size_t>(fixed)) >= 0;
}

// Without CE_UI_TRACE_ALL the trace holds what a user could see change: a
// burst that repeats the last one sets its read-outs again and writes no
// text line, and no line shows what its control shows already.
TEST(LoggerWindowTest, TheTraceHoldsOnlyWhatChanged) {
  WendraDevice device;
  const pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());
  const std::string burst = Burst(2, 42);
  ASSERT_TRUE(FixBeforeStart(device, device.Trace(), burst));
  const size_t mark = ReadTrace(device.Trace()).size();
  device.Receiver().Feed(burst);
  int data = -1, idle = -1;
  ASSERT_TRUE(WaitForBurstPasses(device.Trace(), mark, &data, &idle));
  const auto trace = ReadTrace(device.Trace());
  EXPECT_EQ(Count(std::vector<TraceEntry>(trace.begin(), trace.begin() + idle), "text", mark), 0);
  std::map<std::pair<std::string, long long>, std::string> shows;
  for (const TraceEntry& e : trace) {
    if (e.op != "text" && e.op != "show" && e.op != "enable") continue;
    const std::string value = e.Get(e.op == "text" ? "text" : e.op == "show" ? "shown" : "enabled");
    const auto control = std::make_pair(e.op, e.Int("id"));
    if (shows.count(control)) {
      EXPECT_NE(shows[control], value) << e.op << " " << e.Int("id") << " at " << e.Get("ms");
    }
    shows[control] = value;
  }
  Press(FindTitle(kTitle), IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

TEST(LoggerWindowTest, StatusColours) {
  WendraDevice device;
  device.Install("Wendra", "interval=1\nlogdir=\\missing\n");
  const pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());
  auto paintedAs = [&](const char* colours, size_t from) { return PaintedAs(device.Trace(), colours, from); };

  ASSERT_TRUE(FixBeforeStart(device, device.Trace(), Burst(1, 1000)));
  size_t mark = ReadTrace(device.Trace()).size();
  Press(window, IDC_START);
  EXPECT_TRUE(paintedAs(kWaiting, mark));
  // With the fix the tick ends the wait and redraws; no record was due yet.
  EXPECT_TRUE(paintedAs(kIdle, mark));
  // The next cycle is due: its record cannot be written.
  mark = ReadTrace(device.Trace()).size();
  device.Receiver().Feed(Burst(1, 1001));
  EXPECT_TRUE(paintedAs(kFailed, mark));
  auto trace = ReadTrace(device.Trace());
  bool caption = false;
  for (size_t i = mark; i < trace.size(); ++i) {
    caption = caption || (trace[i].op == "text" && trace[i].Int("id") == IDC_START && trace[i].Get("text") == "ログ書込不可");
  }
  EXPECT_TRUE(caption);
  // Red for the rest of the run, whatever arrives.
  mark = trace.size();
  device.Receiver().Feed(Burst(0, 1010));
  Tap(window, 1, 1);
  EXPECT_TRUE(paintedAs(kFailed, mark));
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);

  // Logging without a fix is black on yellow; Stop returns to the background.
  device.Install("Wendra", "interval=1\n");
  const pid_t second = device.Start("Wendra", 1);
  ASSERT_TRUE(WaitForStartUp(device.Trace("Wendra", 1)));
  window = FindTitle(kTitle);
  const std::string trace1 = device.Trace("Wendra", 1);
  auto painted1 = [&](const char* colours, size_t from) { return PaintedAs(trace1, colours, from); };
  Press(window, IDC_START);
  mark = ReadTrace(trace1).size();
  device.Receiver().Feed(Burst(1, 2000));
  EXPECT_TRUE(painted1(kIdle, mark));
  mark = ReadTrace(trace1).size();
  device.Receiver().Feed(Burst(0, 2001));
  EXPECT_TRUE(painted1(kNoFix, mark));
  mark = ReadTrace(trace1).size();
  Press(window, IDC_STOP);
  EXPECT_TRUE(painted1(kIdle, mark));
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(second, 10000), 0);
}

// Presses a button and answers whether the window took it within the bound.
// A window that does not is ended, so the press comes back and the test goes on.
bool PressedWithin(HWND window, int id, pid_t program, std::chrono::milliseconds bound) {
  auto press = std::async(std::launch::async, [=] { return Press(window, id); });
  if (press.wait_for(bound) == std::future_status::ready) return true;
  ::kill(program, SIGKILL);
  press.wait();
  return false;
}

// Stop, Start and Exit while sentences flow fast: the receive thread's
// control updates wait for the window thread, which never waits for the
// receive thread without taking them.
TEST(LoggerWindowTest, StopStartAndExitWhileDataFlowsEachEndWithinABound) {
  WendraDevice device;
  device.Install("Wendra", "interval=1\nautostart=1\n");
  const pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());
  std::atomic<bool> feeding{true};
  std::thread receiver([&] {
    for (int minute = 0; feeding; minute = (minute + 1) % 6000) {
      device.Receiver().Feed(Burst(1, minute));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  // Logging has begun: records are written while the buttons are pressed.
  EXPECT_GE(WaitForEntry(device.Trace(), [](const TraceEntry& e) { return e.op == "killtimer"; }), 0);
  constexpr auto kBound = std::chrono::seconds(5);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(PressedWithin(window, IDC_STOP, wendra, kBound)) << "Stop, round " << i;
    ASSERT_TRUE(PressedWithin(window, IDC_START, wendra, kBound)) << "Start, round " << i;
  }
  EXPECT_TRUE(PressedWithin(window, IDC_EXIT, wendra, kBound));
  const int status = cetest::WaitExit(wendra, 5000);
  feeding = false;
  receiver.join();
  EXPECT_EQ(status, 0) << "Wendra did not end within 5 s of Exit";
}

// The receive thread's read-outs of a burst read just before another
// program's Exit reach the window before it goes.
TEST(LoggerWindowTest, AnExitSentRightAfterABurstLetsTheBurstsReadOutsBeShown) {
  WendraDevice device;
  // Every call traced: the pass that reads the burst may be the thread's
  // first, whose call on the data image may leave it as the dialog shows it.
  const pid_t wendra = device.Start("Wendra", 0, "", 0, kEveryCall);
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());
  const size_t mark = ReadTrace(device.Trace()).size();
  device.Receiver().Feed(Burst(2, 42));
  // The poll that read it has set the data lamp; its read-outs are still to come.
  ASSERT_GE(WaitForEntry(device.Trace(),
                         [](const TraceEntry& e) {
                           return e.op == "show" && e.Int("id") == IDC_RECEIVE_LAMP_DATA && e.Get("shown") == "true";
                         },
                         mark),
            0);
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  const auto trace = ReadTrace(device.Trace());
  std::map<int, std::string> shown;
  for (size_t i = mark; i < trace.size(); ++i) {
    if (trace[i].op == "text") shown[static_cast<int>(trace[i].Int("id"))] = trace[i].Get("text");
  }
  EXPECT_EQ(shown[IDC_LATITUDE].substr(0, 5), "N 35.");
  EXPECT_EQ(shown[IDC_LONGITUDE].substr(0, 6), "E139.7");
  EXPECT_EQ(shown[IDC_TOP_SPEED], "37.0");
  EXPECT_EQ(shown[IDC_FIX_TYPE], "3D");
  EXPECT_EQ(shown[IDC_FIX_QUALITY], "DGPS");
}

// The lines of a track file of the application directory.
std::vector<std::string> TrackLines(const WendraDevice& device) {
  std::vector<std::string> lines;
  for (const auto& entry : std::filesystem::directory_iterator(device.HostPath("Program Files/Wendra"))) {
    const std::string name = entry.path().filename().string();
    if (name.size() != 18 || name.substr(14) != ".txt") continue;
    std::ifstream track(entry.path());
    for (std::string line; std::getline(track, line);) lines.push_back(line);
  }
  return lines;
}

// A launcher's program that takes a second to start holds the window
// thread while bursts arrive: every read-out and lamp step the receive
// thread makes reaches the window, and every record the track.
TEST(LoggerWindowTest, AWindowThreadBusyForASecondLosesNoUpdateOfTheReceiveThread) {
  WendraDevice device;
  const std::string nav = device.HostPath("Windows/nav.sh");
  std::ofstream(nav) << "#!/bin/sh\nexit 0\n";
  ::chmod(nav.c_str(), 0755);
  device.Install("Wendra", "interval=1\nbtn1apppath=\\Windows\\nav.sh\n");
  const pid_t wendra =
      device.Start("Wendra", 0, "", 0, {"LD_PRELOAD=" SLOW_LAUNCH, "ASAN_OPTIONS=verify_asan_link_order=0"});
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());
  auto latitudes = [&] {
    std::vector<std::string> texts;
    for (const TraceEntry& e : ReadTrace(device.Trace())) {
      if (e.op == "text" && e.Int("id") == IDC_LATITUDE) texts.push_back(e.Get("text"));
    }
    return texts;
  };
  ASSERT_TRUE(FixBeforeStart(device, device.Trace(), Burst(1, 0)));
  Press(window, IDC_START);
  const int logging = WaitForEntry(device.Trace(), [](const TraceEntry& e) { return e.op == "killtimer"; });
  ASSERT_GE(logging, 0);
  // One burst with its record, then the launcher, and six bursts while its program starts.
  device.Receiver().Feed(Burst(1, 1));
  ASSERT_TRUE(cetest::WaitForChange(device.Root(), [&] { return latitudes().size() >= 2; }, 30000));
  auto launch = std::async(std::launch::async, [&] { return Press(window, IDC_LAUNCH1); });
  ASSERT_TRUE(cetest::WaitForChange(
      device.Root(), [&] { return std::filesystem::exists(device.HostPath("launching")); }, 30000));
  std::string six;
  for (int minute = 2; minute < 8; ++minute) six += Burst(1, minute);
  device.Receiver().Feed(six);
  ASSERT_EQ(launch.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const bool allShown = cetest::WaitForChange(device.Root(), [&] { return latitudes().size() >= 8; }, 30000);
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);

  EXPECT_TRUE(allShown);
  const std::vector<std::string> shown = latitudes();
  ASSERT_EQ(shown.size(), 8u) << "a latitude of each burst";
  for (size_t i = 1; i < shown.size(); ++i) {
    EXPECT_LT(std::stod(shown[i - 1].substr(1)), std::stod(shown[i].substr(1))) << "in the order of the bursts";
  }
  const auto trace = ReadTrace(device.Trace());
  int blinks = 0, steadies = 0;
  std::map<int, std::string> lastShown;
  for (size_t i = static_cast<size_t>(logging); i < trace.size(); ++i) {
    if (trace[i].op != "show") continue;
    const int id = static_cast<int>(trace[i].Int("id"));
    lastShown[id] = trace[i].Get("shown");
    if (id == IDC_LOG_LAMP_BLINK && trace[i].Get("shown") == "true") ++blinks;
    if (id == IDC_LOG_LAMP_STEADY && trace[i].Get("shown") == "true") ++steadies;
  }
  EXPECT_EQ(blinks, 4) << "seven due records blink, steady, blink, ...";
  EXPECT_EQ(steadies, 3);
  EXPECT_NE(lastShown[IDC_RECEIVE_LAMP_DATA], lastShown[IDC_RECEIVE_LAMP_IDLE]) << "one image of the lamp";
  EXPECT_NE(lastShown[IDC_LOG_LAMP_BLINK], lastShown[IDC_LOG_LAMP_STEADY]);
  EXPECT_EQ(TrackLines(device).size(), 7u) << "a record of each burst after the first";
}

std::function<bool(const TraceEntry&)> StatusPaint(const char* colours) {
  return [=](const TraceEntry& e) { return e.op == "paint" && e.Int("id") == IDC_STATUS_BOX && StatusColours({e}) == colours; };
}

// Start, the tick that finds a fix, Stop and the error stop make their
// steps in the order they are listed for them; the error stop's beep last.
TEST(LoggerWindowTest, StartTheTickStopAndTheErrorStopMakeTheirStepsInOrder) {
  WendraDevice device;
  device.Install("Wendra", "interval=1\nautominimize=0\n");
  pid_t wendra = device.Start();
  ASSERT_TRUE(WaitForStartUp(device.Trace()));
  HWND window = FindTitle(kTitle);
  Navigator navigator;
  ASSERT_TRUE(navigator.Open());

  ASSERT_TRUE(FixBeforeStart(device, device.Trace(), Burst(1, 0)));
  size_t mark = ReadTrace(device.Trace()).size();
  Press(window, IDC_START);
  EXPECT_GE(InOrder(ReadTrace(device.Trace()), mark,
                    {BeepStep(0), Step("timer", 1, "period", "1000"), Step("enable", IDC_START, "enabled", "false"),
                     Step("enable", IDC_STOP, "enabled", "true")}),
            0)
      << "Start";
  ASSERT_GE(WaitForEntry(device.Trace(), Step("killtimer", 1), mark), 0);
  EXPECT_GE(WaitForEntry(device.Trace(), StatusPaint(kIdle), mark), 0) << "the tick redraws the box";
  // A due record with a fix blinks the LOG lamp.
  mark = ReadTrace(device.Trace()).size();
  device.Receiver().Feed(Burst(1, 1));
  ASSERT_GE(WaitForEntry(device.Trace(), Step("show", IDC_LOG_LAMP_STEADY, "shown", "false"), mark), 0);
  mark = ReadTrace(device.Trace()).size();
  Press(window, IDC_STOP);
  EXPECT_GE(InOrder(ReadTrace(device.Trace()), mark,
                    {BeepStep(0), StatusPaint(kIdle), Step("enable", IDC_STOP, "enabled", "false"),
                     Step("enable", IDC_START, "enabled", "true"), Step("show", IDC_LOG_LAMP_BLINK, "shown", "false"),
                     Step("show", IDC_LOG_LAMP_STEADY, "shown", "true")}),
            0)
      << "Stop";
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);

  // The first record cannot be written: the error stop, its beep last.
  device.Install("Wendra", "interval=1\nautominimize=0\nlogdir=\\missing\n");
  wendra = device.Start("Wendra", 1);
  const std::string trace1 = device.Trace("Wendra", 1);
  ASSERT_TRUE(WaitForStartUp(trace1));
  window = FindTitle(kTitle);
  ASSERT_TRUE(FixBeforeStart(device, trace1, Burst(1, 2)));
  Press(window, IDC_START);
  ASSERT_GE(WaitForEntry(trace1, Step("killtimer", 1)), 0);
  mark = ReadTrace(trace1).size();
  device.Receiver().Feed(Burst(1, 3));
  const int beep = WaitForEntry(trace1, BeepStep(MB_ICONEXCLAMATION), mark);
  ASSERT_GE(beep, 0);
  const auto trace = ReadTrace(trace1);
  const int disabled = InOrder(trace, mark,
                               {Step("show", IDC_LOG_LAMP_BLINK, "shown", "false"),
                                Step("show", IDC_LOG_LAMP_STEADY, "shown", "true"),
                                Step("text", IDC_START, "text", "ログ書込不可"), Step("enable", IDC_STOP, "enabled", "false")});
  EXPECT_GE(disabled, 0) << "the error stop's steps in order";
  EXPECT_LT(disabled, beep) << "the beep last";
  // The redraw asked for after Stop is disabled: the window thread paints
  // it, at once or, when it is painting already, just after.
  EXPECT_GE(WaitForEntry(trace1, StatusPaint(kFailed), static_cast<size_t>(std::max(disabled, 0))), 0);
  Press(window, IDC_EXIT);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
}

}  // namespace
}  // namespace loggertest
