#include "PortSource.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ReplaySource.h"
#include "SimReceiver.h"
#include "TestSource.h"
#include "TtySource.h"

#include <sys/stat.h>

namespace cehost {

std::unique_ptr<PortSource> MakePortSource(const std::string& binding, DeviceClock& clock, std::string* error) {
  if (binding == "test") return std::make_unique<TestSource>();
  if (binding == "sim" || binding.rfind("sim:", 0) == 0) {
    SimReceiver::Options options;
    if (binding.size() > 4 && !SimReceiver::ParseOptions(binding.substr(4), &options, error)) return nullptr;
    return std::make_unique<SimReceiver>(options, clock);
  }
  if (binding.rfind("replay:", 0) == 0) {
    std::string file = binding.substr(7);
    double speed = 1.0;
    const size_t at = file.rfind('@');
    if (at != std::string::npos) {
      char* end = nullptr;
      speed = std::strtod(file.c_str() + at + 1, &end);
      if (at + 1 == file.size() || *end != '\0' || !std::isfinite(speed) || speed <= 0 || speed > 100000) {
        *error = "replay: the speed after '@' must be a number above 0, not '" + file.substr(at + 1) + "'";
        return nullptr;
      }
      file.resize(at);
    }
    std::ifstream in(file, std::ios::binary);
    if (file.empty() || !in) {
      *error = "replay: cannot read the capture '" + file + "'";
      return nullptr;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::make_unique<ReplaySource>(bytes.str(), speed);
  }
  if (binding.rfind("tty:", 0) == 0) {
    std::string device = binding.substr(4);
    DWORD baud = CBR_4800;
    const size_t at = device.rfind('@');
    if (at != std::string::npos) {
      char* end = nullptr;
      const unsigned long number = std::strtoul(device.c_str() + at + 1, &end, 10);
      if (*end != '\0' || !SupportedBaud(static_cast<DWORD>(number))) {
        *error = "tty: the baud rate after '@' is not one a serial device takes: '" + device.substr(at + 1) + "'";
        return nullptr;
      }
      baud = static_cast<DWORD>(number);
      device.resize(at);
    }
    struct stat st;
    if (device.empty() || ::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
      *error = "tty: '" + device + "' is not a serial device";
      return nullptr;
    }
    return std::make_unique<TtySource>(device, baud);
  }
  *error = "unknown port binding '" + binding + "' (use sim, replay:FILE[@SPEED], tty:DEVICE[@BAUD] or test)";
  return nullptr;
}

}  // namespace cehost
