#include "LoggerWindow.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include "DriverInstaller.h"
#include "LoggerApp.h"
#include "ReceiveLoop.h"
#include "TrackWriter.h"
#include "resource.h"

namespace {

// The restore signal a second start sends: a release at this client point.
constexpr LONG RESTORE_SIGNAL_X = 255;
constexpr LONG RESTORE_SIGNAL_Y = 255;

// The full window after a restore, in screen pixels.
constexpr int FULL_X = 8;
constexpr int FULL_Y = 10;
constexpr int FULL_WIDTH = 303;
constexpr int FULL_HEIGHT = 220;

}  // namespace

BEGIN_MESSAGE_MAP(LoggerWindow, CDialog)
  ON_WM_TIMER()
  ON_WM_DESTROY()
  ON_BN_CLICKED(IDC_START, OnStart)
  ON_BN_CLICKED(IDC_STOP, OnStop)
  ON_BN_CLICKED(IDC_MINIMIZE, OnMinimize)
  ON_BN_CLICKED(IDC_EXIT, OnExit)
  ON_WM_LBUTTONUP()
  ON_BN_CLICKED(IDC_LAUNCH1, OnLaunch1)
  ON_BN_CLICKED(IDC_LAUNCH2, OnLaunch2)
  ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

// The destruction handling may run before the initialisation: the state
// starts with nothing open and nothing to finish.
LoggerWindow::LoggerWindow(CWnd* pParent) : CDialog(IDD_LOGGER, pParent), m_state(*this) {
  m_state.icon = AfxGetApp()->LoadIcon(IDI_WENDRA);
}

BOOL LoggerWindow::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(m_state.icon, TRUE);
  SetIcon(m_state.icon, FALSE);
  CenterWindow();
  // From here on a second start finds this window.
  SetWindowText(InstanceName);

  GetModuleFileNameW(NULL, m_state.appDir, MAX_PATH);
  if (WCHAR* slash = wcsrchr(m_state.appDir, TEXT('\\'))) slash[1] = TEXT('\0');
  LoadSettings(m_state, AfxGetAppName());
  DriverInstaller::InstallDriver(m_state);
  const LoggerSettings& settings = m_state.settings;
  if (settings.onlyactivatedriver) {
    DestroyWindow();
    return TRUE;
  }

  if (settings.btn1apppath[0]) {
    SetControlText(IDC_LAUNCH1, settings.btn1appname);
    EnableControl(IDC_LAUNCH1, TRUE);
  }
  if (settings.btn2apppath[0]) {
    SetControlText(IDC_LAUNCH2, settings.btn2appname);
    EnableControl(IDC_LAUNCH2, TRUE);
  }
  if (settings.topmost) SetWindowPos(&wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  m_state.lastLatitude = 0.0;
  m_state.lastLongitude = 0.0;
  m_state.timerId = 1;
  m_state.compactMode = FALSE;
  m_state.logging = FALSE;
  m_state.waitingForFix = FALSE;
  m_state.writeError = FALSE;

  // A port that does not open has been reported; the logger comes up without data.
  WCHAR port[16];
  _snwprintf(port, 15, TEXT("COM%d:"), static_cast<int>(settings.monport));
  port[15] = TEXT('\0');
  OpenTapPort(m_state, port);

  EnterCompactTile();
  if (settings.autostart) TrackWriter::StartLogging(m_state);
  return TRUE;
}

void LoggerWindow::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent == m_state.timerId) TrackWriter::TimerTick(m_state, static_cast<UINT>(nIDEvent));
  CDialog::OnTimer(nIDEvent);
}

// The receive thread stops before the state goes away with the window.
void LoggerWindow::OnDestroy() {
  CDialog::OnDestroy();
  TrackWriter::FinishOnShutdown(m_state);
  CloseTapPort(m_state);
}

void LoggerWindow::OnStart() { TrackWriter::StartLogging(m_state); }

void LoggerWindow::OnStop() { TrackWriter::StopLogging(m_state); }

void LoggerWindow::OnMinimize() { EnterCompactTile(); }

// The main window's end ends the modal run, and with it the application.
void LoggerWindow::OnExit() {
  DefaultBeep();
  DestroyWindow();
}

void LoggerWindow::OnLaunch1() { Launch(m_state.settings.btn1apppath, m_state.settings.btn1appargv); }

