// The runs of a capture through the whole system whose tracks are known:
// each capture of tests/data at the settings its expected track was worked
// out for. The end-to-end test runs them on the host, the Wine test on Wine.
#pragma once

#include <windows.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace cetest {

struct TrackRun {
  const char* capture;
  const char* gate;  // the first $GPGGA with a fix that the reading takes
  BOOL anytalker;
  BOOL signedpos;
  LONG interval;
  LONG writecache;
  const char* expected;      // empty: no record
  bool proprietary = false;  // the capture with proprietary sentences mixed in
};

inline void PrintTo(const TrackRun& s, std::ostream* out) {
  *out << s.capture << ", anytalker " << s.anytalker << ", signedpos " << s.signedpos << ", interval " << s.interval
       << ", writecache " << s.writecache << ", " << s.expected << (s.proprietary ? ", proprietary" : "");
}

inline std::vector<TrackRun> TrackRuns() {
  return {
      {"drive-tokyo.nmea", "$GPGGA,000459.00", FALSE, FALSE, 1, 2, "drive-tokyo.interval1.txt"},
      {"drive-tokyo.nmea", "$GPGGA,000459.00", FALSE, FALSE, 3, 0, "drive-tokyo.interval3.txt"},
      // A GPS receiver read as any talker: its burst with two $GPGSA now counts once.
      {"drive-tokyo.nmea", "$GPGGA,000459.00", TRUE, TRUE, 1, 1, "drive-tokyo.interval1.anytalker.txt"},
      {"gnss-santiago.nmea", "$GPGGA,120010.00", FALSE, TRUE, 1, 1, ""},
      {"gnss-santiago.nmea", "$GNGGA,120002.00", TRUE, FALSE, 1, 2, "gnss-santiago.interval1.txt"},
      {"gnss-santiago.nmea", "$GNGGA,120002.00", TRUE, TRUE, 2, 0, "gnss-santiago.interval2.signed.txt"},
      // Proprietary sentences named like ours change nothing of the track.
      {"gnss-santiago.nmea", "$GNGGA,120002.00", TRUE, FALSE, 1, 1, "gnss-santiago.interval1.txt", true},
      {"drive-tokyo.nmea", "$GPGGA,000459.00", TRUE, TRUE, 1, 1, "drive-tokyo.interval1.anytalker.txt", true},
  };
}

// A test's name for the run.
inline std::string TrackRunName(const TrackRun& run) {
  std::string name = run.capture;
  name = name.substr(0, name.find('.'));
  std::string plain;
  for (char c : name) {
    if (c != '-') plain += c;
  }
  return plain + (run.anytalker ? "AnyTalker" : "") + (run.signedpos ? "Signed" : "") + "Interval" +
         std::to_string(run.interval) + "WriteCache" + std::to_string(run.writecache) +
         (run.proprietary ? "Proprietary" : "");
}

// The lines the reading takes as RMC: each sets the latitude text once.
// NMEA 0183: after the "$" comes the talker, two capital letters, then the
// sentence's type; a "P" after the "$" begins a proprietary sentence, whose
// maker's code follows and whose type is the maker's own. Without anytalker
// only the GPS talker "GP" counts.
inline int RmcLines(const std::string& capture, BOOL anytalker) {
  auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
  auto rmc = [&](const std::string& line) {
    if (line.size() < 7 || line[0] != '$' || line.compare(3, 4, "RMC,") != 0) return false;
    const bool proprietary = line[1] == 'P';
    if (!anytalker) return line.compare(1, 2, "GP") == 0;
    return !proprietary && capital(line[1]) && capital(line[2]);
  };
  std::istringstream lines(capture);
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += rmc(line) ? 1 : 0;
  return count;
}

// The settings file of a run: autostart, so the log starts with the first fix.
inline std::string TrackRunSettings(const TrackRun& run) {
  return "autostart=1\r\ninterval=" + std::to_string(run.interval) + "\r\nwritecache=" +
         std::to_string(run.writecache) + "\r\nanytalker=" + std::to_string(run.anytalker) + "\r\nsignedpos=" +
         std::to_string(run.signedpos) + "\r\n";
}

}  // namespace cetest
