// The trace of the window system: one JSON line per observable step, to the
// file CE_UI_TRACE names (nothing when it is unset), whatever the backend.
// A call that leaves a control as it was is no step; with CE_UI_TRACE_ALL=1
// it is written too, for a reader that counts the program's calls.
#pragma once

#include <windows.h>

#include <string>

namespace cehost {

class TraceLine {
 public:
  explicit TraceLine(const char* op);
  TraceLine& Int(const char* name, long long value);
  TraceLine& Bool(const char* name, bool value);
  TraceLine& Text(const char* name, const std::u16string& value);
  TraceLine& Colour(const char* name, COLORREF value);
  // Writes the line; nothing when no trace is wanted.
  void Write();
  // Writes the line of a call that changed what it set, or of any call when
  // every call is wanted.
  void Write(bool changed);

 private:
  std::string line_;
  bool wanted_;
};

bool TraceWanted();

}  // namespace cehost
