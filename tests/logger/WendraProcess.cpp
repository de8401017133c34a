#include "WendraProcess.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

namespace loggertest {

namespace fs = std::filesystem;

namespace {

const char kAppDir[] = "Program Files/Wendra";

}  // namespace

std::string TraceEntry::Get(const std::string& name) const {
  auto it = fields.find(name);
  return it == fields.end() ? "" : it->second;
}

long long TraceEntry::Int(const std::string& name) const {
  const std::string value = Get(name);
  return value.empty() ? -999999 : std::stoll(value);
}

std::vector<TraceEntry> ReadTrace(const std::string& path) {
  std::vector<TraceEntry> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const auto object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object()) continue;  // a line still being written
    TraceEntry entry;
    for (const auto& [name, value] : object.items()) {
      entry.fields[name] = value.is_string() ? value.get<std::string>() : value.dump();
    }
    entry.op = entry.Get("op");
    entries.push_back(entry);
  }
  return entries;
}

std::function<bool(const TraceEntry&)> Step(const std::string& op, int id, const std::string& field,
                                            const std::string& value) {
  return [=](const TraceEntry& e) { return e.op == op && e.Int("id") == id && (field.empty() || e.Get(field) == value); };
}

std::function<bool(const TraceEntry&)> BeepStep(int type) {
  return [=](const TraceEntry& e) { return e.op == "beep" && e.Int("type") == type; };
}

int InOrder(const std::vector<TraceEntry>& trace, size_t from,
            const std::vector<std::function<bool(const TraceEntry&)>>& steps) {
  int last = -1;
  size_t i = from;
  for (const auto& step : steps) {
    while (i < trace.size() && !step(trace[i])) ++i;
    if (i == trace.size()) return -1;
    last = static_cast<int>(i++);
  }
  return last;
}

WendraDevice::WendraDevice(bool driverInstalled) {
  if (driverInstalled) cetest::InstallDriver(Root(), RAVELINK_DLL);
  cehost::BootOptions options;
  options.root = Root();
  options.ports = {"COM5:=test"};
  options.clock = "2008-03-07T09:05:02";
  std::string error;
  device_ = cetest::ServedDevice::Start(options, &error);
  if (!device_) throw std::runtime_error(error);
  fs::create_directories(HostPath(kAppDir));
  fs::copy_file(RAVELINK_DLL, HostPath(std::string(kAppDir) + "/Ravelink.Dll"));
  Install("Wendra", "");
}

// A test that failed before it ended its program leaves nothing running: a
// program left alive would hold the test's output open, and ctest would wait
// for it. A child not yet reaped is still this process's, so the kill hits it.
WendraDevice::~WendraDevice() {
  for (pid_t pid : started_) {
    if (::waitpid(pid, nullptr, WNOHANG) != 0) continue;  // ended: reaped now or before
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

cehost::TestPort& WendraDevice::Receiver() { return *device_->Device().Port("COM5:"); }

void WendraDevice::Install(const std::string& name, const std::string& settings) {
  const std::string exe = HostPath(std::string(kAppDir) + "/" + name);
  fs::copy_file(WENDRA_EXE, exe, fs::copy_options::overwrite_existing);
  ::chmod(exe.c_str(), 0755);
  std::ofstream(HostPath(std::string(kAppDir) + "/" + name + ".cfg")) << settings;
}

void WendraDevice::RemoveSettings(const std::string& name) {
  fs::remove(HostPath(std::string(kAppDir) + "/" + name + ".cfg"));
}

pid_t WendraDevice::Start(const std::string& name, int run, const std::string& display, size_t fileSizeLimit,
                          const std::vector<std::string>& added) {
  std::vector<std::string> environment{"CEDEVICE_ROOT=" + Root(), "CE_UI_TRACE=" + Trace(name, run)};
  environment.insert(environment.end(), added.begin(), added.end());
  if (display.empty()) {
    environment.push_back("CE_UI=headless");
  } else {
    // GTK keeps caches for the process's life, which the leak checker would count.
    environment.insert(environment.end(), {"CE_UI=gtk", "DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"});
  }
  std::vector<std::string> command;
  if (fileSizeLimit > 0) {
    // A write past the limit then fails (EFBIG) instead of ending the program
    // with SIGXFSZ, whose ignoring survives the exec; the limit is in blocks of 512.
    command = {"/bin/sh", "-c",
               "trap '' XFSZ; ulimit -f " + std::to_string((fileSizeLimit + 511) / 512) + "; exec \"$0\""};
  }
  command.push_back(HostPath(std::string(kAppDir) + "/" + name));
  const pid_t pid = cetest::Spawn(command, environment);
  if (pid > 0) started_.push_back(pid);
  return pid;
}

std::string WendraDevice::Trace(const std::string& name, int run) const {
  return Root() + "/trace-" + name + "-" + std::to_string(run) + ".jsonl";
}

Navigator::Navigator() {
  relay_ = CreateFileW(TEXT("COM6:"), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 50, 0, 0};
  SetCommTimeouts(relay_, &timeouts);
  reader_ = std::thread([this] {
    char buffer[512];
    DWORD read;
    while (!stop_) ReadFile(relay_, buffer, sizeof buffer, &read, NULL);
  });
}

Navigator::~Navigator() {
  stop_ = true;
  reader_.join();
  CloseHandle(relay_);
}

// The trace is looked at again whenever its folder changes.
int WaitForEntry(const std::string& trace, const std::function<bool(const TraceEntry&)>& condition, size_t from) {
  int found = -1;
  cetest::WaitForChange(
      fs::path(trace).parent_path().string(),
      [&] {
        const auto entries = ReadTrace(trace);
        for (size_t i = from; i < entries.size() && found < 0; ++i) {
          if (condition(entries[i])) found = static_cast<int>(i);
        }
        return found >= 0;
      },
      30000);
  return found;
}

bool WaitForPlace(const std::string& trace, int x, int y, int w, int h, size_t from) {
  return WaitForEntry(
             trace,
             [&](const TraceEntry& e) {
               return e.op == "place" && !e.Has("id") && e.Int("x") == x && e.Int("y") == y && e.Int("w") == w &&
                      e.Int("h") == h;
             },
             from) >= 0;
}

bool WaitForStartUp(const std::string& trace) {
  // The first painting follows the end of the initialisation.
  return WaitForEntry(trace, [](const TraceEntry& e) { return e.op == "paint"; }) >= 0;
}

namespace {

struct TitleSearch {
  std::u16string title;
  HWND found = NULL;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<TitleSearch*>(parameter);
  WCHAR title[256] = {};
  GetWindowTextW(window, title, 256);
  if (search.title != title) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

HWND FindTitle(const std::u16string& title) {
  TitleSearch search{title};
  EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Count(const std::vector<TraceEntry>& entries, const std::string& op, size_t from, int id) {
  int count = 0;
  for (size_t i = from; i < entries.size(); ++i) {
    if (entries[i].op == op && (id == 0 || entries[i].Int("id") == id)) ++count;
  }
  return count;
}

std::string StatusColours(const std::vector<TraceEntry>& entries, size_t from) {
  std::string colours = "<not painted>";
  for (size_t i = from; i < entries.size(); ++i) {
    const TraceEntry& e = entries[i];
    if (e.op == "paint" && e.Int("id") == IDC_STATUS_BOX) {
      colours = "fg=" + e.Get("fg") + " mode=" + e.Get("mode") + " bg=" + e.Get("bg");
    }
  }
  return colours;
}

}  // namespace loggertest
