// cedevice run: the whole device in one command. This process becomes the
// device process; it installs Wendra on a fresh root, binds the GPS, starts
// Wendra and a client of the relay port, and on Ctrl-C or after --seconds
// ends Wendra through its Exit command, stops the client and the device,
// and tells where the track is.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "CommandLine.h"
#include "LoggerSettings.h"
#include "LoggerState.h"
#include "NullView.h"
#include "WendraNames.h"
#include "WendraStatus.h"
#include "cehost/Device.h"
#include "device/Device.h"
#include "device/DeviceServer.h"
#include "device/PortSource.h"
#include "common/ChildProcess.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"

namespace cedevice {

namespace fs = std::filesystem;

namespace {

// A child of this command: its output added to the log, in a process group
// of its own, ended with this command.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& log, int pipeEnd = -1) {
  cehost::ChildOptions options;
  options.environment = environment;
  options.output = options.error = log;
  options.append = true;
  options.pipeEnd = pipeEnd;
  options.ownGroup = true;
  return cehost::SpawnChild(argv, options);
}

// Wendra's settings, read by Wendra's own reader from the device's file, so
// the run follows the ports and the folder Wendra uses. A file that cannot
// be read leaves the defaults, as in Wendra, and the run says so.
class SettingsView : public NullView {
 public:
  void ShowErrorBox(LPCWSTR text) override {
    std::fprintf(stderr, "cedevice run: %s\n", cehost::ToUtf8(text).c_str());
  }
};

LoggerSettings ReadSettings() {
  SettingsView view;
  auto state = std::make_unique<LoggerState>(view);  // large: fixed buffers
  wcscpy(state->appDir, TEXT("\\Program Files\\Wendra\\"));
  LoadSettings(*state, TEXT("Wendra"));
  return state->settings;
}

std::string DefaultRoot() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = data && *data ? data : std::string(home && *home ? home : "/tmp") + "/.local/share";
  return base + "/wendra/device";
}

bool Exited(pid_t child) {
  int status;
  return ::waitpid(child, &status, WNOHANG) == child;
}

// Ends a child: asked first, then told.
void EndChild(pid_t child, int milliseconds) {
  if (child <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Exited(child)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(child, SIGKILL);
  int status;
  ::waitpid(child, &status, 0);
}

class Stopper {
 public:
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  // True when stopped; otherwise returns at the time given.
  bool WaitUntil(std::chrono::steady_clock::time_point time) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, time, [this] { return stopped_; });
  }
  bool WaitFor(std::chrono::milliseconds period) { return WaitUntil(std::chrono::steady_clock::now() + period); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
};

// What the command line asks of a run.
struct RunRequest {
  std::string gps;
  std::string ptyLink;  // the relay's pseudo-terminal, or empty for a plain client
  std::string root;
  long seconds = 0;  // 0: until Ctrl-C or Wendra's end
  bool headless = false;
};

// Reads and checks the command line before anything starts: a bad value, a
// missing capture or tty, an existing --pty path. False after saying why.
bool ReadRequest(int argc, char** argv, RunRequest* request) {
  CommandLine line;
  std::string error;
  if (!line.Parse(argc, argv, 2, {"root", "gps", "pty", "seconds", "ui"}, &error) || !line.positional.empty()) {
    std::fprintf(stderr, "cedevice run: %s\n",
                 error.empty() ? ("unexpected argument '" + line.positional[0] + "'").c_str() : error.c_str());
    return false;
  }
  request->gps = line.Value("gps", "sim");
  request->ptyLink = line.Value("pty");
  request->root = line.Value("root", DefaultRoot());
  const std::string ui = line.Value("ui", "auto");
  const std::string seconds = line.Value("seconds");
  if (!seconds.empty()) {
    char* end = nullptr;
    request->seconds = std::strtol(seconds.c_str(), &end, 10);
    if (*end != '\0' || request->seconds <= 0) {
      std::fprintf(stderr, "cedevice run: --seconds takes a whole number of seconds above 0\n");
      return false;
    }
  }
  if (ui != "auto" && ui != "gtk" && ui != "headless") {
    std::fprintf(stderr, "cedevice run: --ui is auto, gtk or headless\n");
    return false;
  }
  request->headless = ui == "headless" || (ui == "auto" && !std::getenv("DISPLAY"));
  struct stat st;
  if (!request->ptyLink.empty() && ::lstat(request->ptyLink.c_str(), &st) == 0) {
    std::fprintf(stderr, "cedevice run: %s exists already\n", request->ptyLink.c_str());
    return false;
  }
  // The binding is checked, not started: a missing capture or tty is reported now.
  cehost::DeviceClock clock;
  if (!cehost::MakePortSource(request->gps, clock, &error)) {
    std::fprintf(stderr, "cedevice run: %s\n", error.c_str());
    return false;
  }
  return true;
}

