// Settings files as a person may have written them, in UTF-8 (with or
// without its byte-order mark) or in code page 932, read by the logger from
// a device's file system: nothing is read or written outside the line
// buffer, every clamped number is within its clamp, every text setting ends
// inside its field as the reader keeps values, and a key the file does not
// name keeps its default.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <string.h>

#include "cehost/Device.h"
#include "common/Utf.h"
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

// A text ends inside its field and is what the reader keeps of a value: no
// comment, no line end, no blank at either end.
bool WellFormed(const WCHAR* text) {
  const WCHAR* end = std::find(text, text + SETTINGS_LINE_CHARS, 0);
  if (end == text + SETTINGS_LINE_CHARS) return false;
  if (std::find_if(text, end, [](WCHAR c) { return c == '#' || c == '\n'; }) != end) return false;
  auto blank = [](WCHAR c) { return c == ' ' || c == '\t'; };
  return text == end || (!blank(text[0]) && !blank(end[-1]));
}

bool Within(LONG value, LONG low, LONG high) { return value >= low && value <= high; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Device device;
  static NullView view;
  const std::string file(reinterpret_cast<const char*>(data), size);
  device.root.Write("Program Files/Wendra/Wendra.cfg", file);
  auto state = std::make_unique<LoggerState>(view);
  wcscpy(state->appDir, TEXT("\\Program Files\\Wendra\\"));
  LoadSettings(*state, TEXT("Wendra"));
  const LoggerSettings& s = state->settings;

  // Every clamp holds.
  if (!Within(s.minsizew, 1, 65) || !Within(s.minsizeh, 1, 53) || !Within(s.writecache, 0, 2)) std::abort();

  // Every text ends inside its field, as the reader keeps it.
  for (const WCHAR* text : {s.btn1appname, s.btn1apppath, s.btn1appargv, s.btn2appname, s.btn2apppath,
                            s.btn2appargv, s.logdir}) {
    if (!WellFormed(text)) std::abort();
  }

  // A key the file does not spell, in any case, leaves its setting at its
  // default: nothing is read into another key's field. The reader folds a
  // key's case with the device's fold, which takes a few letters beyond ASCII
  // into it (U+0130 to "i", U+212A to "k"): the file is looked at as UTF-8
  // folded the same way, and as its bytes lowered as ASCII (code page 932
  // makes no ASCII letter of other bytes, and none of its letters folds into
  // ASCII).
  std::string lowered = file;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string folded = cehost::ToUtf8(cehost::Lowered(cehost::ToUtf16(file)));
  auto absent = [&](const char* key) {
    return lowered.find(key) == std::string::npos && folded.find(key) == std::string::npos;
  };
  const LoggerSettings d;
  const struct {
    const char* key;
    bool isDefault;
  } fields[] = {
      {"interval", s.interval == d.interval},
      {"minposx", s.minposx == d.minposx},
      {"minposy", s.minposy == d.minposy},
      {"minsizew", s.minsizew == d.minsizew},
      {"minsizeh", s.minsizeh == d.minsizeh},
      {"autominimize", s.autominimize == d.autominimize},
      {"topmost", s.topmost == d.topmost},
      {"rstcurrun", s.rstcurrun == d.rstcurrun},
      {"autostart", s.autostart == d.autostart},
      {"btn1appname", s.btn1appname[0] == 0},
      {"btn1apppath", s.btn1apppath[0] == 0},
      {"btn1appargv", s.btn1appargv[0] == 0},
      {"btn2appname", s.btn2appname[0] == 0},
      {"btn2apppath", s.btn2apppath[0] == 0},
      {"btn2appargv", s.btn2appargv[0] == 0},
      {"chgfromport", s.chgfromport == d.chgfromport},
      {"chgtoport", s.chgtoport == d.chgtoport},
      {"monport", s.monport == d.monport},
      {"logdir", s.logdir[0] == 0},
      {"writecache", s.writecache == d.writecache},
      {"onlyactivatedriver", s.onlyactivatedriver == d.onlyactivatedriver},
      {"anytalker", s.anytalker == d.anytalker},
      {"signedpos", s.signedpos == d.signedpos},
  };
  for (const auto& field : fields) {
    if (absent(field.key) && !field.isDefault) std::abort();
  }
  return 0;
}
