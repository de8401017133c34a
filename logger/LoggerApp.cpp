#include "LoggerApp.h"

#include <string.h>

#include "LoggerWindow.h"

namespace {

// A title is read as at most 79 characters and a terminator.
constexpr int TITLE_CHARS = 80;
// WM_LBUTTONUP at the client point 255, 255.
const LPARAM RESTORE_SIGNAL = 0x00FF00FF;

}  // namespace

WCHAR InstanceName[MAX_PATH + INSTANCE_SUFFIX_CHARS];

LoggerApp theApp;

BEGIN_MESSAGE_MAP(LoggerApp, CWinApp)
END_MESSAGE_MAP()

LoggerApp::LoggerApp() {}

BOOL LoggerApp::InitInstance() {
  wcsncpy(InstanceName, m_pszAppName, MAX_PATH - 1);
  wcscat(InstanceName, INSTANCE_SUFFIX);

  // Never closed: the mutex goes with the process.
  HANDLE mutex = CreateMutexW(NULL, TRUE, InstanceName);
  if (!mutex) return FALSE;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    EnumWindows(FindRunningWindow, 0);
    return FALSE;
  }

  LoggerWindow window;
  m_pMainWnd = &window;
  window.DoModal();
  m_pMainWnd = NULL;
  return FALSE;
}

BOOL CALLBACK FindRunningWindow(HWND hWnd, LPARAM) {
  WCHAR title[TITLE_CHARS];
  title[0] = TEXT('\0');
  GetWindowTextW(hWnd, title, TITLE_CHARS);
  if (wcscmp(title, InstanceName) != 0) return TRUE;
  // Handled by the running window before this copy goes on.
  SendMessageW(hWnd, WM_LBUTTONUP, 0, RESTORE_SIGNAL);
  SetForegroundWindow(hWnd);
  return FALSE;
}
