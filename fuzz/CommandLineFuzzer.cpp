// The values cedevice takes on its command line, as a user may type them:
// --clock (a time), --port (COMn:=BINDING) and --gps (a binding). A time
// that is taken is the time written; a binding that is taken is read apart
// from opening anything; the built-in receiver a binding sets up sends only
// sentences NMEA 0183 allows, with positions on the globe, wherever its
// route goes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/DeviceClock.h"
#include "device/PortBinding.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckClock(const std::string& text) {
  SYSTEMTIME time;
  if (!cehost::DeviceClock::Parse(text, &time)) return;
  char written[64];
  std::snprintf(written, sizeof written, "%04u-%02u-%02uT%02u:%02u:%02u", time.wYear, time.wMonth, time.wDay,
                time.wHour, time.wMinute, time.wSecond);
  Require(text == written);
}

// ddmm.mmmm or dddmm.mmmm, at most 90 or 180 degrees.
void CheckCoordinate(const std::string& field, size_t width, int most) {
  Require(field.size() == width + 7 && field[width + 2] == '.');
  const int degrees = std::atoi(field.substr(0, width).c_str());
  const double minutes = std::atof(field.c_str() + width);
  Require(degrees <= most && minutes < 60.0 && (degrees < most || minutes == 0.0));
}

void CheckSentence(const std::string& line) {
  Require(line.size() <= 82 && line.size() > 6 && line[0] == '$' && line.compare(line.size() - 2, 2, "\r\n") == 0);
  const size_t star = line.size() - 5;
  Require(line[star] == '*');
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  Require(std::strtoul(line.substr(star + 1, 2).c_str(), nullptr, 16) == sum);
  std::vector<std::string> fields(1);
  for (size_t i = 1; i < star; ++i) {
    if (line[i] == ',') {
      fields.emplace_back();
    } else {
      fields.back() += line[i];
    }
  }
  const std::string type = fields[0].substr(2);
  const size_t at = type == "GGA" ? 2 : type == "RMC" ? 3 : 0;
  if (at == 0 || fields.size() < at + 4 || fields[at].empty()) return;
  CheckCoordinate(fields[at], 2, 90);
  Require(fields[at + 1] == "N" || fields[at + 1] == "S");
  CheckCoordinate(fields[at + 2], 3, 180);
  Require(fields[at + 3] == "E" || fields[at + 3] == "W");
}

// The bursts at the turns of the square route, within a bounded walk.
void CheckReceiver(const cehost::SimReceiver::Options& options) {
  const SYSTEMTIME utc{2008, 3, 5, 7, 9, 5, 2, 0};
  const int leg = options.legSeconds;
  for (int moving : {-1, 0, 1, leg - 1, leg, leg + 1, 2 * leg, 3 * leg, 4 * leg + 1}) {
    const int second = options.noFixSeconds + std::min(moving, 8192);
    if (second < 0) continue;
    const std::string burst = cehost::SimReceiver::Burst(options, second, utc);
    for (size_t from = 0; from < burst.size();) {
      const size_t end = burst.find('\n', from);
      Require(end != std::string::npos);
      CheckSentence(burst.substr(from, end + 1 - from));
      from = end + 1;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckClock(text);
  cehost::PortBinding binding;
  std::string error;
  std::u16string name;
  const bool port = cehost::ParsePortOption(text, &name, &binding, &error);
  Require(port || !error.empty());
  error.clear();
  const bool gps = cehost::ParsePortBinding(text, &binding, &error);
  Require(gps || !error.empty());
  if (gps && binding.kind == cehost::PortBinding::Kind::Sim) CheckReceiver(binding.sim);
  return 0;
}
