// cedevice stop: the device ends every program's hold on it as on the
// program's exit, deactivates its drivers and ends; the command waits for it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "CommandLine.h"

namespace cedevice {

int Stop(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error)) {
    std::fprintf(stderr, "cedevice stop: %s\n", error.c_str());
    return 2;
  }
  auto device = ConnectTo(root);
  if (!device) return 1;
  device->Shutdown();
  // The device holds the root's lock until its process has ended.
  const int lock = ::open((root + "/cedevice.lock").c_str(), O_RDONLY | O_CLOEXEC);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (lock >= 0 && ::flock(lock, LOCK_SH | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "cedevice stop: the device at %s did not end within 30 seconds\n", root.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (lock >= 0) ::close(lock);
  return 0;
}

}  // namespace cedevice
