// The window calls the program makes, each recorded in the stand-in's trace
// and then made by Wine. A control's steps carry its id.
#include <windows.h>
#include <shellapi.h>

#include "RelayClient.h"
#include "WindowTrace.h"

namespace {

// A timer killed inside the message being handled.
LONG timerKilled = 0;

// A control's id, or 0 for a top-level window.
int ControlId(HWND window) { return GetParent(window) ? GetDlgCtrlID(window) : 0; }

// A call on a window of another thread is marked: Win32 makes it wait until
// that thread has taken it.
coredll::TraceLine& Caller(coredll::TraceLine& line, HWND window) {
  if (GetWindowThreadProcessId(window, NULL) != GetCurrentThreadId()) line.Bool("otherthread", true);
  return line;
}

// The dialog procedure the program gave, kept on its dialog from the
// dialog's first message on; until then the one of the dialog being made.
const WCHAR DIALOG_PROC[] = L"CoreDialogProc";
thread_local DLGPROC dialogMade = NULL;

// A control asks its dialog for its colours each time it paints: the
// colours the program's answer left in the control's DC are traced, as the
// host traces each control's painting.
INT_PTR CALLBACK TracedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC program = reinterpret_cast<DLGPROC>(GetPropW(dialog, DIALOG_PROC));
  if (!program && dialogMade) {
    program = dialogMade;
    SetPropW(dialog, DIALOG_PROC, reinterpret_cast<HANDLE>(program));
  }
  if (!program) return FALSE;
  const INT_PTR answer = program(dialog, message, wParam, lParam);
  if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN || message == WM_CTLCOLOREDIT) {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    coredll::TraceLine("paint")
        .Int("id", GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))
        .Colour("fg", GetTextColor(dc))
        .Int("mode", GetBkMode(dc))
        .Colour("bg", GetBkColor(dc))
        .Write();
  }
  if (message == WM_NCDESTROY) RemovePropW(dialog, DIALOG_PROC);
  return answer;
}

}  // namespace

extern "C" {

HWND WINAPI CoreCreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                                   DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  if (!lpDialogFunc) return CreateDialogParamW(hInstance, lpTemplateName, hWndParent, NULL, dwInitParam);
  const DLGPROC outer = dialogMade;
  dialogMade = lpDialogFunc;
  const HWND dialog = CreateDialogParamW(hInstance, lpTemplateName, hWndParent, TracedDialogProc, dwInitParam);
  dialogMade = outer;
  return dialog;
}

BOOL WINAPI CoreSetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  const int id = ControlId(hWnd);
  coredll::TraceLine line(id ? "text" : "title");
  if (id) line.Int("id", id);
  Caller(line.Text("text", lpString), hWnd).Write();
  return SetWindowTextW(hWnd, lpString);
}

BOOL WINAPI CoreShowWindow(HWND hWnd, int nCmdShow) {
  coredll::TraceLine line("show");
  if (const int id = ControlId(hWnd)) line.Int("id", id);
  Caller(line.Bool("shown", nCmdShow != SW_HIDE), hWnd).Write();
  return ShowWindow(hWnd, nCmdShow);
}

BOOL WINAPI CoreEnableWindow(HWND hWnd, BOOL bEnable) {
  coredll::TraceLine line("enable");
  if (const int id = ControlId(hWnd)) line.Int("id", id);
  Caller(line.Bool("enabled", bEnable != FALSE), hWnd).Write();
  return EnableWindow(hWnd, bEnable);
}

BOOL WINAPI CoreSetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  coredll::TraceLine line("place");
  if (const int id = ControlId(hWnd)) line.Int("id", id);
  if (!(uFlags & SWP_NOMOVE)) line.Int("x", X).Int("y", Y);
  if (!(uFlags & SWP_NOSIZE)) line.Int("w", cx).Int("h", cy);
  if (!(uFlags & SWP_NOZORDER) && (hWndInsertAfter == HWND_TOPMOST || hWndInsertAfter == HWND_NOTOPMOST)) {
    line.Bool("topmost", hWndInsertAfter == HWND_TOPMOST);
  }
  Caller(line, hWnd).Write();
  return SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

UINT_PTR WINAPI CoreSetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  coredll::TraceLine("timer").Int("id", static_cast<long long>(nIDEvent)).Int("period", uElapse).Write();
  return SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
}

BOOL WINAPI CoreKillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  InterlockedExchange(&timerKilled, 1);
  coredll::TraceLine("killtimer").Int("id", static_cast<long long>(uIDEvent)).Write();
  return KillTimer(hWnd, uIDEvent);
}

// The relay's client hears of a killed timer once the message that killed it
// has been handled: what the program did with the timer is done by then.
LRESULT WINAPI CoreDispatchMessageW(const MSG* lpMsg) {
  const LRESULT result = DispatchMessageW(lpMsg);
  if (InterlockedExchange(&timerKilled, 0)) coredll::TimerKilled();
  return result;
}

BOOL WINAPI CoreMessageBeep(UINT uType) {
  coredll::TraceLine("beep").Int("type", uType).Write();
  return MessageBeep(uType);
}

// Without a display of its own the box is answered OK at once, as the
// host's headless backend does; with one, Wine shows it and waits.
int WINAPI CoreMessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  coredll::TraceLine("msgbox").Text("caption", lpCaption).Text("text", lpText).Int("style", uType).Write();
  if (coredll::Headless()) return IDOK;
  return MessageBoxW(hWnd, lpText, lpCaption, uType);
}

BOOL WINAPI CoreDestroyWindow(HWND hWnd) {
  if (!GetParent(hWnd)) coredll::TraceLine("destroy").Write();
  return DestroyWindow(hWnd);
}

BOOL WINAPI CoreSetForegroundWindow(HWND hWnd) {
  coredll::TraceLine("foreground").Write();
  return SetForegroundWindow(hWnd);
}

BOOL WINAPI CoreShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
  const BOOL ok = ShellExecuteExW(pExecInfo);
  coredll::TraceLine("launch")
      .Text("file", pExecInfo ? pExecInfo->lpFile : NULL)
      .Text("params", pExecInfo ? pExecInfo->lpParameters : NULL)
      .Bool("ok", ok != FALSE)
      .Write();
  return ok;
}

}  // extern "C"
