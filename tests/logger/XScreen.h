// A real X display for the window's tests: an Xvfb server of 320 x 240
// pixels on a display number no other server holds, and its screen read
// back pixel by pixel, kept as PPM files to be looked at.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>

namespace loggertest {

struct Pixel {
  int r, g, b;
  bool operator==(const Pixel& o) const { return r == o.r && g == o.g && b == o.b; }
};

class Screen {
 public:
  static constexpr int WIDTH = 320, HEIGHT = 240;
  explicit Screen(Display* display) : display_(display) {}
  bool Grab();
  Pixel At(int x, int y) const { return pixels_[y][x]; }
  std::vector<Pixel> Region(const RECT& r) const;
  int Count(int left, int top, int right, int bottom, Pixel colour) const;
  // Writes folder/name.ppm.
  void Save(const std::string& folder, const std::string& name) const;

 private:
  Display* display_;
  Pixel pixels_[HEIGHT][WIDTH];
};

// Grabs the screen until the condition holds, at most 30 s.
bool ShowsWithin(Screen& screen, const std::function<bool()>& condition);

class XvfbServer {
 public:
  XvfbServer();
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;
  // NULL when the server is missing or did not start; Failure() says why.
  Display* X() const { return x_; }
  const std::string& Name() const { return name_; }
  const std::string& Failure() const { return failure_; }

 private:
  std::string name_;
  std::string failure_;
  pid_t server_ = -1;
  Display* x_ = nullptr;
};

}  // namespace loggertest
