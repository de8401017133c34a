#include "PortSource.h"

#include <fstream>
#include <sstream>

#include "PortBinding.h"
#include "ReplaySource.h"
#include "SimReceiver.h"
#include "TestSource.h"
#include "TtySource.h"

#include <sys/stat.h>

namespace cehost {

std::unique_ptr<PortSource> MakePortSource(const PortBinding& binding, DeviceClock& clock, std::string* error) {
  switch (binding.kind) {
    case PortBinding::Kind::Test:
      return std::make_unique<TestSource>();
    case PortBinding::Kind::Sim:
      return std::make_unique<SimReceiver>(binding.sim, clock);
    case PortBinding::Kind::Replay: {
      std::ifstream in(binding.path, std::ios::binary);
      if (!in) {
        *error = "replay: cannot read the capture '" + binding.path + "'";
        return nullptr;
      }
      std::ostringstream bytes;
      bytes << in.rdbuf();
      return std::make_unique<ReplaySource>(bytes.str(), binding.speed);
    }
    case PortBinding::Kind::Tty: {
      struct stat st;
      if (::stat(binding.path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        *error = "tty: '" + binding.path + "' is not a serial device";
        return nullptr;
      }
      return std::make_unique<TtySource>(binding.path, binding.baud);
    }
  }
  return nullptr;
}

std::unique_ptr<PortSource> MakePortSource(const std::string& text, DeviceClock& clock, std::string* error) {
  PortBinding binding;
  if (!ParsePortBinding(text, &binding, error)) return nullptr;
  return MakePortSource(binding, clock, error);
}

}  // namespace cehost
