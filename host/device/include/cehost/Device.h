// Booting a device inside a program: the program becomes the device process
// (registry, device manager, real serial ports, named mutexes, clock) and its
// own platform calls reach that device directly. Tests use it to run drivers
// and the logger without a server; the cedevice command uses it to serve
// other programs.
//
//   cehost::BootOptions options;
//   options.root = "/tmp/device";
//   options.ports = {"COM5:=replay:/path/capture.nmea@10", "COM9:=test"};
//   options.clock = "2008-03-07T09:05:02";
//   std::string error;
//   auto device = cehost::InProcessDevice::Boot(options, &error);
//   ... CreateFileW(TEXT("COM6:"), ...) ...
//   device.reset();  // shuts the device down
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace cehost {

struct BootOptions {
  // Host directory of the device root; created with its system directory
  // (\Windows) when missing. Its registry.reg is loaded and kept up to date.
  std::string root;
  // Real serial ports, "COMn:=BINDING": sim[:options], replay:FILE[@SPEED],
  // tty:DEVICE[@BAUD], or test (a port the program feeds and fails itself).
  std::vector<std::string> ports;
  // The local time at boot, "YYYY-MM-DDThh:mm:ss"; empty takes the host's.
  std::string clock;
  // Activate the driver keys under Drivers\BuiltIn, as the device does at boot.
  bool loadBuiltInDrivers = true;
};

// A port bound to "test": the program plays the receiver.
class TestPort {
 public:
  enum class Operation { Open, Read, Write, Control };
  virtual ~TestPort() = default;
  // Bytes the receiver sends now. The UART drops them while no client holds
  // the port open for reading or writing.
  virtual void Feed(const std::string& bytes) = 0;
  // Every byte that clients have written to the port since boot.
  virtual std::string Written() const = 0;
  // From now on the operation fails with this error; ERROR_SUCCESS ends it.
  virtual void Fail(Operation operation, DWORD error) = 0;
  // The control lines as clients last set them.
  virtual bool Dtr() const = 0;
  virtual bool Rts() const = 0;
  // Waits until a client holds the port open and a Feed reaches it (held),
  // or none holds it; false when that did not come within the time.
  virtual bool WaitHeld(bool held, int timeoutMs) = 0;
  // The access mask and share mode of the latest open of the port; both
  // kNeverOpened before the first.
  static constexpr DWORD kNeverOpened = 0xFFFFFFFF;
  virtual DWORD LastAccess() const = 0;
  virtual DWORD LastShare() const = 0;
  // Waits until clients have made at least this many requests of the kind
  // since boot (a status request is one Control); false when they did not
  // within the time.
  virtual bool WaitRequests(Operation operation, unsigned long long count, int timeoutMs) = 0;
};

class Device;

class InProcessDevice {
 public:
  // One device per process at a time. nullptr with a message when the root
  // cannot be used, a binding is wrong or the registry file is malformed.
  static std::unique_ptr<InProcessDevice> Boot(const BootOptions& options, std::string* error);
  // Shuts down: closes every open device file, deactivates every device,
  // and leaves the registry written.
  ~InProcessDevice();

  // The port bound to "test" under this name ("COM5:"), or nullptr.
  TestPort* Port(const std::string& name);
  // Deactivates the device of that name ("COM7:") as DeactivateDevice would;
  // false when no activated device has the name.
  bool Deactivate(const std::string& name);
  // Bytes a real port dropped because its input queue was full.
  unsigned long long LostBytes(const std::string& name);
  // The device itself, for the device process's server.
  std::shared_ptr<Device> Get() { return device_; }

 private:
  explicit InProcessDevice(std::shared_ptr<Device> device);
  std::shared_ptr<Device> device_;
};

}  // namespace cehost
