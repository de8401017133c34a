#include "ServedDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/ChildProcess.h"
#include "device/DeviceServer.h"

namespace cetest {

std::unique_ptr<ServedDevice> ServedDevice::Start(const cehost::BootOptions& options, std::string* error) {
  const int lock = cehost::DeviceServer::LockRoot(options.root, error);
  if (lock < 0) return nullptr;
  std::unique_ptr<ServedDevice> served(new ServedDevice);
  served->device_ = cehost::InProcessDevice::Boot(options, error);
  if (!served->device_) return nullptr;
  served->server_ = cehost::DeviceServer::Open(served->device_->Get(), lock, error);
  if (!served->server_) return nullptr;
  served->serving_ = std::thread([server = served->server_.get()] { server->Run(); });
  return served;
}

ServedDevice::~ServedDevice() {
  if (server_) {
    server_->Stop();
    if (serving_.joinable()) serving_.join();
    server_.reset();
  }
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& outputFile, const std::string& errorFile) {
  cehost::ChildOptions options;
  options.environment = environment;
  options.output = outputFile;
  options.error = errorFile;
  return cehost::SpawnChild(argv, options);
}

int WaitExit(pid_t child, int timeoutMs) {
  // A process descriptor becomes readable when the child ends.
  const int process = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  pollfd ended{process, POLLIN, 0};
  const bool inTime = process >= 0 && ::poll(&ended, 1, timeoutMs) == 1;
  if (process >= 0) ::close(process);
  int status = 0;
  if (!inTime) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
  }
  if (::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace cetest

namespace cetest {

int RunCommand(const std::vector<std::string>& argv, std::string* output, int timeoutMs) {
  char name[] = "/tmp/cetest-output-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return -1;
  ::close(fd);
  const int status = WaitExit(Spawn(argv, {}, name, name), timeoutMs);
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  *output = text.str();
  ::unlink(name);
  return status;
}

bool WaitForChange(const std::string& folder, const std::function<bool()>& condition, int timeoutMs) {
  const int changes = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  // Watched before the first look, so no change between the two is missed.
  const bool watched =
      changes >= 0 && ::inotify_add_watch(changes, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE |
                                                                       IN_MOVED_TO | IN_DELETE | IN_ATTRIB) >= 0;
  // Without a watch (no inotify, or no folder yet) nothing signals a change:
  // the condition is looked at in short slices instead.
  const int slice = watched ? -1 : 10;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool met = condition();
  while (!met) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    const int wait = slice < 0 ? static_cast<int>(left) : std::min(slice, static_cast<int>(left));
    pollfd changed{watched ? changes : -1, POLLIN, 0};
    if (::poll(&changed, 1, wait) < 0 && errno != EINTR) break;
    char events[4096];
    while (watched && ::read(changes, events, sizeof events) > 0) {
    }
    met = condition();
  }
  if (changes >= 0) ::close(changes);
  return met;
}

bool Retry(const std::function<bool()>& attempt, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!attempt()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool WaitGone(pid_t process, int timeoutMs) {
  // A process descriptor becomes readable when the process ends, whoever's
  // child it is; none is made for a process that is gone already.
  const int watched = static_cast<int>(::syscall(SYS_pidfd_open, process, 0));
  if (watched < 0) return errno == ESRCH;
  pollfd ended{watched, POLLIN, 0};
  const bool gone = ::poll(&ended, 1, timeoutMs) == 1;
  ::close(watched);
  return gone;
}

}  // namespace cetest