// Makes the root or takes it as it is, checks that it can be written, and
// makes it this process's device; false after saying why.
bool PrepareRoot(std::string* root) {
  std::string error;
  const bool made = cehost::PrepareDeviceRoot(*root, &error);
  const std::string probe = *root + "/.cedevice-probe";
  const int probeFd = made ? ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
  if (probeFd < 0) {
    std::fprintf(stderr, "cedevice run: the device root %s cannot be written\n", root->c_str());
    return false;
  }
  ::close(probeFd);
  ::unlink(probe.c_str());
  *root = fs::canonical(*root).string();
  std::printf("device root: %s\n", root->c_str());
  cehost::SetDeviceRoot(*root);
  return true;
}

// Wendra's folder and program in the device. A fresh root gets Wendra, the
// driver and first-run settings; a root that has Wendra keeps its own
// programs and settings. False after saying why.
bool PrepareWendra(std::string* programDir, std::string* program) {
  DWORD unmapped = ERROR_SUCCESS;  // a path that cannot be mapped stays empty and is not used
  cehost::ResolveDevicePath(u"\\Program Files\\Wendra", programDir, &unmapped);
  cehost::ResolveDevicePath(u"\\Program Files\\Wendra\\Wendra", program, &unmapped);
  if (fs::exists(*program)) return true;
  std::string error;
  if (!InstallWendra(true, programDir, &error)) {
    std::fprintf(stderr, "cedevice run: cannot install Wendra: %s\n", error.c_str());
    return false;
  }
  std::printf("installed Wendra into %s\n", programDir->c_str());
  return true;
}

// Wendra's window trace, read through a pipe so no file grows with the run:
// the console line shows it, and a run whose relay port never comes says
// what Wendra showed. A trace asked for with CE_UI_TRACE goes where asked.
struct WendraTrace {
  std::string path;        // what the status reads
  int pipe[2] = {-1, -1};  // when it reads a pipe: Wendra writes to pipe[1] as its descriptor 3

  bool Open() {
    const char* asked = std::getenv("CE_UI_TRACE");
    path = asked && *asked ? asked : "";
    if (!path.empty()) return true;
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
      std::fprintf(stderr, "cedevice run: cannot make a pipe: %s\n", std::strerror(errno));
      return false;
    }
    // Room for minutes of steps between two reads.
    ::fcntl(pipe[1], F_SETPIPE_SZ, 1 << 20);
    path = "/dev/fd/" + std::to_string(pipe[0]);
    return true;
  }
  // What Wendra is started with.
  std::vector<std::string> Environment() const {
    if (pipe[1] >= 0) return {"CE_UI_TRACE=/dev/fd/3"};
    return {"CE_UI_TRACE=" + path};
  }
};

