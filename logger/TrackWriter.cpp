#include "TrackWriter.h"

#include <stdio.h>
#include <string.h>

#include "LoggerState.h"

namespace {

// Room for four doubles of any size in "%.7f", so a garbage field never cuts a record.
constexpr size_t RECORD_SIZE = 1400;

// With signedpos, south and west are written as a minus sign, from the
// letters of the $GPRMC that gave the values; an exact 0 keeps no sign.
double Signed(double degrees, char hemisphere, char negative, BOOL signedpos) {
  return signedpos && hemisphere == negative && degrees != 0.0 ? -degrees : degrees;
}

// "20YY-MM-DD,hh:mm:ss,lat,lon,alt,speed\r\n" from the receiver's ddmmyy and
// hhmmss, as the settings ask. False when the receiver sent a shorter date or
// time: its fields are not there to be read.
bool FormatRecord(const FixData& fix, const LoggerSettings& settings, char (&record)[RECORD_SIZE], DWORD* length) {
  const BOOL signedpos = settings.signedpos;
  const char* d = fix.fixDate;
  const char* t = fix.fixTime;
  if (strlen(d) < 6 || strlen(t) < 6) return false;
  const char date[] = {d[4], d[5], '-', d[2], d[3], '-', d[0], d[1], '\0'};
  const char time[] = {t[0], t[1], ':', t[2], t[3], ':', t[4], t[5], '\0'};
  const int n = snprintf(record, sizeof record, "20%s,%s,%.7f,%.7f,%.1f,%.1f\r\n", date, time,
                         Signed(fix.latitude, fix.latitudeHemisphere, 'S', signedpos),
                         Signed(fix.longitude, fix.longitudeHemisphere, 'W', signedpos), fix.altitude, fix.speedKmh);
  if (n < 0 || static_cast<size_t>(n) >= sizeof record) return false;
  *length = static_cast<DWORD>(n);
  return true;
}

HANDLE OpenTrackFile(LPCWSTR path) {
  return CreateFileW(path, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

// <dir>\YYYYMMDDhhmmss.txt; logdir gets its backslash even when it ends with one.
void BuildLogPath(LoggerState& state, const SYSTEMTIME& now) {
  const WCHAR* logdir = state.settings.logdir;
  const int length =
      logdir[0] ? _snwprintf(state.logPath, MAX_PATH - 1, TEXT("%s\\%4d%02d%02d%02d%02d%02d.txt"), logdir, now.wYear,
                             now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond)
                : _snwprintf(state.logPath, MAX_PATH - 1, TEXT("%s%4d%02d%02d%02d%02d%02d.txt"), state.appDir,
                             now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  state.logPath[MAX_PATH - 1] = TEXT('\0');
  // A path cut to fit would name another file: leave none, so the first record fails to open it.
  if (length < 0) state.logPath[0] = TEXT('\0');
}

void ShowSteadyLamp(LoggerView& view) {
  view.ShowControl(IDC_LOG_LAMP_BLINK, FALSE);
  view.ShowControl(IDC_LOG_LAMP_STEADY, TRUE);
}

void ShowBlinkLamp(LoggerView& view) {
  view.ShowControl(IDC_LOG_LAMP_BLINK, TRUE);
  view.ShowControl(IDC_LOG_LAMP_STEADY, FALSE);
}

// The error stop's steps on the window, after its file and flags.
void ShowErrorStop(LoggerView& view) {
  ShowSteadyLamp(view);
  view.SetControlText(IDC_START, TEXT("ログ書込不可"));
  view.EnableControl(IDC_STOP, FALSE);
  view.RedrawStatusBox();
  view.ExclamationBeep();
}

}  // namespace

void TrackWriter::StartLogging(LoggerState& state) {
  LoggerView& view = *state.view;
  view.DefaultBeep();
  state.waitingForFix = TRUE;
  view.StartTimer(state.timerId, TIMER_PERIOD_MS);
  view.EnableControl(IDC_START, FALSE);
  view.EnableControl(IDC_STOP, TRUE);
  if (state.settings.autominimize) view.EnterCompactTile();
}

// waitingForFix belongs to the window thread; the lock is for the file and logging.
void TrackWriter::TimerTick(LoggerState& state, UINT timerId) {
  if (timerId != state.timerId) return;
  // A tick already queued when the timer was killed must not start a second log.
  if (!state.waitingForFix) return;

  {
    TrackLock lock(state);
    state.logFile = INVALID_HANDLE_VALUE;  // every earlier file has been closed
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  if (state.fix.fixQuality == 0) return;
  if (now.wYear < 2006) return;  // the clock has not been set

  LoggerView& view = *state.view;
  view.StopTimer(state.timerId);
  state.waitingForFix = FALSE;
  view.RedrawStatusBox();

  TrackLock lock(state);
  BuildLogPath(state, now);
  // A failed open is not reported here: the first record fails to write.
  if (state.settings.writecache != 0) state.logFile = OpenTrackFile(state.logPath);
  state.logging = TRUE;
}

// Decided under the track lock, shown after it: a window step of this thread
// waits for the window thread, whose Stop may be waiting for the lock.
void TrackWriter::DueRecord(LoggerState& state) {
  DueSteps steps;
  {
    TrackLock lock(state);
    if (!state.logging) return;  // a Stop got in first
    steps = DecideRecord(state);
  }

  LoggerView& view = *state.view;
  if (steps.redrawStatusBox) view.RedrawStatusBox();
  if (steps.lamp == DueSteps::BLINK) ShowBlinkLamp(view);
  if (steps.lamp == DueSteps::STEADY) ShowSteadyLamp(view);
  if (steps.errorStop) {
    ShowErrorStop(view);
  } else if (steps.lamp == DueSteps::BLINK && !state.logging) {
    // A Stop between the decision and the blink showed the steady image
    // before it: the lamp ends steady, as no logging goes on.
    ShowSteadyLamp(view);
  }
}

// The track lock is held: the record, the fix's flags and the error stop's file.
TrackWriter::DueSteps TrackWriter::DecideRecord(LoggerState& state) {
  const FixData& fix = state.fix;
  const LoggerSettings& settings = state.settings;
  DueSteps steps;

  if (fix.fixQuality == 0) {
    if (!fixShown) return steps;
    steps.redrawStatusBox = TRUE;
    steps.lamp = DueSteps::STEADY;
    fixShown = FALSE;
    if (settings.writecache == 2 && state.logFile != INVALID_HANDLE_VALUE) steps.errorStop = !FlushAndClose(state);
    return steps;
  }

  if (!fixShown) {
    steps.redrawStatusBox = TRUE;
    fixShown = TRUE;
  }
  // The lamp's other image, so it blinks once per due record with a fix.
  steps.lamp = blinkPhase ? DueSteps::STEADY : DueSteps::BLINK;
  blinkPhase = !blinkPhase;

  ++recordTick;
  if (static_cast<DWORD>(settings.interval) > recordTick) return steps;
  if (fix.latitude == state.lastLatitude && fix.longitude == state.lastLongitude) {
    recordTick = 0;  // an unchanged position is not written again
    return steps;
  }

  char record[RECORD_SIZE];
  DWORD length = 0;
  // Without a whole date and time nothing is written; the count stays, so the next complete cycle writes.
  if (!FormatRecord(fix, settings, record, &length)) return steps;

  if (!AppendRecord(state, record, length)) {
    steps.errorStop = TRUE;
    return steps;
  }
  state.lastLatitude = fix.latitude;
  state.lastLongitude = fix.longitude;
  recordTick = 0;
  return steps;
}

// The track lock is held. Appends one record under the write-cache policy;
// FALSE when it was dropped, which is the error stop.
BOOL TrackWriter::AppendRecord(LoggerState& state, const char* record, DWORD length) {
  if (state.logFile == INVALID_HANDLE_VALUE) state.logFile = OpenTrackFile(state.logPath);
  const DWORD recordStart = SetFilePointer(state.logFile, 0, NULL, FILE_END);
  DWORD written = 0;
  if (!WriteFile(state.logFile, record, length, &written, NULL) || written != length) {
    DropRecord(state, recordStart);
    return FALSE;
  }
  const LONG writecache = state.settings.writecache;
  if (writecache == 0 || (writecache == 2 && state.fix.speedKmh < SLOW_SPEED_KMH)) {
    if (!FlushFileBuffers(state.logFile)) {
      DropRecord(state, recordStart);
      return FALSE;
    }
    CloseHandle(state.logFile);
    state.logFile = INVALID_HANDLE_VALUE;
  }
  return TRUE;
}

// The track lock is held. FALSE when the flush failed: the error stop's file and flags are done.
BOOL TrackWriter::FlushAndClose(LoggerState& state) {
  if (!FlushFileBuffers(state.logFile)) {
    StopOnError(state);
    return FALSE;
  }
  CloseHandle(state.logFile);
  state.logFile = INVALID_HANDLE_VALUE;
  return TRUE;
}

// The track lock is held. A record the card did not take whole (a full card
// cuts a write short) is cut off again, so that a program reading the file
// finds whole records only; then the error stop's file and flags.
void TrackWriter::DropRecord(LoggerState& state, DWORD recordStart) {
  if (state.logFile != INVALID_HANDLE_VALUE && recordStart != INVALID_SET_FILE_POINTER &&
      SetFilePointer(state.logFile, static_cast<LONG>(recordStart), NULL, FILE_BEGIN) == recordStart) {
    SetEndOfFile(state.logFile);  // failing too, it leaves nothing more to do than the error stop
  }
  StopOnError(state);
}

// The track lock is held: the error stop's file and flags. Its window steps
// follow once the lock is released (ShowErrorStop).
void TrackWriter::StopOnError(LoggerState& state) {
  state.writeError = TRUE;
  if (state.logFile != INVALID_HANDLE_VALUE) CloseHandle(state.logFile);
  state.logFile = INVALID_HANDLE_VALUE;
  state.logging = FALSE;
}

// The track lock is held. With writecache 0 the file is open only inside a
// record, so an open file here belongs to the policies that keep it open.
void TrackWriter::CloseTrackFile(LoggerState& state) {
  if (state.logFile == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(state.logFile);
  CloseHandle(state.logFile);
  state.logFile = INVALID_HANDLE_VALUE;
}

void TrackWriter::StopLogging(LoggerState& state) {
  LoggerView& view = *state.view;
  view.DefaultBeep();
  const BOOL waiting = state.waitingForFix;
  {
    TrackLock lock(state);
    // A Stop queued while an error stop ran: the log is over and both commands stay disabled.
    if (state.writeError) return;
    if (waiting) {
      state.waitingForFix = FALSE;
    } else {
      state.logging = FALSE;
      CloseTrackFile(state);
    }
  }
  if (waiting) view.StopTimer(state.timerId);
  view.RedrawStatusBox();
  view.EnableControl(IDC_STOP, FALSE);
  view.EnableControl(IDC_START, TRUE);
  ShowSteadyLamp(view);
}

void TrackWriter::FinishOnShutdown(LoggerState& state) {
  state.view->StopTimer(state.timerId);
  TrackLock lock(state);
  if (!state.logging) return;
  state.logging = FALSE;
  CloseTrackFile(state);
}
