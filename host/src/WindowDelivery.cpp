#include "WindowDelivery.h"

namespace cehost {

// A program without windows of its own: every message finds no window.
BOOL DeliverToLocalWindow(HWND, UINT, WPARAM, LPARAM, LRESULT*) {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

}  // namespace cehost
