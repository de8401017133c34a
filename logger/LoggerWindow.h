// The main window: a modal dialog from template 102 that owns the logger
// state, routes the commands and the timer, shrinks to the compact tile and
// comes back from it, and offers the core its window operations.
#pragma once

#include <afxwin.h>

#include "LoggerState.h"
#include "LoggerView.h"

class LoggerWindow : public CDialog, public LoggerView {
 public:
  explicit LoggerWindow(CWnd* pParent = NULL);

  // The window operations of the core. From the receive thread a control
  // update waits until the window thread has taken it.
  void SetControlText(int id, LPCWSTR text) override;
  void EnableControl(int id, BOOL enable) override;
  void ShowControl(int id, BOOL show) override;
  void RedrawStatusBox() override;
  void StartTimer(UINT id, UINT periodMs) override;
  void StopTimer(UINT id) override;
  void DefaultBeep() override;
  void ExclamationBeep() override;
  void EnterCompactTile() override;
  void ShowErrorBox(LPCWSTR text) override;

 protected:
  BOOL OnInitDialog() override;

  afx_msg void OnTimer(UINT_PTR nIDEvent);
  afx_msg void OnDestroy();
  afx_msg void OnStart();
  afx_msg void OnStop();
  afx_msg void OnMinimize();
  afx_msg void OnExit();
  afx_msg void OnLaunch1();
  afx_msg void OnLaunch2();
  afx_msg void OnLButtonUp(UINT nFlags, CPoint point);
  afx_msg HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);

  DECLARE_MESSAGE_MAP()

 private:
  void Launch(LPCWSTR path, LPCWSTR parameters);
  HWND Control(int id) const { return ::GetDlgItem(m_hWnd, id); }

  LoggerState m_state;
};
