#include <afxwin.h>

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

// The dialog procedure of every framework dialog: the message maps first,
// then the dialog manager's defaults.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->Attach(hWnd);
    return dialog->OnInitDialog();
  }
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (!wnd) return FALSE;
  LRESULT result = 0;
  const BOOL handled = wnd->OnWndMsg(message, wParam, lParam, &result);
  if (message == WM_NCDESTROY) {
    // The main window's end ends the application's message loop.
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == wnd) PostQuitMessage(0);
    wnd->Detach();
    wnd->PostNcDestroy();
    return TRUE;
  }
  if (!handled) return FALSE;
  if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) return static_cast<INT_PTR>(result);
  return TRUE;
}

INT_PTR CDialog::DoModal() {
  m_nModalResult = -1;
  m_bContinueModal = true;
  const HWND hWnd = ::CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDHelp),
                                         m_pParentWnd ? m_pParentWnd->m_hWnd : NULL, AfxDlgProc,
                                         reinterpret_cast<LPARAM>(this));
  if (!hWnd) return -1;
  // Runs until EndDialog, or until the window is destroyed (the main window's
  // destruction posts the application's quit as well).
  MSG msg;
  while (m_bContinueModal && ::IsWindow(hWnd)) {
    if (!::GetMessageW(&msg, NULL, 0, 0)) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    ::DispatchMessageW(&msg);
  }
  if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
  return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bContinueModal = false;
  ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
