// The "sim" binding: a built-in GPS receiver. Once a second it sends a burst
// of $GPGGA, $GPGSA, $GPGSV and $GPRMC with correct checksums (or, as a
// receiver of GPS and GLONASS does, $GNGGA, a $GNGSA for each system,
// $GPGSV, $GLGSV and $GNRMC); for the first
// seconds it has no fix, then it reports a position that moves along a
// square route at a steady speed. Options, after "sim:", separated by commas:
//   lat=DEG,lon=DEG   start position (default 35.6581, 139.7414)
//   speed=KMH         ground speed while moving (default 36)
//   leg=SECONDS       time on each side of the square before turning (60)
//   nofix=SECONDS     bursts without fix after the port's first open (3)
//   order=gga-first|rmc-first   place of $GPRMC in the burst (gga-first)
//   talker=gp|gn      GPS alone, or GPS with GLONASS (gp)
// Times and dates are the device clock's, taken as UTC.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceClock.h"
#include "PortSource.h"

namespace cehost {

class SimReceiver : public PortSource {
 public:
  struct Options {
    double latitude = 35.6581;
    double longitude = 139.7414;
    double speedKmh = 36.0;
    int legSeconds = 60;
    int noFixSeconds = 3;
    bool rmcFirst = false;
    bool combined = false;  // talker=gn
  };
  static bool ParseOptions(const std::string& text, Options* options, std::string* error);

  // The burst sent n seconds after the first open (n = 0, 1, ...), with the
  // time stamp given; also used by tests to know the route.
  static std::string Burst(const Options& options, int second, const SYSTEMTIME& utc);
  // Position after moving for the given number of seconds.
  static void Position(const Options& options, int movingSeconds, double* latitude, double* longitude,
                       double* course);

  SimReceiver(Options options, DeviceClock& clock);
  ~SimReceiver() override;

  bool Start(PortReceiver& receiver) override;
  void Stop() override;
  // The simulated receiver takes no commands.
  BOOL Transmit(const BYTE*, DWORD) override { return TRUE; }

 private:
  void Run(PortReceiver& receiver);

  const Options options_;
  DeviceClock& clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace cehost
