// What a port binding says, read apart from opening what it names, so the
// text a user gives (cedevice's --port and --gps) is checked alone: "sim[:options]",
// "replay:FILE[@SPEED]", "tty:DEVICE[@BAUD]" or "test".
#pragma once

#include <windows.h>

#include <string>

#include "SimReceiver.h"

namespace cehost {

struct PortBinding {
  enum class Kind { Test, Sim, Replay, Tty } kind = Kind::Test;
  SimReceiver::Options sim;  // Sim
  std::string path;          // Replay: the capture; Tty: the serial device
  double speed = 1.0;        // Replay: times real time
  DWORD baud = CBR_4800;     // Tty
};

// False with a message for a binding that is not well formed.
bool ParsePortBinding(const std::string& text, PortBinding* binding, std::string* error);

// "COMn:=BINDING", as --port gives a port of the device; the name is the
// device file's ("COM5:").
bool ParsePortOption(const std::string& text, std::u16string* name, PortBinding* binding, std::string* error);

}  // namespace cehost
