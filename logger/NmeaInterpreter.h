// Turns the chunks read from the tap port into fix data: joins them into
// lines, splits each line at its commas, and handles $GPRMC, $GPGGA and
// $GPGSA (NMEA 0183); with the anytalker setting, RMC, GGA and GSA of any
// talker ($GNRMC, $GLGSA, $BDGSA, ...). Fixed buffers only; nothing is
// allocated.
#pragma once

#include <windows.h>

struct LoggerState;

class NmeaInterpreter {
 public:
  static constexpr size_t LINE_SIZE = 4096;  // a pending line of 4095 characters and a zero
  static constexpr int MAX_FIELDS = 99;      // fields after the header

  NmeaInterpreter();

  // Consumes a zero-terminated chunk of any length; on return its first byte
  // is zero. A line may arrive over any number of chunks. Runs on one thread
  // at a time.
  void Interpret(LoggerState& state, char* chunk);

 private:
  void EndLine(LoggerState& state);
  void Rmc(LoggerState& state);
  void Gga(LoggerState& state);
  void Gsa(LoggerState& state);

  char m_line[LINE_SIZE];
  size_t m_length;
  // Entry 0 is the header; entry k the text after the k-th comma. They point
  // into m_line, whose commas have become zeros.
  const char* m_field[MAX_FIELDS + 1];
  int m_count;
  bool m_overlong;  // the line outgrew m_line: it is dropped at its line feed
};
