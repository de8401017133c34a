// The settings group of the logger state, read from <application>.cfg next
// to the executable.
#pragma once

#include <windows.h>

struct LoggerState;

// The buffer a settings line is read into; any value of a line fits a text setting.
constexpr int kSettingsLineChars = 1000;

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
  WCHAR btn1appname[kSettingsLineChars] = {};
  WCHAR btn1apppath[kSettingsLineChars] = {};
  WCHAR btn1appargv[kSettingsLineChars] = {};
  WCHAR btn2appname[kSettingsLineChars] = {};
  WCHAR btn2apppath[kSettingsLineChars] = {};
  WCHAR btn2appargv[kSettingsLineChars] = {};
  LONG chgfromport = 5;
  LONG chgtoport = 6;
  LONG monport = 7;
  WCHAR logdir[kSettingsLineChars] = {};
  LONG writecache = 1;
  BOOL onlyactivatedriver = FALSE;
};

// Sets configPath to appDir + appName + ".cfg", applies the defaults and reads
// the file over them. A file that cannot be opened is reported in a message
// box; the defaults then stay.
void LoadSettings(LoggerState& state, LPCWSTR appName);
