// The device a host test boots: in the test's own process, or in a process
// of its own that the test then calls as every program does, through
// RemoteDevice and the device's socket. A test written against BootedDevice
// runs either way, with the same assertions.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "cehost/Device.h"

namespace cetest {

// What only the device can tell or do: its test ports, its deactivation by
// name, the bytes a real port lost.
class BootedDevice {
 public:
  virtual ~BootedDevice() = default;
  virtual cehost::TestPort* Port(const std::string& name) = 0;
  virtual bool Deactivate(const std::string& name) = 0;
  virtual unsigned long long LostBytes(const std::string& name) = 0;
};

// How the test reaches its device.
enum class Link { InProcess, Socket };
std::string LinkName(Link link);

// Boots the device the given way; nullptr with the device's message when it
// does not boot.
std::unique_ptr<BootedDevice> BootDevice(Link link, const cehost::BootOptions& options, std::string* error);

// The device process: ce_test_device serving the root, its test ports
// reached over a pipe. Ending it shuts the device down, which writes its
// registry, and returns the test to no device.
class DeviceProcess : public BootedDevice {
 public:
  static std::unique_ptr<DeviceProcess> Start(const cehost::BootOptions& options, std::string* error);
  ~DeviceProcess() override;

  cehost::TestPort* Port(const std::string& name) override;
  bool Deactivate(const std::string& name) override;
  unsigned long long LostBytes(const std::string& name) override;

  // One command to the process and its one-line answer; empty when the
  // process is gone.
  std::string Ask(const std::string& command) const;

 private:
  class RemotePort;
  DeviceProcess() = default;

  pid_t pid_ = -1;
  int commands_ = -1;
  int answers_ = -1;
  std::map<std::string, std::unique_ptr<RemotePort>> ports_;
};

// Bytes as text for the pipe, and back.
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& text);

}  // namespace cetest
