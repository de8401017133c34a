// Wendra as a real program on a device served from the test process: the
// test installs it into a temporary root, starts it with a trace of its
// window, reads the trace and talks to its window through the device.
#pragma once

#include <ServedDevice.h>
#include <TempDir.h>
#include <WendraNames.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace loggertest {

// The main window's title of a copy of Wendra run under this program name.
inline std::u16string WindowTitle(const std::u16string& program) { return program + INSTANCE_SUFFIX; }

// One line of the window trace: its op and fields, values as written
// (strings unquoted and unescaped, arrays as "[r,g,b]").
struct TraceEntry {
  std::string op;
  std::map<std::string, std::string> fields;
  bool Has(const std::string& name) const { return fields.count(name) != 0; }
  std::string Get(const std::string& name) const;
  long long Int(const std::string& name) const;
};

std::vector<TraceEntry> ReadTrace(const std::string& path);

// The environment of a test that waits for a window call which may change
// nothing on screen (the first poll's lamp, a text set again as it was): the
// trace then keeps every call, not only the changes.
inline const std::vector<std::string> kEveryCall{"CE_UI_TRACE_ALL=1"};

class WendraDevice {
 public:
  // A device with COM5: bound to a test port and its clock set to 2008-03-07 09:05:02;
  // Wendra with Ravelink.Dll in \Program Files\Wendra. With driverInstalled the
  // driver file is in \Windows already (and the device has not activated it).
  explicit WendraDevice(bool driverInstalled = false);
  ~WendraDevice();

  const std::string& Root() const { return dir_.Path(); }
  cehost::TestPort& Receiver();
  // Installs the executable under another name (Wendra by default) with a settings file.
  void Install(const std::string& name, const std::string& settings);
  void RemoveSettings(const std::string& name);
  // Starts the program; its window trace goes to the file Trace(name, run).
  // Headless unless a display is given, then in a GTK window on it. With a
  // file size limit, no file the program writes grows past it, as on a card
  // that fills. The environment given is added to the program's.
  pid_t Start(const std::string& name = "Wendra", int run = 0, const std::string& display = "",
              size_t fileSizeLimit = 0, const std::vector<std::string>& environment = {});
  std::string Trace(const std::string& name = "Wendra", int run = 0) const;
  std::string HostPath(const std::string& relative) const { return Root() + "/" + relative; }

 private:
  cetest::TempDir dir_;
  std::unique_ptr<cetest::ServedDevice> device_;
  std::vector<pid_t> started_;
};

// A navigation program on the relay COM6: of the device this process serves:
// it reads all the time, so what the receiver sends reaches Wendra's tap.
class Navigator {
 public:
  Navigator();
  ~Navigator();
  bool Open() const { return relay_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE relay_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

// Waits until the trace holds an entry that satisfies the condition, at most 30 s;
// answers its index, or -1.
int WaitForEntry(const std::string& trace, const std::function<bool(const TraceEntry&)>& condition, size_t from = 0);
// The place of the compact tile or of the restored window: waits for it.
bool WaitForPlace(const std::string& trace, int x, int y, int w, int h, size_t from = 0);
// Waits until the program has come up (its title set and the tile entered).
bool WaitForStartUp(const std::string& trace);

// The top-level window with this title, through the device; NULL when none.
HWND FindTitle(const std::u16string& title);
// A step of the trace: its op, the control's id, and a field's value when given.
std::function<bool(const TraceEntry&)> Step(const std::string& op, int id, const std::string& field = "",
                                            const std::string& value = "");
std::function<bool(const TraceEntry&)> BeepStep(int type);
// The steps in this order from index from on, others between them allowed:
// the index of the last, or -1 when one is missing or out of order.
int InOrder(const std::vector<TraceEntry>& trace, size_t from,
            const std::vector<std::function<bool(const TraceEntry&)>>& steps);

// The count of entries with this op (and id, when given) from index from on.
int Count(const std::vector<TraceEntry>& entries, const std::string& op, size_t from = 0, int id = 0);
// The last paint of the status box from index from on; its fg, mode and bg.
std::string StatusColours(const std::vector<TraceEntry>& entries, size_t from = 0);

}  // namespace loggertest
