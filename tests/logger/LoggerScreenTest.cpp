// The window on a real X display (Xvfb): the tile and the full window as the
// screen shows them, checked at a few pixels, with the screenshots kept in
// the build directory (tests/screenshots) to be looked at.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "WendraProcess.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace loggertest {
namespace {

const std::u16string kTitle = u"Wendra@kelbrun<*+~#$>";

struct Pixel {
  int r, g, b;
  bool operator==(const Pixel& o) const { return r == o.r && g == o.g && b == o.b; }
};

class Screen {
 public:
  explicit Screen(Display* display) : display_(display) {}
  bool Grab() {
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), 0, 0, 320, 240, AllPlanes, ZPixmap);
    if (!image) return false;
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        pixels_[y][x] = Pixel{int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)};
      }
    }
    XDestroyImage(image);
    return true;
  }
  Pixel At(int x, int y) const { return pixels_[y][x]; }
  int Count(int left, int top, int right, int bottom, Pixel colour) const {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) count += pixels_[y][x] == colour;
    }
    return count;
  }
  void Save(const std::string& name) const {
    std::filesystem::create_directories(CE_SCREENSHOTS);
    std::ofstream out(std::string(CE_SCREENSHOTS) + "/" + name + ".ppm", std::ios::binary);
    out << "P6\n320 240\n255\n";
    for (const auto& row : pixels_) {
      for (const Pixel& p : row) out << char(p.r) << char(p.g) << char(p.b);
    }
  }

 private:
  Display* display_;
  Pixel pixels_[240][320];
};

// Grabs the screen until the condition holds, at most 30 s.
bool ShowsWithin(Screen& screen, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (screen.Grab() && condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string FindXvfb() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    const std::string path = std::string(dir) + "/Xvfb";
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

const Pixel kFace{192, 192, 192}, kRing{128, 128, 128}, kYellow{255, 255, 0}, kBlue{0, 0, 255};

TEST(LoggerScreenTest, TileAndFullWindowOnTheDisplay) {
  const std::string xvfb = FindXvfb();
  if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed (tools/install-dependencies.sh installs it)";
  // A display number no other server holds.
  int number = 90 + ::getpid() % 100;
  while (::access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0) ++number;
  const std::string display = ":" + std::to_string(number);
  const pid_t server = cetest::Spawn({xvfb, display, "-screen", "0", "320x240x24", "-nolisten", "tcp"});
  Display* x = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!x && std::chrono::steady_clock::now() < deadline) {
    x = XOpenDisplay(display.c_str());
    if (!x) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!x) {
    ::kill(server, SIGTERM);
    cetest::WaitExit(server, 10000);
    GTEST_SKIP() << "Xvfb did not start on " << display;
  }

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
    screen.Save("tile");

    // Start: waiting for a fix, the status box white on blue behind "LOG".
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), 0);
    EXPECT_TRUE(ShowsWithin(screen, [&] { return screen.Count(left + 16, top + 17, left + 44, top + 29, kBlue) > 30; }))
        << "the status box in blue";
    screen.Save("tile-waiting");

    // A tap restores the full window at (8, 10), 303 x 220.
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(ShowsWithin(screen, [&] {
      return screen.Count(8, 10, 311, 230, kFace) > 20000 && screen.Count(0, 0, 320, 10, kFace) == 0 &&
             screen.Count(9 + 16, 11 + 17, 9 + 44, 11 + 29, kBlue) > 30 && screen.At(9 + 2 + 6, 11 + 15) == kRing;
    })) << "the full window";
    EXPECT_EQ(screen.Count(0, 100, 8, 150, kFace), 0) << "the tile has gone";
    EXPECT_EQ(screen.Count(8, 10, 311, 230, kYellow), 0) << "no lamp is on without data";
    screen.Save("full");

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0);
    EXPECT_EQ(cetest::WaitExit(wendra, 10000), 0);
  }
  XCloseDisplay(x);
  ::kill(server, SIGTERM);
  cetest::WaitExit(server, 10000);
}

}  // namespace
}  // namespace loggertest
