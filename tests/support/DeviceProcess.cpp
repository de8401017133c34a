#include "DeviceProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>

#include "ServedDevice.h"
#include "common/DeviceRoot.h"
#include "cehost/ProcessDevice.h"
#include "coredll/RemoteDevice.h"

extern char** environ;

namespace cetest {

namespace {

class InProcess : public BootedDevice {
 public:
  explicit InProcess(std::unique_ptr<cehost::InProcessDevice> device) : device_(std::move(device)) {}
  cehost::TestPort* Port(const std::string& name) override { return device_->Port(name); }
  bool Deactivate(const std::string& name) override { return device_->Deactivate(name); }
  unsigned long long LostBytes(const std::string& name) override { return device_->LostBytes(name); }

 private:
  std::unique_ptr<cehost::InProcessDevice> device_;
};

// A line from the pipe, without its line feed; false at its end.
bool ReadLine(int fd, std::string* line) {
  line->clear();
  for (char c; ;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return false;
    if (c == '\n') return true;
    *line += c;
  }
}

}  // namespace

std::string LinkName(Link link) { return link == Link::InProcess ? "InProcess" : "Socket"; }

std::unique_ptr<BootedDevice> BootDevice(Link link, const cehost::BootOptions& options, std::string* error) {
  if (link == Link::Socket) return DeviceProcess::Start(options, error);
  auto device = cehost::InProcessDevice::Boot(options, error);
  if (!device) return nullptr;
  return std::make_unique<InProcess>(std::move(device));
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

std::string Unhex(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// A test port of the device process: each call one command.
class DeviceProcess::RemotePort : public cehost::TestPort {
 public:
  RemotePort(const DeviceProcess& device, std::string name) : device_(device), name_(std::move(name)) {}
  void Feed(const std::string& bytes) override { device_.Ask("feed " + name_ + " " + Hex(bytes)); }
  std::string Written() const override { return Unhex(device_.Ask("written " + name_)); }
  void Fail(Operation operation, DWORD error) override {
    device_.Ask("fail " + name_ + " " + std::to_string(static_cast<int>(operation)) + " " + std::to_string(error));
  }
  bool Dtr() const override { return device_.Ask("dtr " + name_) == "1"; }
  bool Rts() const override { return device_.Ask("rts " + name_) == "1"; }
  DWORD LastAccess() const override { return static_cast<DWORD>(std::strtoul(device_.Ask("access " + name_).c_str(), nullptr, 10)); }
  DWORD LastShare() const override { return static_cast<DWORD>(std::strtoul(device_.Ask("share " + name_).c_str(), nullptr, 10)); }
  bool WaitHeld(bool held, int timeoutMs) override {
    return device_.Ask("held " + name_ + " " + (held ? "1 " : "0 ") + std::to_string(timeoutMs)) == "1";
  }
  bool WaitRequests(Operation operation, unsigned long long count, int timeoutMs) override {
    return device_.Ask("requests " + name_ + " " + std::to_string(static_cast<int>(operation)) + " " +
                       std::to_string(count) + " " + std::to_string(timeoutMs)) == "1";
  }

 private:
  const DeviceProcess& device_;
  std::string name_;
};

std::unique_ptr<DeviceProcess> DeviceProcess::Start(const cehost::BootOptions& options, std::string* error) {
  std::vector<std::string> argv = {CE_TEST_DEVICE_EXE, options.root};
  for (const auto& port : options.ports) argv.insert(argv.end(), {"--port", port});
  if (!options.clock.empty()) argv.insert(argv.end(), {"--clock", options.clock});
  if (!options.loadBuiltInDrivers) argv.push_back("--no-drivers");
  int toDevice[2], fromDevice[2];
  if (::pipe2(toDevice, O_CLOEXEC) != 0) return *error = "no pipe", nullptr;
  if (::pipe2(fromDevice, O_CLOEXEC) != 0) {
    ::close(toDevice[0]);
    ::close(toDevice[1]);
    return *error = "no pipe", nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toDevice[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromDevice[1], 1);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  std::unique_ptr<DeviceProcess> device(new DeviceProcess);
  const int spawned = ::posix_spawn(&device->pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toDevice[0]);
  ::close(fromDevice[1]);
  device->commands_ = toDevice[1];
  device->answers_ = fromDevice[0];
  if (spawned != 0) {
    device->pid_ = -1;
    return *error = "cannot start " + argv[0], nullptr;
  }
  std::string line;
  if (!ReadLine(device->answers_, &line) || line != "ready") {
    *error = line.rfind("error ", 0) == 0 ? line.substr(6) : "the device process ended while booting";
    WaitExit(device->pid_, 30000);  // a device that did not boot ends at once
    device->pid_ = -1;
    return nullptr;
  }
  // From here on the test is a program of that device.
  cehost::SetDeviceRoot(options.root);
  auto remote = cehost::RemoteDevice::Connect(options.root);
  if (!remote) return *error = "cannot connect to the device process", nullptr;
  cehost::SetProcessDevice(remote);
  return device;
}

DeviceProcess::~DeviceProcess() {
  cehost::SetProcessDevice(nullptr);
  if (commands_ >= 0) ::close(commands_);  // the device shuts down at the end of its commands
  if (pid_ > 0 && WaitExit(pid_, 30000) != 0) ADD_FAILURE() << "the device process did not end well";
  if (answers_ >= 0) ::close(answers_);
}

std::string DeviceProcess::Ask(const std::string& command) const {
  const std::string line = command + "\n";
  std::string answer;
  if (::write(commands_, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
      !ReadLine(answers_, &answer)) {
    ADD_FAILURE() << "the device process is gone";
  }
  return answer;
}

cehost::TestPort* DeviceProcess::Port(const std::string& name) {
  if (Ask("port " + name) != "1") return nullptr;
  auto& port = ports_[name];
  if (!port) port = std::make_unique<RemotePort>(*this, name);
  return port.get();
}

bool DeviceProcess::Deactivate(const std::string& name) { return Ask("deactivate " + name) == "1"; }

unsigned long long DeviceProcess::LostBytes(const std::string& name) {
  return std::strtoull(Ask("lost " + name).c_str(), nullptr, 10);
}

}  // namespace cetest
