#include "LoggerSettings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "LoggerState.h"

namespace {

LONG AsRead(LONG value) { return value; }

// Compared unsigned, so every negative value is "above" as well.
LONG TileWidth(LONG value) { return value == 0 ? 1 : static_cast<DWORD>(value) > 65 ? 65 : value; }
LONG TileHeight(LONG value) { return value == 0 ? 1 : static_cast<DWORD>(value) > 53 ? 53 : value; }
LONG WritePolicy(LONG value) { return static_cast<DWORD>(value) > 2 ? 1 : value; }

typedef WCHAR SettingText[SETTINGS_LINE_CHARS];

struct SettingKey {
  const WCHAR* name;
  LONG LoggerSettings::*integer;
  LONG (*rule)(LONG);
  BOOL LoggerSettings::*flag;
  SettingText LoggerSettings::*text;
};

constexpr SettingKey Integer(const WCHAR* name, LONG LoggerSettings::*field, LONG (*rule)(LONG) = AsRead) {
  return {name, field, rule, NULL, NULL};
}
constexpr SettingKey Flag(const WCHAR* name, BOOL LoggerSettings::*field) {
  return {name, NULL, NULL, field, NULL};
}
constexpr SettingKey Text(const WCHAR* name, SettingText LoggerSettings::*field) {
  return {name, NULL, NULL, NULL, field};
}

// In matching order.
constexpr SettingKey SETTING_KEYS[] = {
    Integer(TEXT("interval"), &LoggerSettings::interval),
    Integer(TEXT("minposx"), &LoggerSettings::minposx),
    Integer(TEXT("minposy"), &LoggerSettings::minposy),
    Integer(TEXT("minsizew"), &LoggerSettings::minsizew, TileWidth),
    Integer(TEXT("minsizeh"), &LoggerSettings::minsizeh, TileHeight),
    Flag(TEXT("autominimize"), &LoggerSettings::autominimize),
    Flag(TEXT("topmost"), &LoggerSettings::topmost),
    Flag(TEXT("rstcurrun"), &LoggerSettings::rstcurrun),
    Flag(TEXT("autostart"), &LoggerSettings::autostart),
    Text(TEXT("btn1appname"), &LoggerSettings::btn1appname),
    Text(TEXT("btn1apppath"), &LoggerSettings::btn1apppath),
    Text(TEXT("btn1appargv"), &LoggerSettings::btn1appargv),
    Text(TEXT("btn2appname"), &LoggerSettings::btn2appname),
    Text(TEXT("btn2apppath"), &LoggerSettings::btn2apppath),
    Text(TEXT("btn2appargv"), &LoggerSettings::btn2appargv),
    Integer(TEXT("chgfromport"), &LoggerSettings::chgfromport),
    Integer(TEXT("chgtoport"), &LoggerSettings::chgtoport),
    Integer(TEXT("monport"), &LoggerSettings::monport),
    Text(TEXT("logdir"), &LoggerSettings::logdir),
    Integer(TEXT("writecache"), &LoggerSettings::writecache, WritePolicy),
    Flag(TEXT("onlyactivatedriver"), &LoggerSettings::onlyactivatedriver),
    Flag(TEXT("anytalker"), &LoggerSettings::anytalker),
    Flag(TEXT("signedpos"), &LoggerSettings::signedpos),
};

bool IsBlank(WCHAR c) { return c == TEXT(' ') || c == TEXT('\t'); }

// One line of the file, changed in place.
void ApplyLine(LoggerSettings& settings, WCHAR* line) {
  if (WCHAR* comment = wcschr(line, TEXT('#'))) *comment = TEXT('\0');
  WCHAR* equals = wcschr(line, TEXT('='));
  if (!equals) return;
  *equals = TEXT('\0');

  WCHAR* key = line;
  while (IsBlank(*key)) ++key;
  for (size_t n = wcslen(key); n > 0 && IsBlank(key[n - 1]); --n) key[n - 1] = TEXT('\0');
  _wcslwr(key);

  WCHAR* value = equals + 1;
  while (IsBlank(*value)) ++value;
  for (size_t n = wcslen(value); n > 0 && (IsBlank(value[n - 1]) || value[n - 1] == TEXT('\n')); --n) {
    value[n - 1] = TEXT('\0');
  }

  for (const SettingKey& entry : SETTING_KEYS) {
    if (wcscmp(key, entry.name) != 0) continue;
    if (entry.integer) {
      settings.*entry.integer = entry.rule(wcstol(value, NULL, 10));
    } else if (entry.flag) {
      settings.*entry.flag = wcstol(value, NULL, 10) != 0;
    } else {
      WCHAR* field = settings.*entry.text;
      wcsncpy(field, value, SETTINGS_LINE_CHARS - 1);
      field[SETTINGS_LINE_CHARS - 1] = TEXT('\0');
    }
    return;
  }
}

}  // namespace

// The file is read in text mode: as the device's ANSI code page 932
// (Shift_JIS), or as UTF-8 where it is UTF-8; CR LF arrives as one line feed.
void LoadSettings(LoggerState& state, LPCWSTR appName) {
  const int length = _snwprintf(state.configPath, MAX_PATH - 1, TEXT("%s%s.cfg"), state.appDir, appName);
  state.configPath[MAX_PATH - 1] = TEXT('\0');
  if (length < 0) state.configPath[0] = TEXT('\0');  // too long for a path: no file by that name can open

  FILE* file = _wfopen(state.configPath, TEXT("r"));
  if (!file) {
    WCHAR message[MAX_PATH + 64];
    _snwprintf(message, sizeof message / sizeof message[0] - 1,
               TEXT("設定ファイルを開けません。\n%s\nデフォルト値を読み込みます。"), state.configPath);
    message[sizeof message / sizeof message[0] - 1] = TEXT('\0');
    state.view->ShowErrorBox(message);
  }

  state.settings = LoggerSettings();
  if (!file) return;

  WCHAR line[SETTINGS_LINE_CHARS];
  while (fgetws(line, SETTINGS_LINE_CHARS, file)) ApplyLine(state.settings, line);
  fclose(file);
}
