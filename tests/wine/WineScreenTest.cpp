// Dialog 102 as Wine draws it and as the host's GTK backend draws it, on an
// X display (Xvfb), in the same state: logging, a 3D fix, a position south
// and west. The pictures are kept in the build folder (tests/screenshots,
// wine-full.ppm and host-full.ppm) to be looked at side by side.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ControlIds.h"
#include "LoggerTestSupport.h"
#include "PseudoLine.h"
#include "WendraProcess.h"
#include "WineSystem.h"
#include "XScreen.h"

namespace winetest {
namespace {

using loggertest::Pixel;
using loggertest::Screen;
using loggertest::TraceEntry;

// Bursts of a receiver near Santiago: south and west, a 3D fix, one a second.
std::string SouthWestBursts(int seconds) {
  std::string bursts;
  for (int s = 0; s < seconds; ++s) {
    char time[16];
    std::snprintf(time, sizeof time, "1200%02d", s);
    bursts += loggertest::Sentence(std::string("GPGGA,") + time + ",3326.9640,S,07039.6600,W,1,08,0.9,520.0,M,30.0,M,,") +
              loggertest::Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") +
              loggertest::Sentence(std::string("GPRMC,") + time + ",A,3326.9640,S,07039.6600,W,012.0,045.0,091226,,");
  }
  return bursts;
}

// Logging has begun with the fix and the latitude shows the south.
bool LoggingInTheSouth(const std::string& trace) {
  return loggertest::WaitForEntry(trace, [](const TraceEntry& e) { return e.op == "killtimer"; }) >= 0 &&
         loggertest::WaitForEntry(trace, [](const TraceEntry& e) {
           return e.op == "text" && e.Int("id") == IDC_LATITUDE && e.Get("text").rfind("S", 0) == 0;
         }) >= 0;
}

// The full window at (8, 10), 303 x 220, drawn over the black of the
// screen, and nothing outside it.
// Its painting is done when ten grabs in a row, 50 ms apart, are the same.
bool FullWindowDrawn(Screen& screen) {
  const Pixel black{0, 0, 0};
  std::vector<Pixel> last;
  int same = 0;
  return loggertest::ShowsWithin(screen, [&] {
    std::vector<Pixel> now = screen.Region(RECT{0, 0, Screen::WIDTH, Screen::HEIGHT});
    same = now == last ? same + 1 : 0;
    last = std::move(now);
    return same >= 10 && screen.Count(8, 10, 311, 230, black) < 303 * 220 / 20 &&
           screen.Count(0, 0, 320, 10, black) == 320 * 10 && screen.Count(0, 230, 320, 240, black) == 320 * 10;
  });
}

// Wine draws on the display while this lives, then on none again, whatever
// the test's end, for the tests that share the prefix.
class WineOnDisplay {
 public:
  WineOnDisplay(WineSystem* wine, const std::string& display, std::string* error)
      : wine_(wine), on_(wine->UseDisplay(display, error)) {}
  ~WineOnDisplay() {
    std::string error;
    if (on_) {
      EXPECT_TRUE(wine_->UseDisplay("", &error)) << error;
    }
  }
  bool On() const { return on_; }

 private:
  WineSystem* wine_;
  bool on_;
};

TEST(WineScreenTest, TheFullWindowAsWineAndAsTheHostDrawIt) {
  loggertest::XvfbServer server;
  ASSERT_TRUE(server.X()) << server.Failure();
  Screen screen(server.X());

  {
    loggertest::WendraDevice device;
    device.Install("Wendra", "autostart=1\r\n");
    const pid_t wendra = device.Start("Wendra", 0, server.Name());
    ASSERT_TRUE(loggertest::WaitForStartUp(device.Trace()));
    loggertest::Navigator navigator;
    ASSERT_TRUE(navigator.Open());
    device.Receiver().Feed(SouthWestBursts(5));
    EXPECT_TRUE(LoggingInTheSouth(device.Trace()));
    const HWND window = loggertest::FindTitle(loggertest::WindowTitle(u"Wendra"));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));  // a tap on the tile
    EXPECT_TRUE(FullWindowDrawn(screen)) << "the host's full window";
    screen.Save(CE_SCREENSHOTS, "host-full");
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(0, cetest::WaitExit(wendra, 10000));
  }

  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  const WineOnDisplay drawn(wine, server.Name(), &error);
  ASSERT_TRUE(drawn.On()) << error;
  PseudoLine line;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(wine->FreshDevice("autostart=1\r\n", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, line.Path(), &error)) << error;
  cetest::TempDir dir;
  const std::string trace = dir.Path() + "/wine-trace.jsonl";
  const pid_t wendra = wine->Start("Wendra.exe", {}, {"CE_UI_TRACE=" + WineSystem::WindowsPath(trace), "CE_RELAY_CLIENT=COM6:"},
                                   dir.Path() + "/wendra.out");
  line.SendWhenOpened(SouthWestBursts(5), 48);
  EXPECT_TRUE(LoggingInTheSouth(trace)) << dir.Read("wendra.out");
  std::string said;
  EXPECT_EQ(0, wine->Run("ce-send.exe", {WendraTitle(), std::to_string(WM_LBUTTONUP), "0",
                                         std::to_string(MAKELPARAM(5, 5))}, &said)) << said;
  EXPECT_TRUE(FullWindowDrawn(screen)) << "Wine's full window";
  screen.Save(CE_SCREENSHOTS, "wine-full");
  EXPECT_EQ(0, wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &said)) << said;
  EXPECT_EQ(0, cetest::WaitExit(wendra, 30000)) << dir.Read("wendra.out");
}

}  // namespace
}  // namespace winetest