// This process becomes the device at the root, with the GPS bound to the
// port Wendra reads, served on the device's socket; false after saying why.
bool BecomeDevice(const RunRequest& request, LONG gpsPort, std::unique_ptr<cehost::InProcessDevice>* device,
                  std::unique_ptr<cehost::DeviceServer>* server) {
  BlockStopSignals();
  std::string error;
  const int lock = cehost::DeviceServer::LockRoot(request.root, &error);
  if (lock >= 0) {
    cehost::BootOptions options;
    options.root = request.root;
    options.ports = {"COM" + std::to_string(gpsPort) + ":=" + request.gps};
    *device = cehost::InProcessDevice::Boot(options, &error);
    if (*device) *server = cehost::DeviceServer::Open((*device)->Get(), lock, &error);
  }
  if (!*server) std::fprintf(stderr, "cedevice run: %s\n", error.c_str());
  return *server != nullptr;
}

// Starts Wendra on the device, its output in the run's log.
pid_t StartWendra(const std::string& program, const RunRequest& request, const WendraTrace& trace,
                  const std::string& log) {
  std::vector<std::string> environment = {"CEDEVICE_ROOT=" + request.root,
                                          "CE_UI=" + std::string(request.headless ? "headless" : "gtk")};
  for (const std::string& variable : trace.Environment()) environment.push_back(variable);
  const pid_t wendra = SpawnChild({program}, environment, log, trace.pipe[1]);
  if (trace.pipe[1] >= 0) ::close(trace.pipe[1]);
  return wendra;
}

using Clock = std::chrono::steady_clock;

// The client of the relay, once Wendra has activated the driver (or the
// device had it from boot): `cat`, or `pty` at the link asked for. -1 when
// Wendra ended, the run was stopped or its time was up first. A relay port
// that has not come a few seconds after Wendra's start is reported once,
// with what Wendra showed; the run goes on waiting for it until its end.
pid_t StartRelayClient(cehost::Device& device, const std::u16string& relay, const RunRequest& request,
                       pid_t wendra, Stopper& stopper, Clock::time_point deadline, WendraStatus& status,
                       const std::string& log) {
  auto relayExists = [&] {
    for (const auto& name : device.Manager().DeviceNames()) {
      if (cehost::EqualsNoCase(name, relay)) return true;
    }
    return false;
  };
  const std::string port = cehost::ToUtf8(relay);
  const auto reportAt = Clock::now() + std::chrono::seconds(5);
  bool reported = false;
  while (!relayExists()) {
    if (Exited(wendra) || Clock::now() >= deadline ||
        stopper.WaitUntil(std::min(deadline, Clock::now() + std::chrono::milliseconds(50)))) {
      break;
    }
    if (!reported && Clock::now() >= reportAt) {
      status.Update();
      std::fprintf(stderr, "cedevice run: no relay port %s appeared in 5 s; Wendra showed: %s; its log is %s\n",
                   port.c_str(), status.Messages().c_str(), log.c_str());
      reported = true;
    }
  }
  if (!relayExists()) {
    if (!reported) {
      status.Update();
      std::fprintf(stderr, "cedevice run: Wendra ended or no relay port %s appeared; Wendra showed: %s; see %s\n",
                   port.c_str(), status.Messages().c_str(), log.c_str());
    }
    return -1;
  }
  if (request.ptyLink.empty()) {
    return SpawnChild({"/proc/self/exe", "cat", "--root", request.root, port}, {}, "/dev/null");
  }
  std::printf("the relay %s is at %s\n", port.c_str(), request.ptyLink.c_str());
  return SpawnChild({"/proc/self/exe", "pty", "--root", request.root, port, request.ptyLink}, {}, log);
}

// Where Wendra writes its tracks: beside the program, or in logdir.
std::vector<std::string> TrackFolders(const std::string& programDir, const LoggerSettings& settings) {
  std::vector<std::string> folders = {programDir};
  std::string logDir;
  DWORD unmapped = ERROR_SUCCESS;
  if (settings.logdir[0] && cehost::ResolveDevicePath(settings.logdir, &logDir, &unmapped)) {
    folders.push_back(logDir);
  }
  return folders;
}

