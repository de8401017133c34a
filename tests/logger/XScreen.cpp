#include "XScreen.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ServedDevice.h"

#include <X11/Xutil.h>

namespace loggertest {

bool Screen::Grab() {
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), 0, 0, WIDTH, HEIGHT, AllPlanes, ZPixmap);
  if (!image) return false;
  for (int y = 0; y < HEIGHT; ++y) {
    for (int x = 0; x < WIDTH; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      pixels_[y][x] = Pixel{int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)};
    }
  }
  XDestroyImage(image);
  return true;
}

std::vector<Pixel> Screen::Region(const RECT& r) const {
  std::vector<Pixel> region;
  for (LONG y = r.top; y < r.bottom; ++y) region.insert(region.end(), &pixels_[y][r.left], &pixels_[y][r.right]);
  return region;
}

int Screen::Count(int left, int top, int right, int bottom, Pixel colour) const {
  int count = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) count += pixels_[y][x] == colour;
  }
  return count;
}

void Screen::Save(const std::string& folder, const std::string& name) const {
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/" + name + ".ppm", std::ios::binary);
  out << "P6\n" << WIDTH << " " << HEIGHT << "\n255\n";
  for (const auto& row : pixels_) {
    for (const Pixel& p : row) out << char(p.r) << char(p.g) << char(p.b);
  }
}

bool ShowsWithin(Screen& screen, const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (screen.Grab() && condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

namespace {

std::string FindXvfb() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    const std::string path = std::string(dir) + "/Xvfb";
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

}  // namespace

XvfbServer::XvfbServer() {
  const std::string xvfb = FindXvfb();
  if (xvfb.empty()) {
    failure_ = "Xvfb is not installed (tools/install-dependencies.sh installs it)";
    return;
  }
  int number = 90 + ::getpid() % 100;
  while (::access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0) ++number;
  name_ = ":" + std::to_string(number);
  server_ = cetest::Spawn({xvfb, name_, "-screen", "0", "320x240x24", "-nolisten", "tcp"});
  // The server has no way to say it is ready but taking a connection.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!x_ && std::chrono::steady_clock::now() < deadline) {
    x_ = XOpenDisplay(name_.c_str());
    if (!x_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!x_) failure_ = "Xvfb did not start on " + name_;
}

XvfbServer::~XvfbServer() {
  if (x_) XCloseDisplay(x_);
  if (server_ > 0) {
    ::kill(server_, SIGTERM);
    cetest::WaitExit(server_, 10000);
  }
}

}  // namespace loggertest
