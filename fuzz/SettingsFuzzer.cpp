// Settings files as a person may have written them, in UTF-8 (with or
// without its byte-order mark) or in code page 932, read by the logger from
// a device's file system: nothing is read or written outside the line
// buffer, every text setting ends inside its field, and every clamped
// number is within its clamp.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <string.h>

#include "cehost/Device.h"
#include "logger/LoggerSettings.h"
#include "logger/LoggerState.h"
#include "logger/NullView.h"
#include "tests/support/TempDir.h"

namespace {

// One device for the whole run; the root is removed after it shuts down.
struct Device {
  Device() {
    cehost::BootOptions options;
    options.root = root.Path();
    std::string error;
    device = cehost::InProcessDevice::Boot(options, &error);
    if (!device) {
      std::fprintf(stderr, "settings_fuzzer: %s\n", error.c_str());
      std::abort();
    }
  }
  cetest::TempDir root;
  std::unique_ptr<cehost::InProcessDevice> device;
};

bool Ended(const WCHAR* text) { return std::find(text, text + SETTINGS_LINE_CHARS, 0) != text + SETTINGS_LINE_CHARS; }

bool Within(LONG value, LONG low, LONG high) { return value >= low && value <= high; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Device device;
  static NullView view;
  device.root.Write("Program Files/Wendra/Wendra.cfg", std::string(reinterpret_cast<const char*>(data), size));
  auto state = std::make_unique<LoggerState>(view);
  wcscpy(state->appDir, TEXT("\\Program Files\\Wendra\\"));
  LoadSettings(*state, TEXT("Wendra"));
  const LoggerSettings& s = state->settings;
  for (const WCHAR* text : {s.btn1appname, s.btn1apppath, s.btn1appargv, s.btn2appname, s.btn2apppath,
                            s.btn2appargv, s.logdir}) {
    if (!Ended(text)) std::abort();
  }
  if (!Within(s.minsizew, 1, 65) || !Within(s.minsizeh, 1, 53) || !Within(s.writecache, 0, 2)) std::abort();
  for (BOOL flag : {s.autominimize, s.topmost, s.rstcurrun, s.autostart, s.onlyactivatedriver, s.anytalker,
                    s.signedpos}) {
    if (flag != FALSE && flag != TRUE) std::abort();
  }
  return 0;
}
