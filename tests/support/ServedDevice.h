// A device booted in the test process and served to other programs, so a
// test can start real programs (cedevice commands, Wendra) on it and still
// call the device directly itself.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cehost/Device.h"

namespace cehost {
class DeviceServer;
}

namespace cetest {

class ServedDevice {
 public:
  // nullptr with a message when the device cannot boot or serve.
  static std::unique_ptr<ServedDevice> Start(const cehost::BootOptions& options, std::string* error);
  // Stops serving (every program's hold ends as on its exit) and shuts down.
  ~ServedDevice();

  cehost::InProcessDevice& Device() { return *device_; }

 private:
  ServedDevice() = default;
  std::unique_ptr<cehost::InProcessDevice> device_;
  std::unique_ptr<cehost::DeviceServer> server_;
  std::thread serving_;
};

// A child process running argv, with extra environment entries "NAME=value"
// (replacing inherited ones of the same name); its standard output and error
// go to the files given.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
            const std::string& outputFile = "", const std::string& errorFile = "");
// Runs a command to its end: its exit status and what it wrote, both streams.
int RunCommand(const std::vector<std::string>& argv, std::string* output, int timeoutMs = 30000);
// Waits for a condition that another process brings about in a folder: a
// file that appears or grows, or a registry value (the device saves its
// registry in its root at every change). The condition is looked at again
// whenever something in the folder changes; false when it did not come
// within the time.
bool WaitForChange(const std::string& folder, const std::function<bool()>& condition, int timeoutMs = 10000);
// Repeats an attempt every 10 ms until it succeeds, only for what nothing
// signals: a server that answers once it has what it waits for, a driver
// that comes when another program has installed it, a count inside the
// device manager. False when it did not succeed within the time.
bool Retry(const std::function<bool()>& attempt, int timeoutMs = 10000);
// Waits for a process, the test's child or not (a device that went to the
// background), to end; false when it did not end within the time.
bool WaitGone(pid_t process, int timeoutMs);
// Waits for the child to end; its exit status, or -1 when it did not end in
// time (it is then killed), or 128 + the signal that ended it.
int WaitExit(pid_t child, int timeoutMs);

}  // namespace cetest
