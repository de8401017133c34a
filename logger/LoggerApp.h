// The application object: one running copy per application name. A second
// start hands over to the running copy's window and ends.
#pragma once

#include <afxwin.h>

#include "WendraNames.h"

extern WCHAR InstanceName[MAX_PATH + INSTANCE_SUFFIX_CHARS];

// Called for each top-level window, top of the stacking order first: sends
// the restore signal to the first window titled InstanceName and brings it
// to the foreground. TRUE to go on.
BOOL CALLBACK FindRunningWindow(HWND hWnd, LPARAM lParam);

class LoggerApp : public CWinApp {
 public:
  LoggerApp();
  // Always FALSE: the modal run of the main window is the whole application.
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};
