#include <afxwin.h>

#include <map>
#include <memory>
#include <mutex>

namespace {

// The message being handled on this thread, for Default().
struct CurrentMessage {
  HWND hwnd = NULL;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
thread_local CurrentMessage current;

// Windows with an object of their own.
std::mutex permanentMutex;
std::map<HWND, CWnd*>& Permanent() {
  static auto* map = new std::map<HWND, CWnd*>;
  return *map;
}

// Objects standing for windows without one, kept for the thread's life.
thread_local std::map<HWND, std::unique_ptr<CWnd>> temporary;

bool IsCtlColor(UINT message) { return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC; }

}  // namespace

const CWnd CWnd::wndTop(HWND_TOP);
const CWnd CWnd::wndBottom(HWND_BOTTOM);
const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {CCmdTarget::GetThisMessageMap(), entries};
  return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

CWnd::~CWnd() {
  if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  std::lock_guard<std::mutex> lock(permanentMutex);
  auto it = Permanent().find(hWnd);
  return it == Permanent().end() ? NULL : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (!hWnd) return NULL;
  if (CWnd* wnd = FromHandlePermanent(hWnd)) return wnd;
  auto& slot = temporary[hWnd];
  if (!slot) slot.reset(new CWnd(hWnd));
  return slot.get();
}

BOOL CWnd::Attach(HWND hWndNew) {
  if (!hWndNew || m_hWnd) return FALSE;
  std::lock_guard<std::mutex> lock(permanentMutex);
  m_hWnd = hWndNew;
  Permanent()[hWndNew] = this;
  return TRUE;
}

HWND CWnd::Detach() {
  std::lock_guard<std::mutex> lock(permanentMutex);
  const HWND hWnd = m_hWnd;
  auto it = Permanent().find(hWnd);
  if (it != Permanent().end() && it->second == this) Permanent().erase(it);
  m_hWnd = NULL;
  return hWnd;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  const UINT wanted = IsCtlColor(message) ? WM_CTLCOLOR : message;
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pBaseMap) {
    for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
      if (entry->nMessage != wanted) continue;
      if (wanted == WM_COMMAND && (entry->nCode != HIWORD(wParam) || entry->nID != LOWORD(wParam))) continue;
      const CurrentMessage saved = current;
      current = CurrentMessage{m_hWnd, message, wParam, lParam};
      *pResult = entry->pfn(this, message, wParam, lParam);
      current = saved;
      return TRUE;
    }
  }
  return FALSE;
}

LRESULT CWnd::Default() { return ::DefWindowProcW(current.hwnd, current.message, current.wParam, current.lParam); }

void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnLButtonUp(UINT, CPoint) { Default(); }
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
  return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : NULL, x, y, cx, cy, nFlags);
}

// Centres on the desktop: the device's screen.
void CWnd::CenterWindow(CWnd*) {
  RECT rect;
  if (!::GetWindowRect(m_hWnd, &rect)) return;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  ::SetWindowPos(m_hWnd, NULL, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::SetWindowText(LPCTSTR lpszString) { ::SetWindowTextW(m_hWnd, lpszString); }

int CWnd::GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const {
  return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
  return reinterpret_cast<HICON>(
      ::SendMessageW(m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, NULL, bErase); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
  return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

int CWnd::MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption, UINT nType) {
  return ::MessageBoxW(m_hWnd, lpszText, lpszCaption ? lpszCaption : AfxGetAppName(), nType);
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }
