// Everything the logger knows at run time. The main window owns one; the
// receive thread borrows it.
#pragma once

#include <windows.h>

#include <atomic>

#include "LoggerSettings.h"
#include "LoggerView.h"

constexpr int FIX_DATE_CHARS = 14;
constexpr int FIX_TIME_CHARS = 16;

// What the receive lamp shows.
enum class ReceiveLamp { UNKNOWN, IDLE, DATA };

// Values of the latest sentences, written by the receive thread.
struct FixData {
  char fixDate[FIX_DATE_CHARS + 1] = {};  // ddmmyy as received
  char fixTime[FIX_TIME_CHARS + 1] = {};  // hhmmss[.fff] as received
  double latitude = 0.0;                 // decimal degrees; the hemisphere letter is only shown
  double longitude = 0.0;
  char latitudeHemisphere = '\0';        // first characters of the same $GPRMC's N/S and E/W fields
  char longitudeHemisphere = '\0';
  double speedKmh = 0.0;
  double altitude = 0.0;
  std::atomic<LONG> fixQuality{0};  // also read by the timer tick and the status colours
  LONG fixMode = 0;
};

struct LoggerState {
  explicit LoggerState(LoggerView& window) : view(&window) { InitializeCriticalSection(&trackLock); }
  ~LoggerState() { DeleteCriticalSection(&trackLock); }
  LoggerState(const LoggerState&) = delete;
  LoggerState& operator=(const LoggerState&) = delete;

  LoggerView* const view;

  LoggerSettings settings;
  FixData fix;

  // Track state.
  LONG cycleCounter = 0;  // below 1 until the first $GPGGA, so no $GPRMC completes a cycle before it
  BOOL cycleHasGsa = FALSE;  // a GSA was handled since the last GGA (or the start)
  double lastLatitude = 0.0;
  double lastLongitude = 0.0;
  WCHAR logPath[MAX_PATH] = {};
  HANDLE logFile = INVALID_HANDLE_VALUE;

  // Flags and ids. The atomic ones are read by the other thread without the lock.
  UINT timerId = 0;
  BOOL compactMode = FALSE;
  BOOL waitingForFix = FALSE;
  std::atomic<BOOL> logging{FALSE};
  std::atomic<BOOL> writeError{FALSE};

  // Resources.
  WCHAR appDir[MAX_PATH] = {};
  WCHAR configPath[MAX_PATH] = {};
  HICON icon = NULL;
  HANDLE portHandle = INVALID_HANDLE_VALUE;
  HANDLE readerThread = NULL;
  std::atomic<BOOL> readerRunning{FALSE};
  // As the receive thread last set it, and only that thread touches it;
  // unknown before its first pass, which so sets it whatever the window shows.
  ReceiveLamp receiveLamp = ReceiveLamp::UNKNOWN;

  // Taken by record writing, the timer tick, Stop, Finish on shutdown and so
  // by the error stop: logging, logFile, logPath and writeError change only
  // under it.
  CRITICAL_SECTION trackLock;
};

// Holds the track lock for its scope.
class TrackLock {
 public:
  explicit TrackLock(LoggerState& state) : m_section(state.trackLock) { EnterCriticalSection(&m_section); }
  ~TrackLock() { LeaveCriticalSection(&m_section); }
  TrackLock(const TrackLock&) = delete;
  TrackLock& operator=(const TrackLock&) = delete;

 private:
  CRITICAL_SECTION& m_section;
};

// One per process, not per window: they keep their values from one Start to
// the next. Only the receive thread touches them.
extern double maxSpeed;   // highest speedKmh seen since the process started
extern BOOL fixShown;     // the previous due record found a fix
extern BOOL blinkPhase;   // the blink image of the LOG lamp is the one shown
extern DWORD recordTick;  // due records counted since the last write
