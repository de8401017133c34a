// ce_test_device ROOT [--port COMn:=BINDING]... [--clock TIME] [--no-drivers]
// The device process of a host test (DeviceProcess): boots the device in
// ROOT and serves it, says "ready" (or "error MESSAGE") on standard output,
// then answers the test's commands on standard input, one line each, until
// that input ends; then the device shuts down.
#include <signal.h>

#include <iostream>
#include <sstream>
#include <string>

#include "DeviceProcess.h"
#include "ServedDevice.h"

namespace {

std::string Answer(cehost::InProcessDevice& device, const std::string& line) {
  std::istringstream in(line);
  std::string command, name, argument;
  in >> command >> name;
  cehost::TestPort* port = device.Port(name);
  if (command == "port") return port ? "1" : "0";
  if (command == "deactivate") return device.Deactivate(name) ? "1" : "0";
  if (command == "lost") return std::to_string(device.LostBytes(name));
  if (!port) return "no port " + name;
  if (command == "feed") {
    in >> argument;
    port->Feed(cetest::Unhex(argument));
    return "ok";
  }
  if (command == "written") return cetest::Hex(port->Written());
  if (command == "dtr") return port->Dtr() ? "1" : "0";
  if (command == "rts") return port->Rts() ? "1" : "0";
  if (command == "access") return std::to_string(port->LastAccess());
  if (command == "share") return std::to_string(port->LastShare());
  if (command == "held") {
    int held = 0, timeoutMs = 0;
    in >> held >> timeoutMs;
    return port->WaitHeld(held != 0, timeoutMs) ? "1" : "0";
  }
  if (command == "requests") {
    int operation = 0, timeoutMs = 0;
    unsigned long long count = 0;
    in >> operation >> count >> timeoutMs;
    return port->WaitRequests(static_cast<cehost::TestPort::Operation>(operation), count, timeoutMs) ? "1" : "0";
  }
  if (command == "fail") {
    int operation = 0;
    unsigned long error = 0;
    in >> operation >> error;
    port->Fail(static_cast<cehost::TestPort::Operation>(operation), static_cast<DWORD>(error));
    return "ok";
  }
  return "unknown command " + command;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);  // a program may go while it is answered
  cehost::BootOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      options.ports.push_back(argv[++i]);
    } else if (arg == "--clock" && i + 1 < argc) {
      options.clock = argv[++i];
    } else if (arg == "--no-drivers") {
      options.loadBuiltInDrivers = false;
    } else {
      options.root = arg;
    }
  }
  std::string error;
  auto served = cetest::ServedDevice::Start(options, &error);
  if (!served) {
    std::cout << "error " << error << std::endl;
    return 1;
  }
  std::cout << "ready" << std::endl;
  for (std::string line; std::getline(std::cin, line);) std::cout << Answer(served->Device(), line) << std::endl;
  return 0;
}
