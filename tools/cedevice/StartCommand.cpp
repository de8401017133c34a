// cedevice start: boots the device process and serves programs until it is
// stopped. It goes to the background once the device is ready to serve, so
// a script can go on at once; a failure to boot is reported before that.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "CommandLine.h"
#include "cehost/Device.h"
#include "common/DeviceRoot.h"
#include "device/DeviceClock.h"
#include "device/DeviceServer.h"

namespace cedevice {

namespace {

// Boots the device and its server; false with a message.
bool Boot(const std::string& root, const CommandLine& line, std::unique_ptr<cehost::InProcessDevice>* device,
          std::unique_ptr<cehost::DeviceServer>* server, std::string* error) {
  const int lockFd = cehost::DeviceServer::LockRoot(root, error);
  if (lockFd < 0) return false;
  cehost::BootOptions options;
  options.root = root;
  auto ports = line.options.find("port");
  if (ports != line.options.end()) options.ports = ports->second;
  options.clock = line.Value("clock");
  *device = cehost::InProcessDevice::Boot(options, error);
  if (!*device) {
    ::close(lockFd);
    return false;
  }
  *server = cehost::DeviceServer::Open((*device)->Get(), lockFd, error);
  return *server != nullptr;
}

// The device in this process, serving until it is stopped.
int ServeInForeground(const std::string& root, const CommandLine& line) {
  BlockStopSignals();
  std::unique_ptr<cehost::InProcessDevice> device;
  std::unique_ptr<cehost::DeviceServer> server;
  std::string error;
  if (!Boot(root, line, &device, &server, &error)) {
    std::fprintf(stderr, "cedevice start: %s\n", error.c_str());
    return 1;
  }
  std::printf("device running at %s\n", root.c_str());
  std::fflush(stdout);
  StopOnSignals([server = server.get()] { server->Stop(); });
  server->Run();
  return 0;
}

// The device in a child of its own session, its output in the root's log.
// It tells the starting command "ok" through ready, or why it could not
// boot; it never returns.
[[noreturn]] void ServeInBackground(const std::string& root, const CommandLine& line, int ready) {
  ::setsid();
  BlockStopSignals();
  const int null = ::open("/dev/null", O_RDONLY);
  const int log = ::open((root + "/cedevice.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (null >= 0) ::dup2(null, 0);
  if (log >= 0) {
    ::dup2(log, 1);
    ::dup2(log, 2);
  }
  std::unique_ptr<cehost::InProcessDevice> device;
  std::unique_ptr<cehost::DeviceServer> server;
  std::string error;
  const bool booted = Boot(root, line, &device, &server, &error);
  const std::string report = booted ? std::string("ok") : error;
  if (::write(ready, report.data(), report.size()) < 0) {
    // The starting command has gone; the device serves anyway.
  }
  ::close(ready);
  if (!booted) ::_exit(1);
  StopOnSignals([server = server.get()] { server->Stop(); });
  server->Run();
  server.reset();
  device.reset();
  ::_exit(0);
}

// Starts the device in the background and waits until it serves or fails.
int StartInBackground(const std::string& root, const CommandLine& line) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    std::perror("cedevice start");
    return 1;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("cedevice start");
    return 1;
  }
  if (child == 0) {
    ::close(ready[0]);
    ServeInBackground(root, line, ready[1]);
  }
  ::close(ready[1]);
  std::string report;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(ready[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<size_t>(n));
  ::close(ready[0]);
  if (report != "ok") {
    std::fprintf(stderr, "cedevice start: %s\n", report.empty() ? "the device ended while booting" : report.c_str());
    return 1;
  }
  std::printf("device running at %s (process %d)\n", root.c_str(), static_cast<int>(child));
  return 0;
}

}  // namespace

int Start(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root", "port", "clock"}, &error) || !RootOption(line, &root, &error)) {
    std::fprintf(stderr, "cedevice start: %s\n", error.c_str());
    return 2;
  }
  if (!line.positional.empty()) {
    std::fprintf(stderr, "cedevice start: unexpected argument '%s'\n", line.positional[0].c_str());
    return 2;
  }
  SYSTEMTIME clock;
  if (!line.Value("clock").empty() && !cehost::DeviceClock::Parse(line.Value("clock"), &clock)) {
    std::fprintf(stderr, "cedevice start: the clock '%s' is not a time of the form YYYY-MM-DDThh:mm:ss\n",
                 line.Value("clock").c_str());
    return 2;
  }
  if (!cehost::PrepareDeviceRoot(root, &error)) {
    std::fprintf(stderr, "cedevice start: cannot create the device root: %s\n", error.c_str());
    return 1;
  }
  char resolved[PATH_MAX];
  if (::realpath(root.c_str(), resolved)) root = resolved;
  return line.Flag("foreground") ? ServeInForeground(root, line) : StartInBackground(root, line);
}

}  // namespace cedevice
