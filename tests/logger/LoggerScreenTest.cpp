// The window on a real X display (Xvfb): the tile and the full window as the
// screen shows them, checked at a few pixels, with the screenshots kept in
// the build directory (tests/screenshots) to be looked at.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "LoggerTestSupport.h"
#include "WendraProcess.h"
#include "XScreen.h"

namespace loggertest {
namespace {

const std::u16string kTitle = WindowTitle(u"Wendra");

const Pixel kFace{192, 192, 192}, kRing{128, 128, 128}, kYellow{255, 255, 0}, kBlue{0, 0, 255};

// An Xvfb server of its own for each test.
class LoggerScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<XvfbServer>();
    if (!server_->X()) GTEST_SKIP() << server_->Failure();
    display = server_->Name();
    x = server_->X();
  }

  std::unique_ptr<XvfbServer> server_;
  std::string display;
  Display* x = nullptr;
};

TEST_F(LoggerScreenTest, TileAndFullWindowOnTheDisplay) {
  {
    WendraDevice device;
    const pid_t wendra = device.Start("Wendra", 0, display);
    ASSERT_TRUE(WaitForStartUp(device.Trace()));
    HWND window = FindTitle(kTitle);
    Screen screen(x);

    // The tile at (0, 100): border, then the client area. The LOG lamp's
    // steady image (a grey ring on light grey) at client (2, 15), the
    // receive lamp's idle image at (2, 30) once the first poll has run.
    const int left = 1, top = 101;
    EXPECT_TRUE(ShowsWithin(screen, [&] {
      return screen.At(left + 2 + 6, top + 15 + 6) == kFace && screen.At(left + 2 + 6, top + 15) == kRing &&
             screen.At(left + 2 + 6, top + 30 + 6) == kFace && screen.At(left + 2 + 6, top + 30) == kRing &&
             screen.Count(0, 100, 58, 150, kFace) > 500;
    })) << "the tile with both lamps off";
    EXPECT_EQ(screen.Count(left + 16, top + 17, left + 44, top + 29, kBlue), 0);
    screen.Save(CE_SCREENSHOTS, "tile");

    // Start: waiting for a fix, the status box white on blue behind "LOG".
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), 0);
    EXPECT_TRUE(ShowsWithin(screen, [&] { return screen.Count(left + 16, top + 17, left + 44, top + 29, kBlue) > 30; }))
        << "the status box in blue";
    screen.Save(CE_SCREENSHOTS, "tile-waiting");

    // A tap restores the full window at (8, 10), 303 x 220.
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(ShowsWithin(screen, [&] {
      return screen.Count(8, 10, 311, 230, kFace) > 20000 && screen.Count(0, 0, 320, 10, kFace) == 0 &&
             screen.Count(9 + 16, 11 + 17, 9 + 44, 11 + 29, kBlue) > 30 && screen.At(9 + 2 + 6, 11 + 15) == kRing;
    })) << "the full window";
    EXPECT_EQ(screen.Count(0, 100, 8, 150, kFace), 0) << "the tile has gone";
    EXPECT_EQ(screen.Count(8, 10, 311, 230, kYellow), 0) << "no lamp is on without data";
    screen.Save(CE_SCREENSHOTS, "full");

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  }
}

}  // namespace
}  // namespace loggertest

namespace loggertest {
namespace {

enum class Align { Left, Centre, Right };

// A control of template 102 that shows text: its box in dialog units, how
// its text is aligned, and the width of its edge.
struct TextBox {
  const char* name;
  int id;
  int x, y, w, h;
  Align align;
  int edge;

