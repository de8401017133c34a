// The application and dialog framework of the device (MFC for Windows CE),
// the part the logger uses: the application object, windows and modal
// dialogs, message maps, device contexts and points.
#pragma once

#include <windows.h>

#define afx_msg

// The 16-bit message that the framework still maps every WM_CTLCOLORxxx to;
// the platform's headers no longer define it.
#ifndef WM_CTLCOLOR
#define WM_CTLCOLOR 0x0019
#endif

class CWnd;
class CDC;

// A message map entry: the message, for WM_COMMAND the notification code and
// control id, and the handler, called with the window the map belongs to.
typedef LRESULT (*AFX_PMSG)(CWnd* target, UINT message, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  AFX_PMSG pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* pBaseMap;
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                      \
 protected:                                        \
  static const AFX_MSGMAP* GetThisMessageMap();    \
  virtual const AFX_MSGMAP* GetMessageMap() const;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                   \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                              \
    typedef theClass ThisClass [[maybe_unused]];                                 \
    typedef baseClass TheBaseClass;                                              \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                              \
  {0, 0, 0, nullptr}};                                                                 \
  static const AFX_MSGMAP messageMap = {TheBaseClass::GetThisMessageMap(), &_messageEntries[0]}; \
  return &messageMap;                                                                  \
  }

#define ON_WM_TIMER()                                                  \
  {WM_TIMER, 0, 0, [](CWnd* w, UINT, WPARAM p, LPARAM) -> LRESULT {    \
     static_cast<ThisClass*>(w)->OnTimer(static_cast<UINT_PTR>(p));    \
     return 0;                                                         \
   }},
#define ON_WM_DESTROY()                                              \
  {WM_DESTROY, 0, 0, [](CWnd* w, UINT, WPARAM, LPARAM) -> LRESULT {  \
     static_cast<ThisClass*>(w)->OnDestroy();                        \
     return 0;                                                       \
   }},
#define ON_WM_LBUTTONUP()                                                               \
  {WM_LBUTTONUP, 0, 0, [](CWnd* w, UINT, WPARAM p, LPARAM l) -> LRESULT {               \
     static_cast<ThisClass*>(w)->OnLButtonUp(static_cast<UINT>(p), CPoint(l));          \
     return 0;                                                                          \
   }},
// Every WM_CTLCOLORxxx reaches this one entry, with the kind of control.
#define ON_WM_CTLCOLOR()                                                                        \
  {WM_CTLCOLOR, 0, 0, [](CWnd* w, UINT m, WPARAM p, LPARAM l) -> LRESULT {                      \
     CDC dc(reinterpret_cast<HDC>(p));                                                          \
     return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(w)->OnCtlColor(                   \
         &dc, CWnd::FromHandle(reinterpret_cast<HWND>(l)), m - WM_CTLCOLORMSGBOX));             \
   }},
#define ON_BN_CLICKED(id, memberFxn)                                           \
  {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), [](CWnd* w, UINT, WPARAM, LPARAM) -> LRESULT { \
     static_cast<ThisClass*>(w)->memberFxn();                                  \
     return 0;                                                                 \
   }},
#define ON_COMMAND(id, memberFxn) ON_BN_CLICKED(id, memberFxn)

#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_EDIT 1
#define CTLCOLOR_LISTBOX 2
#define CTLCOLOR_BTN 3
#define CTLCOLOR_DLG 4
#define CTLCOLOR_SCROLLBAR 5
#define CTLCOLOR_STATIC 6

class CPoint : public tagPOINT {
 public:
  CPoint() : tagPOINT{0, 0} {}
  CPoint(int initX, int initY) : tagPOINT{initX, initY} {}
  // From a message's MAKELPARAM(x, y).
  explicit CPoint(LPARAM dwPoint)
      : tagPOINT{static_cast<SHORT>(LOWORD(dwPoint)), static_cast<SHORT>(HIWORD(dwPoint))} {}
};

class CDC {
 public:
  explicit CDC(HDC hDC = NULL) : m_hDC(hDC) {}
  COLORREF SetTextColor(COLORREF crColor) { return ::SetTextColor(m_hDC, crColor); }
  COLORREF SetBkColor(COLORREF crColor) { return ::SetBkColor(m_hDC, crColor); }
  int SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }
  HDC m_hDC;
};

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = NULL;

  // The object attached to a window, or a temporary one standing for it.
  static CWnd* FromHandle(HWND hWnd);
  static CWnd* FromHandlePermanent(HWND hWnd);

  static const CWnd wndTop;
  static const CWnd wndBottom;
  static const CWnd wndTopMost;
  static const CWnd wndNoTopMost;

  BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
  void CenterWindow(CWnd* pAlternateOwner = NULL);
  void SetWindowText(LPCTSTR lpszString);
  int GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const;
  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  CWnd* GetDlgItem(int nID) const;
  int GetDlgCtrlID() const;
  BOOL ShowWindow(int nCmdShow);
  BOOL EnableWindow(BOOL bEnable = TRUE);
  void Invalidate(BOOL bErase = TRUE);
  void UpdateWindow();
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer);
  BOOL KillTimer(UINT_PTR nIDEvent);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  int MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption = NULL, UINT nType = MB_OK);
  virtual BOOL DestroyWindow();

  BOOL Attach(HWND hWndNew);
  HWND Detach();

  // Looks the message up in the maps of the class and its bases.
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

 protected:
  // The platform's default processing of the message being handled.
  LRESULT Default();
  virtual void PostNcDestroy() {}

  afx_msg void OnTimer(UINT_PTR nIDEvent);
  afx_msg void OnDestroy();
  afx_msg void OnLButtonUp(UINT nFlags, CPoint point);
  afx_msg HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);

  static const AFX_MSGMAP* GetThisMessageMap();
  const AFX_MSGMAP* GetMessageMap() const override;

  friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);

 private:
  explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);
  // Creates the dialog from its template and runs it until it ends or is
  // destroyed; answers the value given to EndDialog, or -1.
  virtual INT_PTR DoModal();
  void EndDialog(int nResult);

 protected:
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  UINT m_nIDHelp;
  CWnd* m_pParentWnd;

  DECLARE_MESSAGE_MAP()

 private:
  bool m_bContinueModal = false;
  INT_PTR m_nModalResult = -1;
  friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
};

class CWinApp : public CCmdTarget {
 public:
  // Without a name the application takes its executable's file name.
  explicit CWinApp(LPCTSTR lpszAppName = NULL);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  virtual int Run();
  virtual int ExitInstance();

  HICON LoadIcon(UINT nIDResource) const;

  LPCTSTR m_pszAppName = NULL;
  LPCTSTR m_pszExeName = NULL;
  HINSTANCE m_hInstance = NULL;
  CWnd* m_pMainWnd = NULL;

 private:
  WCHAR m_szName[MAX_PATH] = {};
  friend int AfxWinMain(HINSTANCE, HINSTANCE, LPTSTR, int);
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
LPCTSTR AfxGetAppName();
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
