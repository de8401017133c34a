// The window operations the logger core calls. The main window implements
// them; the core never sees a window handle.
//
// The receive thread calls them too, and then a control update waits until
// the window thread has taken it: so it never calls one while it holds the
// track lock, and the window thread takes sent messages while it waits for
// the receive thread.
#pragma once

#include <windows.h>

#include "ControlIds.h"

class LoggerView {
 public:
  virtual ~LoggerView() = default;

  virtual void SetControlText(int id, LPCWSTR text) = 0;
  virtual void EnableControl(int id, BOOL enable) = 0;
  virtual void ShowControl(int id, BOOL show) = 0;
  // Invalidates the status box and repaints it at once, so its colours follow the flags.
  virtual void RedrawStatusBox() = 0;
  virtual void StartTimer(UINT id, UINT periodMs) = 0;
  virtual void StopTimer(UINT id) = 0;
  virtual void DefaultBeep() = 0;
  virtual void ExclamationBeep() = 0;
  virtual void EnterCompactTile() = 0;
  // A modal message box owned by the window: error icon, the application
  // name as caption. Returns when it is dismissed.
  virtual void ShowErrorBox(LPCWSTR text) = 0;
};
