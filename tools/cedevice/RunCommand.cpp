// cedevice run: the whole device in one command. This process becomes the
// device process; it installs Wendra on a fresh root, binds the GPS, starts
// Wendra and a client of the relay port, and on Ctrl-C or after --seconds
// ends Wendra through its Exit command, stops the client and the device,
// and tells where the track is.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
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
#include "LoggerApp.h"
#include "LoggerSettings.h"
#include "LoggerState.h"
#include "NullView.h"
#include "WendraStatus.h"
#include "cehost/Device.h"
#include "device/Device.h"
#include "device/DeviceServer.h"
#include "device/PortSource.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"
#include "resource.h"

extern char** environ;

namespace cedevice {

namespace fs = std::filesystem;

namespace {


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

// A child in a process group of its own, so a Ctrl-C at the terminal reaches
// only this command, which ends the children in order; they also end if
// this command dies. A given pipe end becomes the child's descriptor 3.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& output, int pipeEnd = -1) {
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(1);
  sigset_t none;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
  const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
  }
  if (pipeEnd >= 0) ::dup2(pipeEnd, 3);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  ::execve(args[0], args.data(), envp.data());
  ::_exit(127);
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

}  // namespace

int Run(int argc, char** argv) {
  CommandLine line;
  std::string error;
  if (!line.Parse(argc, argv, 2, {"root", "gps", "pty", "seconds", "ui"}, &error) || !line.positional.empty()) {
    std::fprintf(stderr, "cedevice run: %s\n",
                 error.empty() ? ("unexpected argument '" + line.positional[0] + "'").c_str() : error.c_str());
    return 2;
  }
  const std::string gps = line.Value("gps", "sim");
  const std::string ptyLink = line.Value("pty");
  const std::string ui = line.Value("ui", "auto");
  long seconds = 0;
  const std::string secondsText = line.Value("seconds");
  if (!secondsText.empty()) {
    char* end = nullptr;
    seconds = std::strtol(secondsText.c_str(), &end, 10);
    if (*end != '\0' || seconds <= 0) {
      std::fprintf(stderr, "cedevice run: --seconds takes a whole number of seconds above 0\n");
      return 2;
    }
  }
  if (ui != "auto" && ui != "gtk" && ui != "headless") {
    std::fprintf(stderr, "cedevice run: --ui is auto, gtk or headless\n");
    return 2;
  }
  const bool headless = ui == "headless" || (ui == "auto" && !std::getenv("DISPLAY"));
  struct stat st;
  if (!ptyLink.empty() && ::lstat(ptyLink.c_str(), &st) == 0) {
    std::fprintf(stderr, "cedevice run: %s exists already\n", ptyLink.c_str());
    return 2;
  }
  {
    // The binding is checked, not started: a missing capture or tty is reported now.
    cehost::DeviceClock clock;
    if (!cehost::MakePortSource(gps, clock, &error)) {
      std::fprintf(stderr, "cedevice run: %s\n", error.c_str());
      return 2;
    }
  }
  if (!*CE_WENDRA_EXE || !fs::exists(CE_WENDRA_EXE)) {
    std::fprintf(stderr, "cedevice run: Wendra has not been built\n");
    return 1;
  }

  std::string root = line.Value("root", DefaultRoot());
  const bool made = cehost::PrepareDeviceRoot(root, &error);
  const std::string probe = root + "/.cedevice-probe";
  const int probeFd = made ? ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
  if (probeFd < 0) {
    std::fprintf(stderr, "cedevice run: the device root %s cannot be written\n", root.c_str());
    return 1;
  }
  ::close(probeFd);
  ::unlink(probe.c_str());
  root = fs::canonical(root).string();
  std::printf("device root: %s\n", root.c_str());
  cehost::SetDeviceRoot(root);

  // A fresh root gets Wendra, the driver and first-run settings; a root that
  // exists keeps its own programs and settings.
  std::string programDir, program;
  DWORD unmapped = ERROR_SUCCESS;  // a path that cannot be mapped stays empty and is not used
  cehost::ResolveDevicePath(u"\\Program Files\\Wendra", &programDir, &unmapped);
  cehost::ResolveDevicePath(u"\\Program Files\\Wendra\\Wendra", &program, &unmapped);
  if (!fs::exists(program)) {
    if (!InstallWendra(true, &programDir, &error)) {
      std::fprintf(stderr, "cedevice run: cannot install Wendra: %s\n", error.c_str());
      return 1;
    }
    std::printf("installed Wendra into %s\n", programDir.c_str());
  }
  const LoggerSettings settings = ReadSettings();

  // This process is the device.
  BlockStopSignals();
  const int lock = cehost::DeviceServer::LockRoot(root, &error);
  if (lock < 0) {
    std::fprintf(stderr, "cedevice run: %s\n", error.c_str());
    return 1;
  }
  cehost::BootOptions options;
  options.root = root;
  options.ports = {"COM" + std::to_string(settings.chgfromport) + ":=" + gps};
  auto device = cehost::InProcessDevice::Boot(options, &error);
  std::unique_ptr<cehost::DeviceServer> server;
  if (device) server = cehost::DeviceServer::Open(device->Get(), lock, &error);
  if (!server) {
    std::fprintf(stderr, "cedevice run: %s\n", error.c_str());
    return 1;
  }
  std::thread serving([&server] { server->Run(); });
  Stopper stopper;
  StopOnSignals([&stopper] { stopper.Stop(); });

  const std::time_t started = std::time(nullptr);
  const std::string log = root + "/run.log";
  const bool console = headless && ::isatty(1);
  // Wendra's window trace feeds the console line through a pipe, so no file
  // grows with the run; a trace asked for with CE_UI_TRACE goes where asked.
  const char* asked = std::getenv("CE_UI_TRACE");
  std::string trace = asked && *asked ? asked : "";
  int tracePipe[2] = {-1, -1};
  if (trace.empty() && console) {
    if (::pipe2(tracePipe, O_CLOEXEC) != 0) {
      std::fprintf(stderr, "cedevice run: cannot make a pipe: %s\n", std::strerror(errno));
      return 1;
    }
    // Room for minutes of steps, should the console stop reading for a while.
    ::fcntl(tracePipe[1], F_SETPIPE_SZ, 1 << 20);
    trace = "/dev/fd/" + std::to_string(tracePipe[0]);
  }
  std::vector<std::string> environment = {"CEDEVICE_ROOT=" + root, "CE_UI=" + std::string(headless ? "headless" : "gtk")};
  if (tracePipe[1] >= 0) {
    environment.push_back("CE_UI_TRACE=/dev/fd/3");
  } else if (!trace.empty()) {
    environment.push_back("CE_UI_TRACE=" + trace);
  }
  const pid_t wendra = SpawnChild({program}, environment, log, tracePipe[1]);
  if (tracePipe[1] >= 0) ::close(tracePipe[1]);
  // Wendra's end stops the run at once, without a poll for it.
  std::thread wendraEnded([wendra, &stopper] {
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(wendra), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    stopper.Stop();
  });

  // The relay exists once Wendra has activated the driver, or from boot on.
  const std::u16string relay = cehost::ToUtf16("COM" + std::to_string(settings.chgtoport) + ":");
  auto relayExists = [&] {
    for (const auto& name : device->Get()->Manager().DeviceNames()) {
      if (cehost::EqualsNoCase(name, relay)) return true;
    }
    return false;
  };
  pid_t client = -1;
  int status = 0;
  while (!relayExists()) {
    if (Exited(wendra) || stopper.WaitFor(std::chrono::milliseconds(50))) break;
  }
  if (relayExists()) {
    const std::string port = cehost::ToUtf8(relay);
    client = ptyLink.empty() ? SpawnChild({"/proc/self/exe", "cat", "--root", root, port}, {}, "/dev/null")
                             : SpawnChild({"/proc/self/exe", "pty", "--root", root, port, ptyLink}, {}, log);
    if (!ptyLink.empty()) std::printf("the relay %s is at %s\n", port.c_str(), ptyLink.c_str());
  } else {
    std::fprintf(stderr, "cedevice run: Wendra ended or no relay port %s appeared; see %s\n",
                 cehost::ToUtf8(relay).c_str(), log.c_str());
    status = 1;
  }

  std::vector<std::string> trackDirs = {programDir};
  if (settings.logdir[0]) {
    std::string dir;
    if (cehost::ResolveDevicePath(settings.logdir, &dir, &unmapped)) trackDirs.push_back(dir);
  }
  WendraStatus wendraStatus(trace, trackDirs, started);
  using Clock = std::chrono::steady_clock;
  const auto deadline = seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point::max();
  // Only the console line needs a period; otherwise the run waits for its end.
  while (status == 0) {
    const auto wake = console ? std::min(deadline, Clock::now() + std::chrono::milliseconds(250)) : deadline;
    if (stopper.WaitUntil(wake) || Clock::now() >= deadline) break;
    wendraStatus.Update();
    std::printf("\r%s\033[K", wendraStatus.Line().c_str());
    std::fflush(stdout);
  }
  if (console) std::printf("\n");

  // Wendra ends through its own Exit command, so it finishes its track.
  auto& windows = device->Get()->Windows();
  const std::u16string wendraTitle = std::u16string(u"Wendra") + INSTANCE_SUFFIX;  // its program's name first
  for (DWORD window : windows.List()) {
    std::u16string title;
    LRESULT result = 0;
    if (windows.GetTitle(window, &title) && title == wendraTitle) {
      windows.Send(window, WM_COMMAND, IDC_EXIT, 0, &result);
    }
  }
  EndChild(wendra, 10000);
  wendraEnded.join();
  if (tracePipe[0] >= 0) ::close(tracePipe[0]);
  if (client > 0) {
    ::kill(client, SIGTERM);
    EndChild(client, 5000);
  }
  server->Stop();
  serving.join();
  server.reset();
  device.reset();

  const std::string track = wendraStatus.TrackFile();
  if (track.empty()) {
    std::printf("no track file was written\n");
  } else {
    std::printf("track file: %s (%s)\n", track.c_str(), WendraStatus::RecordCount(wendraStatus.Records()).c_str());
  }
  return status;
}

}  // namespace cedevice
