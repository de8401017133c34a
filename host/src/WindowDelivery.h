// Messages that other programs send to this program's windows.
#pragma once

#include <windows.h>

namespace cehost {

// Handles the message on the window's own thread and answers its result;
// FALSE with ERROR_INVALID_WINDOW_HANDLE when the window is not this
// program's.
BOOL DeliverToLocalWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

}  // namespace cehost
