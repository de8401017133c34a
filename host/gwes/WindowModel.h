// The window model: every window of this program with its text, state,
// geometry and the colours of its last painting. One lock guards it all;
// backends read it under the same lock.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cehost {

class MessageQueue;

enum class WindowKind { Dialog, MessageBox, Button, Edit, Static, Image };

// What the control-colour hook left in the device context, and the brush it answered.
struct PaintColours {
  bool painted = false;
  COLORREF text = 0;
  int mode = OPAQUE;
  COLORREF background = 0;
  COLORREF brush = 0;
};

// Pixels of a bitmap or icon image, top row first, 0xAARRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

struct Window {
  HWND hwnd = nullptr;
  HWND parent = nullptr;  // the dialog of a control; NULL for a top-level window
  DWORD thread = 0;       // the creating thread, whose queue serves the window
  std::shared_ptr<MessageQueue> queue;
  WindowKind kind = WindowKind::Dialog;
  DLGPROC dialogProc = nullptr;
  int id = 0;
  std::u16string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool enabled = true;
  bool shown = false;
  bool topMost = false;
  RECT rect{};  // screen pixels for a top-level window, the parent's client area for a control
  std::shared_ptr<const Image> image;
  std::shared_ptr<const Image> icons[2];  // ICON_SMALL, ICON_BIG
  PaintColours colours;
  std::vector<HWND> children;  // in creation order
  bool dialogEnded = false;
  int dialogResult = 0;
  bool destroying = false;
};

// The lock of the whole model.
std::mutex& ModelMutex();

// Under the model lock.
Window* FindWindowLocked(HWND hwnd);
std::vector<HWND> TopWindowsLocked();
// The window threads to wake for painting, woken when this goes out of
// scope: declared before the model's lock, after the lock is released, as a
// window thread woken while the lock is held would only wait for it again.
class PaintWakes {
 public:
  PaintWakes() = default;
  PaintWakes(const PaintWakes&) = delete;
  PaintWakes& operator=(const PaintWakes&) = delete;
  ~PaintWakes();
  // Under the model lock: marks the window for painting on its thread. A
  // window already marked needs no second wake.
  void Invalidate(Window* window);

 private:
  std::vector<std::shared_ptr<MessageQueue>> queues_;
};

// Marks the window, and a top-level window's controls, for painting on its thread.
void InvalidateLocked(Window* window, PaintWakes& wakes);

// Creates a window in the model; a top-level one is listed by the device.
HWND AddWindow(std::unique_ptr<Window> window);

// The window's procedure: the dialog procedure with the dialog manager's
// defaults (Dialogs.cpp), or a control's painting (Painting.cpp).
LRESULT DialogProcedure(HWND hwnd, DLGPROC proc, UINT message, WPARAM wParam, LPARAM lParam);
void PaintControl(HWND hwnd);

// Window ids as the device lists them.
inline HWND AsHwnd(DWORD value) { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value)); }
inline DWORD AsDword(HWND hwnd) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(hwnd)); }

inline BOOL NoWindow() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

inline HWND TopOf(const Window* window) { return window->parent ? window->parent : window->hwnd; }

inline int ControlId(const Window& window) { return static_cast<int>(static_cast<short>(window.id)); }

// The device's screen, in pixels.
constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

// Colours of the device's default scheme.
constexpr COLORREF kFaceColour = RGB(192, 192, 192);
constexpr COLORREF kTextColour = RGB(0, 0, 0);
constexpr COLORREF kEditColour = RGB(255, 255, 255);

}  // namespace cehost
