#include "PortBinding.h"

#include <cmath>
#include <cstdlib>

#include "TtySource.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"

namespace cehost {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ParseReplay(std::string file, PortBinding* binding, std::string* error) {
  const size_t at = file.rfind('@');
  if (at != std::string::npos) {
    char* end = nullptr;
    const double speed = std::strtod(file.c_str() + at + 1, &end);
    if (at + 1 == file.size() || *end != '\0' || !std::isfinite(speed) || speed <= 0 || speed > 100000) {
      *error = "replay: the speed after '@' must be a number above 0, not '" + file.substr(at + 1) + "'";
      return false;
    }
    binding->speed = speed;
    file.resize(at);
  }
  if (file.empty()) {
    *error = "replay: cannot read the capture ''";
    return false;
  }
  binding->path = file;
  return true;
}

bool ParseTty(std::string device, PortBinding* binding, std::string* error) {
  const size_t at = device.rfind('@');
  if (at != std::string::npos) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(device.c_str() + at + 1, &end, 10);
    if (at + 1 == device.size() || *end != '\0' || !SupportedBaud(static_cast<DWORD>(number))) {
      *error = "tty: the baud rate after '@' is not one a serial device takes: '" + device.substr(at + 1) + "'";
      return false;
    }
    binding->baud = static_cast<DWORD>(number);
    device.resize(at);
  }
  if (device.empty()) {
    *error = "tty: '' is not a serial device";
    return false;
  }
  binding->path = device;
  return true;
}

}  // namespace

bool ParsePortBinding(const std::string& text, PortBinding* binding, std::string* error) {
  *binding = PortBinding();
  if (text == "test") return true;
  if (text == "sim" || StartsWith(text, "sim:")) {
    binding->kind = PortBinding::Kind::Sim;
    return text.size() <= 4 || SimReceiver::ParseOptions(text.substr(4), &binding->sim, error);
  }
  if (StartsWith(text, "replay:")) {
    binding->kind = PortBinding::Kind::Replay;
    return ParseReplay(text.substr(7), binding, error);
  }
  if (StartsWith(text, "tty:")) {
    binding->kind = PortBinding::Kind::Tty;
    return ParseTty(text.substr(4), binding, error);
  }
  *error = "unknown port binding '" + text + "' (use sim, replay:FILE[@SPEED], tty:DEVICE[@BAUD] or test)";
  return false;
}

bool ParsePortOption(const std::string& text, std::u16string* name, PortBinding* binding, std::string* error) {
  const size_t eq = text.find('=');
  if (eq != std::string::npos) *name = ToUtf16(text.substr(0, eq));
  if (eq == std::string::npos || !IsDeviceName(*name)) {
    *error = "a port is given as COMn:=BINDING, not '" + text + "'";
    return false;
  }
  return ParsePortBinding(text.substr(eq + 1), binding, error);
}

}  // namespace cehost
