// Messages that other programs send to this program's windows.
#pragma once

#include <windows.h>

namespace cehost {

// Handles the message on the window's own thread and answers its result;
// FALSE with ERROR_INVALID_WINDOW_HANDLE when the window is not this
// program's.
BOOL DeliverToLocalWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// The device has put the window on top of its stacking order: the window
// comes to the front on the screen. FALSE with ERROR_INVALID_WINDOW_HANDLE
// when it is not a top-level window of this program.
BOOL ForegroundLocalWindow(HWND window);

}  // namespace cehost
