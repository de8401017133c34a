#include <afxwin.h>
#include <string.h>

namespace {

CWinApp* theApplication = NULL;

}  // namespace

CWinApp::CWinApp(LPCTSTR lpszAppName) : m_pszAppName(lpszAppName) { theApplication = this; }

CWinApp::~CWinApp() {
  if (theApplication == this) theApplication = NULL;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  MSG msg;
  while (::GetMessageW(&msg, NULL, 0, 0)) ::DispatchMessageW(&msg);
  return ExitInstance();
}

int CWinApp::ExitInstance() { return 0; }

HICON CWinApp::LoadIcon(UINT nIDResource) const { return ::LoadIconW(m_hInstance, MAKEINTRESOURCEW(nIDResource)); }

CWinApp* AfxGetApp() { return theApplication; }
HINSTANCE AfxGetInstanceHandle() { return theApplication ? theApplication->m_hInstance : NULL; }
LPCTSTR AfxGetAppName() { return theApplication ? theApplication->m_pszAppName : NULL; }

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPTSTR, int) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->m_hInstance = hInstance;
  // The executable's file name without directory and extension.
  WCHAR path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(NULL, path, MAX_PATH);
  const WCHAR* name = path;
  for (DWORD i = 0; i < length; ++i) {
    if (path[i] == TEXT('\\')) name = path + i + 1;
  }
  wcsncpy(app->m_szName, length ? name : TEXT(""), MAX_PATH - 1);
  if (WCHAR* dot = wcsrchr(app->m_szName, TEXT('.'))) *dot = TEXT('\0');
  app->m_pszExeName = app->m_szName;
  if (!app->m_pszAppName) app->m_pszAppName = app->m_szName;
  // An application whose initialisation answers FALSE ends at once.
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
