// The program entry of a framework application: the framework's WinMain.
#include <afxwin.h>

int main() { return AfxWinMain(::GetModuleHandleW(NULL), NULL, const_cast<LPTSTR>(TEXT("")), SW_SHOW); }