// The console line until the run's end: its deadline, Ctrl-C or Wendra's
// end. Without a console the trace is still read now and then, so its pipe
// never fills.
void ShowStatus(WendraStatus& status, Clock::time_point deadline, bool console, Stopper& stopper) {
  const auto period = console ? std::chrono::milliseconds(250) : std::chrono::milliseconds(5000);
  for (;;) {
    const auto wake = std::min(deadline, Clock::now() + period);
    if (stopper.WaitUntil(wake) || Clock::now() >= deadline) break;
    status.Update();
    if (!console) continue;
    std::printf("\r%s\033[K", status.Line().c_str());
    std::fflush(stdout);
  }
  if (console) std::printf("\n");
}

// Wendra ends through its own Exit command, so it finishes its track. Its
// main window is titled with its program's name first.
void ExitWendra(cehost::WindowDirectory& windows) {
  const std::u16string wendraTitle = std::u16string(u"Wendra") + INSTANCE_SUFFIX;
  for (DWORD window : windows.List()) {
    std::u16string title;
    LRESULT result = 0;
    if (windows.GetTitle(window, &title) && title == wendraTitle) {
      windows.Send(window, WM_COMMAND, IDC_EXIT, 0, &result);
    }
  }
}

}  // namespace

int Run(int argc, char** argv) {
  RunRequest request;
  if (!ReadRequest(argc, argv, &request)) return 2;
  if (!*CE_WENDRA_EXE || !fs::exists(CE_WENDRA_EXE)) {
    std::fprintf(stderr, "cedevice run: Wendra has not been built\n");
    return 1;
  }
  std::string programDir, program;
  if (!PrepareRoot(&request.root) || !PrepareWendra(&programDir, &program)) return 1;
  const LoggerSettings settings = ReadSettings();
  const bool console = request.headless && ::isatty(1);
  WendraTrace trace;
  std::unique_ptr<cehost::InProcessDevice> device;
  std::unique_ptr<cehost::DeviceServer> server;
  if (!trace.Open() || !BecomeDevice(request, settings.chgfromport, &device, &server)) return 1;
  std::thread serving([&server] { server->Run(); });
  Stopper stopper;
  StopOnSignals([&stopper] { stopper.Stop(); });

  const std::time_t started = std::time(nullptr);
  const auto deadline =
      request.seconds > 0 ? Clock::now() + std::chrono::seconds(request.seconds) : Clock::time_point::max();
  const std::string log = request.root + "/run.log";
  const pid_t wendra = StartWendra(program, request, trace, log);
  // Wendra's end stops the run at once, without a poll for it.
  std::thread wendraEnded([wendra, &stopper] {
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(wendra), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    stopper.Stop();
  });
  const std::u16string relay = cehost::ToUtf16("COM" + std::to_string(settings.chgtoport) + ":");
  WendraStatus status(trace.path, TrackFolders(programDir, settings), started);
  const pid_t client = StartRelayClient(*device->Get(), relay, request, wendra, stopper, deadline, status, log);
  if (client > 0) ShowStatus(status, deadline, console, stopper);

  ExitWendra(device->Get()->Windows());
  EndChild(wendra, 10000);
  wendraEnded.join();
  if (trace.pipe[0] >= 0) ::close(trace.pipe[0]);
  if (client > 0) {
    ::kill(client, SIGTERM);
    EndChild(client, 5000);
  }
  server->Stop();
  serving.join();
  server.reset();
  device.reset();

  const std::string track = status.TrackFile();
  if (track.empty()) {
    std::printf("no track file was written\n");
  } else {
    std::printf("track file: %s (%s)\n", track.c_str(), WendraStatus::RecordCount(status.Records()).c_str());
  }
  return client > 0 ? 0 : 1;
}

}  // namespace cedevice
