#include "SimReceiver.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace cehost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kAltitude = 45.3;

std::string Sentence(const std::string& body) {
  unsigned char sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

// ddmm.mmmm or dddmm.mmmm with the hemisphere letter.
std::string Coordinate(double degrees, int width, char positive, char negative) {
  const char hemisphere = degrees < 0 ? negative : positive;
  degrees = std::fabs(degrees);
  int whole = static_cast<int>(degrees);
  double minutes = (degrees - whole) * 60.0;
  if (minutes >= 59.99995) {  // would print as 60.0000
    ++whole;
    minutes = 0.0;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%0*d%07.4f,%c", width, whole, minutes, hemisphere);
  return text;
}

}  // namespace

bool SimReceiver::ParseOptions(const std::string& text, Options* options, std::string* error) {
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    const bool numeric = !value.empty() && *end == '\0' && std::isfinite(number);
    if (key == "order") {
      if (value != "gga-first" && value != "rmc-first") {
        *error = "sim: order must be gga-first or rmc-first";
        return false;
      }
      options->rmcFirst = value == "rmc-first";
    } else if (key == "talker") {
      if (value != "gp" && value != "gn") {
        *error = "sim: talker must be gp or gn";
        return false;
      }
      options->combined = value == "gn";
    } else if (key == "lat" && numeric && std::fabs(number) <= 89.0) {
      options->latitude = number;
    } else if (key == "lon" && numeric && std::fabs(number) <= 180.0) {
      options->longitude = number;
    } else if (key == "speed" && numeric && number >= 0 && number <= 2000) {
      options->speedKmh = number;
    } else if (key == "leg" && numeric && number >= 1 && number <= 86400) {
      options->legSeconds = static_cast<int>(number);
    } else if (key == "nofix" && numeric && number >= 0 && number <= 86400) {
      options->noFixSeconds = static_cast<int>(number);
    } else {
      *error = "sim: cannot use the option '" + item + "'";
      return false;
    }
  }
  return true;
}

void SimReceiver::Position(const Options& options, int movingSeconds, double* latitude, double* longitude,
                           double* course) {
  double lat = options.latitude;
  double lon = options.longitude;
  const double step = options.speedKmh / 3.6;  // metres a second
  double heading = 90.0;
  for (int s = 0; s < movingSeconds; ++s) {
    heading = 90.0 * ((s / options.legSeconds) % 4) + 90.0;
    const double rad = heading * kPi / 180.0;
    lat += step * std::cos(rad) / kMetresPerDegree;
    lon += step * std::sin(rad) / (kMetresPerDegree * std::cos(lat * kPi / 180.0));
    // A route past a pole comes down the other side of it, and a longitude
    // past 180 degrees goes on from -180: every position is one a receiver reports.
    if (lat > 90.0 || lat < -90.0) {
      lat = std::copysign(180.0, lat) - lat;
      lon += 180.0;
    }
    if (lon > 180.0 || lon < -180.0) lon = std::remainder(lon, 360.0);
  }
  if (movingSeconds > 0) heading = 90.0 * (((movingSeconds - 1) / options.legSeconds) % 4) + 90.0;
  *latitude = lat;
  *longitude = lon;
  *course = std::fmod(heading, 360.0);
}

std::string SimReceiver::Burst(const Options& options, int second, const SYSTEMTIME& utc) {
  char time[32];
  std::snprintf(time, sizeof time, "%02u%02u%02u.00", utc.wHour, utc.wMinute, utc.wSecond);
  char date[24];
  std::snprintf(date, sizeof date, "%02u%02u%02u", utc.wDay, utc.wMonth, utc.wYear % 100);
  const bool fix = second >= options.noFixSeconds;
  // The combined talker: GN for what all systems fix together, one GSA per
  // system (NMEA 0183 4.10 ends it with the system's id), satellites in
  // view by each system's own talker.
  const std::string talker = options.combined ? "GN" : "GP";
  std::string gga, gsa, rmc;
  std::string gsv = Sentence("GPGSV,2,1,08,04,45,120,42,05,30,300,38,09,60,045,44,12,20,210,35") +
                    Sentence("GPGSV,2,2,08,17,15,330,31,24,70,160,46,25,05,080,,29,10,250,");
  if (options.combined) gsv += Sentence("GLGSV,1,1,04,66,18,048,33,67,72,050,41,75,16,358,29,82,47,171,37");
  if (fix) {
    double lat, lon, course;
    Position(options, second - options.noFixSeconds, &lat, &lon, &course);
    const std::string position = Coordinate(lat, 2, 'N', 'S') + "," + Coordinate(lon, 3, 'E', 'W');
    const double speed = second > options.noFixSeconds ? options.speedKmh : 0.0;
    char tail[96];
    std::snprintf(tail, sizeof tail, ",1,08,0.9,%.1f,M,39.5,M,,", kAltitude);
    gga = Sentence(talker + "GGA," + time + "," + position + tail);
    if (options.combined) {
      gsa = Sentence("GNGSA,A,3,04,05,09,12,17,24,,,,,,,1.8,0.9,1.5,1") +
            Sentence("GNGSA,A,3,66,67,75,82,,,,,,,,,1.8,0.9,1.5,2");
    } else {
      gsa = Sentence("GPGSA,A,3,04,05,09,12,17,24,,,,,,,1.8,0.9,1.5");
    }
    std::snprintf(tail, sizeof tail, ",%05.1f,%05.1f,%s,,,A", speed / 1.852, course, date);
    rmc = Sentence(talker + "RMC," + time + ",A," + position + tail);
  } else {
    gga = Sentence(talker + "GGA," + time + ",,,,,0,00,99.9,,M,,M,,");
    if (options.combined) {
      gsa = Sentence("GNGSA,A,1,,,,,,,,,,,,,,,,1") + Sentence("GNGSA,A,1,,,,,,,,,,,,,,,,2");
    } else {
      gsa = Sentence("GPGSA,A,1,,,,,,,,,,,,,,,");
    }
    rmc = Sentence(talker + "RMC," + time + ",V,,,,,,," + date + ",,,N");
  }
  return options.rmcFirst ? rmc + gga + gsa + gsv : gga + gsa + gsv + rmc;
}

SimReceiver::SimReceiver(Options options, DeviceClock& clock) : options_(options), clock_(clock) {}

SimReceiver::~SimReceiver() { Stop(); }

bool SimReceiver::Start(PortReceiver& receiver) {
  thread_ = std::thread([this, &receiver] { Run(receiver); });
  return true;
}

void SimReceiver::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SimReceiver::Run(PortReceiver& receiver) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  for (int second = 0;; ++second) {
    if (wake_.wait_until(lock, start + std::chrono::seconds(second), [this] { return stop_; })) return;
    SYSTEMTIME now;
    clock_.Get(&now);
    const std::string burst = Burst(options_, second, now);
    lock.unlock();
    receiver.Receive(reinterpret_cast<const BYTE*>(burst.data()), burst.size());
    lock.lock();
  }
}

}  // namespace cehost