  // Its box on the screen: the full window's client area begins at (9, 11).
  RECT Box() const {
    auto scale = [](int v, int num, int den) { return static_cast<LONG>((2 * v * num + den) / (2 * den)); };
    return RECT{9 + scale(x, 7, 4), 11 + scale(y, 3, 2), 9 + scale(x + w, 7, 4), 11 + scale(y + h, 3, 2)};
  }
};

const TextBox kTextBoxes[] = {
    {"Start", 1000, 6, 35, 51, 50, Align::Centre, 2},    {"Stop", 1001, 57, 35, 51, 50, Align::Centre, 2},
    {"Minimize", 1002, 111, 35, 51, 50, Align::Centre, 2}, {"Exit", 1003, 111, 90, 51, 50, Align::Centre, 2},
    {"Button1", 1013, 6, 90, 51, 50, Align::Centre, 2},  {"Button2", 1014, 57, 90, 51, 50, Align::Centre, 2},
    {"LOG", 1020, 9, 11, 16, 8, Align::Left, 0},          {"RCV", -1, 9, 20, 16, 8, Align::Left, 0},
    {"latitude label", -1, 33, 5, 21, 10, Align::Right, 0}, {"longitude label", -1, 33, 15, 21, 10, Align::Right, 0},
    {"top speed label", -1, 96, 5, 27, 10, Align::Right, 0}, {"km/h", -1, 141, 5, 18, 10, Align::Left, 0},
    {"positioning label", -1, 99, 15, 24, 10, Align::Right, 0},
    {"latitude", 1015, 54, 5, 42, 10, Align::Right, 1},  {"longitude", 1016, 54, 15, 42, 10, Align::Right, 1},
    {"top speed", 1017, 123, 5, 18, 10, Align::Right, 1}, {"fix type", 1018, 123, 15, 12, 10, Align::Centre, 1},
    {"fix quality", 1019, 135, 15, 21, 10, Align::Centre, 1},
};

// Letters, grey ones of a disabled button included; not the face, the edges or a status colour.
bool Ink(const Pixel& p) { return std::max({p.r, p.g, p.b}) < 160; }

// The pixels of the smallest rectangle inside the box's edge that holds its ink.
std::vector<Pixel> InkOf(const Screen& screen, const TextBox& box) {
  const RECT r = box.Box();
  RECT ink{r.right, r.bottom, r.left, r.top};
  for (LONG y = r.top + box.edge; y < r.bottom - box.edge; ++y) {
    for (LONG x = r.left + box.edge; x < r.right - box.edge; ++x) {
      if (!Ink(screen.At(x, y))) continue;
      ink = RECT{std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x + 1), std::max(ink.bottom, y + 1)};
    }
  }
  return ink.left < ink.right ? screen.Region(ink) : std::vector<Pixel>();
}

// Empty when no ink reaches the inside of the box's edge on a side where its
// alignment would cut a text too wide for it.
std::string Cut(const Screen& screen, const TextBox& box) {
  const RECT r = box.Box();
  const LONG left = r.left + box.edge, right = r.right - box.edge;
  auto inkIn = [&](LONG column) {
    for (LONG y = r.top + box.edge; y < r.bottom - box.edge; ++y) {
      if (Ink(screen.At(column, y))) return true;
    }
    return false;
  };
  if (InkOf(screen, box).empty()) return std::string(box.name) + " shows no text";
  if (box.align != Align::Left && inkIn(left)) return std::string(box.name) + " is cut on the left";
  if (box.align != Align::Right && inkIn(right - 1)) return std::string(box.name) + " is cut on the right";
  return "";
}

const TextBox& BoxOf(int id) {
  return *std::find_if(std::begin(kTextBoxes), std::end(kTextBoxes), [id](const TextBox& b) { return b.id == id; });
}

std::string Burst(const char* latitude, const char* longitude, int quality, int mode, const char* knots) {
  return Sentence(std::string("GPGGA,090502,") + latitude + "," + longitude + "," + std::to_string(quality) +
                  ",08,0.9,45.3,M,39.0,M,,") +
         Sentence("GPGSA,A," + std::to_string(mode) + ",04,05,,09,12,,,24,,,,,2.5,1.3,2.1") +
         Sentence(std::string("GPRMC,090502,A,") + latitude + "," + longitude + "," + knots + ",084.4,070308,,");
}

// The widest text of each read-out, every hemisphere among them, in the full
// window. The launcher buttons, 89 pixels wide, show the latitude's and the
// longitude's text as their captions: a read-out shows its text whole when
// its ink is the very ink of the caption.
TEST_F(LoggerScreenTest, ReadOutsShowTheirWidestTextsWhole) {
  struct Run {
    const char* latitude;
    const char* longitude;
    std::string burst;
    std::map<int, std::string> texts;
  };
  // 539.90281 knots are 999.9 km/h.
  const Run runs[] = {
      {"N 35.6581000", "E179.9999999", Burst("3539.4860,N", "17959.999994,E", 0, 1, "539.90281"),
       {{1017, "999.9"}, {1018, "NA"}, {1019, "NoFix"}}},
      {"S 90.0000000", "W180.0000000", Burst("9000.0000,S", "18000.0000,W", 2, 2, "020.0"),
       {{1017, "37.0"}, {1018, "2D"}, {1019, "DGPS"}}},
      {"S 35.6581000", "W139.7421733", Burst("3539.4860,S", "13944.5304,W", 1, 3, "020.0"),
       {{1017, "37.0"}, {1018, "3D"}, {1019, "GPS"}}},
  };
  int number = 0;
  for (const Run& run : runs) {
    SCOPED_TRACE(std::string(run.latitude) + " " + run.longitude);
    WendraDevice device;
    device.Install("Wendra", std::string("btn1apppath=\\Windows\\a.exe\nbtn1appname=") + run.latitude +
                                 "\nbtn2apppath=\\Windows\\b.exe\nbtn2appname=" + run.longitude + "\n");
    const pid_t wendra = device.Start("Wendra", 0, display);
    ASSERT_TRUE(WaitForStartUp(device.Trace()));
    HWND window = FindTitle(kTitle);
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ASSERT_TRUE(WaitForPlace(device.Trace(), 8, 10, 303, 220));
    {
      Navigator navigator;  // on the relay that Wendra installed
      ASSERT_TRUE(navigator.Open());
      std::map<int, std::string> texts = run.texts;
      texts[1015] = run.latitude;
      texts[1016] = run.longitude;
      const size_t mark = ReadTrace(device.Trace()).size();
      device.Receiver().Feed(run.burst);
      for (const auto& [id, text] : texts) {
        ASSERT_GE(WaitForEntry(device.Trace(), [&, id = id, text = text](const TraceEntry& e) {
                    return e.op == "text" && e.Int("id") == id && e.Get("text") == text;
                  }, mark), 0) << id << " " << text;
      }
    }
    Screen screen(x);
    EXPECT_TRUE(ShowsWithin(screen, [&] {
      return !InkOf(screen, BoxOf(1013)).empty() && InkOf(screen, BoxOf(1015)) == InkOf(screen, BoxOf(1013)) &&
             InkOf(screen, BoxOf(1016)) == InkOf(screen, BoxOf(1014));
    })) << "the latitude and the longitude as whole as the captions";
    screen.Save(CE_SCREENSHOTS, "read-outs-" + std::to_string(++number));
    for (const TextBox& box : kTextBoxes) EXPECT_EQ(Cut(screen, box), "");

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
    EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  }
}

// The names of the programs' windows on the display, bottom first, as the
// window manager knows them.
std::vector<std::string> Stacking(Display* x) {
  std::vector<std::string> names;
  ::Window root, parent, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return names;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    char* name = nullptr;
    if (!XGetWindowAttributes(x, children[i], &attributes) || attributes.map_state != IsViewable) continue;
    if (XFetchName(x, children[i], &name) && name) {
      names.push_back(name);
      XFree(name);
    }
  }
  if (children) XFree(children);
  return names;
}

