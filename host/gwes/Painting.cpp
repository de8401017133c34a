// Painting: what is invalid is painted on the window's own thread, and a
// control asks its dialog for its colours each time it paints.
#include "GdiObjects.h"
#include "MessageQueue.h"
#include "UiBackend.h"
#include "UiTrace.h"
#include "WindowModel.h"

namespace cehost {

PaintWakes::~PaintWakes() {
  for (const auto& queue : queues_) queue->Wake();
}

void PaintWakes::Invalidate(Window* window) {
  if (!window->queue->Invalidate(window->hwnd)) return;
  for (const auto& queue : queues_) {
    if (queue == window->queue) return;
  }
  queues_.push_back(window->queue);
}

void InvalidateLocked(Window* window, PaintWakes& wakes) {
  wakes.Invalidate(window);
  for (HWND child : window->children) {
    if (Window* control = FindWindowLocked(child)) wakes.Invalidate(control);
  }
}

void PaintControl(HWND hwnd) {
  HWND parent;
  WindowKind kind;
  DWORD style;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* control = FindWindowLocked(hwnd);
    if (!control) return;
    control->queue->Validate(hwnd);
    parent = control->parent;
    kind = control->kind;
    style = control->style;
  }
  // A control asks its dialog for its colours each time it paints.
  PaintContext dc;
  const UINT message = kind == WindowKind::Button ? WM_CTLCOLORBTN
                       : kind == WindowKind::Edit && !(style & ES_READONLY) ? WM_CTLCOLOREDIT
                                                                             : WM_CTLCOLORSTATIC;
  const HBRUSH brush = reinterpret_cast<HBRUSH>(
      SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc.Handle()), reinterpret_cast<LPARAM>(hwnd)));
  const DeviceContext colours = dc.Get();
  COLORREF fill = kFaceColour;
  BrushColour(brush, &fill);
  int id;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* control = FindWindowLocked(hwnd);
    if (!control) return;
    control->colours = PaintColours{true, colours.text, colours.mode, colours.background, fill};
    id = ControlId(*control);
  }
  TraceLine("paint")
      .Int("id", id)
      .Colour("fg", colours.text)
      .Int("mode", colours.mode)
      .Colour("bg", colours.background)
      .Write();
  Backend().Changed(parent);
}

}  // namespace cehost

using namespace cehost;

extern "C" {

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
  PaintWakes wakes;
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  if (!window) return NoWindow();
  InvalidateLocked(window, wakes);
  return TRUE;
}

// Paints what is invalid at once. On a window of another thread the paint
// is sent there and the caller waits for it; with nothing to paint nothing
// is sent.
BOOL UpdateWindow(HWND hWnd) {
  std::shared_ptr<MessageQueue> queue;
  std::vector<HWND> windows{hWnd};
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    queue = window->queue;
    windows.insert(windows.end(), window->children.begin(), window->children.end());
  }
  if (queue->Thread() != GetCurrentThreadId()) {
    for (HWND window : windows) {
      if (queue->IsInvalid(window)) {
        queue->Send(hWnd, kUpdateWindowMessage, 0, 0);
        break;
      }
    }
    return TRUE;
  }
  for (HWND window : windows) {
    if (queue->IsInvalid(window)) CallWindow(window, WM_PAINT, 0, 0);
  }
  return TRUE;
}

}  // extern "C"
