// The settings group of the logger state, read from <application>.cfg next
// to the executable.
#pragma once

#include <windows.h>

struct LoggerState;

// The buffer a settings line is read into; any value of a line fits a text setting.
constexpr int SETTINGS_LINE_CHARS = 1000;

// Member initialisers are the defaults of a missing key.
struct LoggerSettings {
  LONG interval = 5;
  LONG minposx = 0;
  LONG minposy = 100;
  LONG minsizew = 58;
  LONG minsizeh = 50;
  BOOL autominimize = TRUE;
  BOOL topmost = TRUE;
  BOOL rstcurrun = FALSE;
  BOOL autostart = FALSE;
  WCHAR btn1appname[SETTINGS_LINE_CHARS] = {};
  WCHAR btn1apppath[SETTINGS_LINE_CHARS] = {};
  WCHAR btn1appargv[SETTINGS_LINE_CHARS] = {};
  WCHAR btn2appname[SETTINGS_LINE_CHARS] = {};
  WCHAR btn2apppath[SETTINGS_LINE_CHARS] = {};
  WCHAR btn2appargv[SETTINGS_LINE_CHARS] = {};
  LONG chgfromport = 5;
  LONG chgtoport = 6;
  LONG monport = 7;
  WCHAR logdir[SETTINGS_LINE_CHARS] = {};
  LONG writecache = 1;
  BOOL onlyactivatedriver = FALSE;
  BOOL anytalker = FALSE;  // any talker's RMC, GGA and GSA, and one GSA per cycle
  BOOL signedpos = FALSE;  // records carry south and west as a minus sign
};

// Sets configPath to appDir + appName + ".cfg", applies the defaults and reads
// the file over them. A file that cannot be opened is reported in a message
// box; the defaults then stay.
void LoadSettings(LoggerState& state, LPCWSTR appName);
