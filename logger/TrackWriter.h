// The logging life cycle and the track file: Start, the one-second wait for
// a fix and a set clock, one record per due sentence cycle, the write-cache
// policies, the LOG lamp, the error stop and Stop.
#pragma once

#include <windows.h>

struct LoggerState;

class TrackWriter {
 public:
  static constexpr UINT TIMER_PERIOD_MS = 1000;
  static constexpr double SLOW_SPEED_KMH = 3.6;  // writecache 2 closes the file after a slower record

  // Window thread: the Start command and autostart.
  static void StartLogging(LoggerState& state);
  // Window thread: the timer message; acts only on timerId.
  static void TimerTick(LoggerState& state, UINT timerId);
  // Receive thread: a $GPRMC completed a sentence cycle while logging.
  static void DueRecord(LoggerState& state);
  // Window thread: the Stop command.
  static void StopLogging(LoggerState& state);
  // Window thread: the window's destruction.
  static void FinishOnShutdown(LoggerState& state);

 private:
  // What a due record shows once the track lock is released, in this order.
  struct DueSteps {
    enum Lamp { UNCHANGED, BLINK, STEADY };
    BOOL redrawStatusBox = FALSE;
    Lamp lamp = UNCHANGED;
    BOOL errorStop = FALSE;
  };

  static DueSteps DecideRecord(LoggerState& state);
  static BOOL AppendRecord(LoggerState& state, const char* record, DWORD length);
  static BOOL FlushAndClose(LoggerState& state);
  static void DropRecord(LoggerState& state, DWORD recordStart);
  static void StopOnError(LoggerState& state);
  static void CloseTrackFile(LoggerState& state);
};