void LoggerWindow::OnLaunch2() { Launch(m_state.settings.btn2apppath, m_state.settings.btn2appargv); }

// The launch itself does not beep; the tile it enters does.
void LoggerWindow::Launch(LPCWSTR path, LPCWSTR parameters) {
  SHELLEXECUTEINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.lpVerb = TEXT("open");
  info.lpFile = path;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteEx(&info)) {
    EnterCompactTile();
    return;
  }
  WCHAR text[SETTINGS_LINE_CHARS + 16];
  _snwprintf(text, SETTINGS_LINE_CHARS + 15, TEXT("起動できません。\n%s"), path);
  text[SETTINGS_LINE_CHARS + 15] = TEXT('\0');
  MessageBox(text, AfxGetAppName(), MB_ICONHAND | MB_OK);
}

// A tap on the tile, or the restore signal of a second start.
void LoggerWindow::OnLButtonUp(UINT nFlags, CPoint point) {
  if (!m_state.compactMode) {
    CDialog::OnLButtonUp(nFlags, point);
    return;
  }
  // The tile is at most 65 x 53 pixels, so a tap never reports this point.
  if (point.x == RESTORE_SIGNAL_X && point.y == RESTORE_SIGNAL_Y && !m_state.settings.rstcurrun) return;
  DefaultBeep();
  SetWindowPos(m_state.settings.topmost ? &wndTopMost : &wndNoTopMost, FULL_X, FULL_Y, FULL_WIDTH, FULL_HEIGHT,
               SWP_SHOWWINDOW);
  m_state.compactMode = FALSE;
  CDialog::OnLButtonUp(nFlags, point);
}

// Only the status box takes colours; each flag is read once, at paint time.
HBRUSH LoggerWindow::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
  HBRUSH brush = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
  if (pWnd->GetDlgCtrlID() != IDC_STATUS_BOX) return brush;
  if (m_state.waitingForFix) {
    pDC->SetTextColor(RGB(255, 255, 255));
    pDC->SetBkMode(OPAQUE);
    pDC->SetBkColor(RGB(0, 0, 255));
  } else if (m_state.writeError) {
    pDC->SetTextColor(RGB(255, 255, 255));
    pDC->SetBkMode(OPAQUE);
    pDC->SetBkColor(RGB(255, 0, 0));
  } else if (m_state.logging && m_state.fix.fixQuality == 0) {
    pDC->SetTextColor(RGB(0, 0, 0));
    pDC->SetBkMode(OPAQUE);
    pDC->SetBkColor(RGB(255, 255, 0));
  } else {
    pDC->SetTextColor(RGB(0, 0, 0));
    pDC->SetBkMode(TRANSPARENT);
  }
  return brush;
}

void LoggerWindow::SetControlText(int id, LPCWSTR text) { ::SetWindowTextW(Control(id), text); }

void LoggerWindow::EnableControl(int id, BOOL enable) { ::EnableWindow(Control(id), enable); }

void LoggerWindow::ShowControl(int id, BOOL show) { ::ShowWindow(Control(id), show ? SW_SHOW : SW_HIDE); }

void LoggerWindow::RedrawStatusBox() {
  HWND box = Control(IDC_STATUS_BOX);
  ::InvalidateRect(box, NULL, TRUE);
  ::UpdateWindow(box);
}

void LoggerWindow::StartTimer(UINT id, UINT periodMs) { SetTimer(id, periodMs, NULL); }

void LoggerWindow::StopTimer(UINT id) { KillTimer(id); }

void LoggerWindow::DefaultBeep() { MessageBeep(0); }

void LoggerWindow::ExclamationBeep() { MessageBeep(MB_ICONEXCLAMATION); }

// Always top-most, whatever the topmost setting: the tile shows the window's
// top-left corner, where the status lies.
void LoggerWindow::EnterCompactTile() {
  DefaultBeep();
  const LoggerSettings& settings = m_state.settings;
  SetWindowPos(&wndTopMost, settings.minposx, settings.minposy, settings.minsizew, settings.minsizeh, SWP_SHOWWINDOW);
  m_state.compactMode = TRUE;
}

void LoggerWindow::ShowErrorBox(LPCWSTR text) { MessageBox(text, AfxGetAppName(), MB_ICONHAND | MB_OK); }