// Whether the first program's window lies above the second's, within 30 s.
bool AboveWithin(Display* x, const std::string& upper, const std::string& lower) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto names = Stacking(x);
    const auto u = std::find(names.begin(), names.end(), upper), l = std::find(names.begin(), names.end(), lower);
    if (u != names.end() && l != names.end() && u > l) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// A second start brings the running window to the front on the display,
// though it stays the tile (rstcurrun clear) and another program's tile
// covered it.
TEST_F(LoggerScreenTest, SecondStartRaisesTheRunningWindow) {
  WendraDevice device;
  const pid_t wendra = device.Start("Wendra", 0, display);
  ASSERT_TRUE(WaitForStartUp(device.Trace("Wendra", 0)));
  device.Install("Other", "minposx=20\n");
  const pid_t other = device.Start("Other", 0, display);
  ASSERT_TRUE(WaitForStartUp(device.Trace("Other", 0)));
  ASSERT_TRUE(AboveWithin(x, "Other", "Wendra"));
  Screen covered(x);
  EXPECT_TRUE(ShowsWithin(covered, [&] { return covered.At(21 + 2 + 6, 101 + 15) == kRing; }));

  EXPECT_EQ(cetest::WaitExit(device.Start("Wendra", 1, display), 10000), 0);
  EXPECT_TRUE(AboveWithin(x, "Wendra", "Other"));
  // Where Other's LOG lamp showed its ring, Wendra's tile shows its face.
  Screen screen(x);
  EXPECT_TRUE(ShowsWithin(screen, [&] { return screen.At(21 + 2 + 6, 101 + 15) == kFace; }));
  screen.Save(CE_SCREENSHOTS, "handed-over");

  SendMessageW(FindTitle(kTitle), WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
  SendMessageW(FindTitle(WindowTitle(u"Other")), WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
  EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  EXPECT_EQ(cetest::WaitExit(other, 10000), 0);
}

}  // namespace
}  // namespace loggertest
