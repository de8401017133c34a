// The stand-in's own record of what the program asks of its windows, in the
// form of the host's window trace (CE_UI_TRACE): one JSON line per step,
// with the milliseconds since the program's start. Wine draws the windows;
// this record is what a test compares with the host's.
#pragma once

#include <windows.h>

#include <string>

namespace coredll {

class TraceLine {
 public:
  explicit TraceLine(const char* op);
  TraceLine& Int(const char* name, long long value);
  TraceLine& Bool(const char* name, bool value);
  TraceLine& Text(const char* name, LPCWSTR value);
  // As [r,g,b].
  TraceLine& Colour(const char* name, COLORREF value);
  void Write();

 private:
  bool wanted_;
  std::string line_;
};

// Opens the file that CE_UI_TRACE names (a path the program can open), once.
void OpenTrace();

// True when the program shows no windows of its own (CE_UI=headless): a
// message box is then recorded and answered OK, as the host's headless
// backend answers it.
bool Headless();

}  // namespace coredll
