// Window state and placement: the model of this program's windows, their
// texts, shown and enabled states, places and stacking.
#include "WindowModel.h"

#include <algorithm>
#include <map>

#include "MessageQueue.h"
#include "UiBackend.h"
#include "UiTrace.h"
#include "common/DeviceService.h"
#include "common/Utf.h"
#include "coredll/DeviceLink.h"
#include "coredll/Kernel.h"
#include "coredll/WindowDelivery.h"

namespace cehost {

namespace {

struct Model {
  std::mutex mutex;
  std::map<HWND, std::unique_ptr<Window>> windows;
  DWORD nextChild = 0x40000000u;
};

// Lives as long as the process: threads may update controls during exit.
Model& TheModel() {
  static Model* model = new Model;
  return *model;
}

bool Intersect(const RECT& a, const RECT& b, RECT* out) {
  *out = RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  return out->left < out->right && out->top < out->bottom;
}

void TracePlace(const Window& window) {
  TraceLine line("place");
  if (window.parent) line.Int("id", ControlId(window));
  line.Int("x", window.rect.left)
      .Int("y", window.rect.top)
      .Int("w", window.rect.right - window.rect.left)
      .Int("h", window.rect.bottom - window.rect.top);
  if (!window.parent) line.Bool("topmost", window.topMost);
  line.Write();
}

}  // namespace

std::mutex& ModelMutex() { return TheModel().mutex; }

Window* FindWindowLocked(HWND hwnd) {
  auto& windows = TheModel().windows;
  auto it = windows.find(hwnd);
  return it == windows.end() ? nullptr : it->second.get();
}

std::vector<HWND> TopWindowsLocked() {
  std::vector<HWND> tops;
  for (const auto& [hwnd, window] : TheModel().windows) {
    if (!window->parent) tops.push_back(hwnd);
  }
  return tops;
}

HWND AddWindow(std::unique_ptr<Window> window) {
  if (!window->parent) {
    const DWORD id = ProcessDevice()->CreateTopWindow(window->text);
    if (id == 0) return nullptr;
    window->hwnd = AsHwnd(id);
  }
  std::lock_guard<std::mutex> lock(ModelMutex());
  Model& model = TheModel();
  if (window->parent) {
    window->hwnd = AsHwnd(model.nextChild);
    model.nextChild += 4;
    FindWindowLocked(window->parent)->children.push_back(window->hwnd);
  }
  const HWND hwnd = window->hwnd;
  model.windows[hwnd] = std::move(window);
  return hwnd;
}

BOOL ForegroundLocalWindow(HWND hwnd) {
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hwnd);
    if (!window || window->parent) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  }
  TraceLine("foreground").Write();
  Backend().Foreground(hwnd);
  return TRUE;
}

}  // namespace cehost

using namespace cehost;

extern "C" {

BOOL DestroyWindow(HWND hWnd) {
  std::vector<HWND> children;
  bool top;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window || window->destroying) return NoWindow();
    // Only the window's own thread may destroy it, as on the device.
    if (window->thread != GetCurrentThreadId()) return Fail(ERROR_ACCESS_DENIED);
    window->destroying = true;
    window->shown = false;
    children = window->children;
    top = window->parent == nullptr;
  }
  if (top) {
    TraceLine("destroy").Write();
    Backend().Destroyed(hWnd);
  }
  CallWindow(hWnd, WM_DESTROY, 0, 0);
  for (HWND child : children) DestroyWindow(child);
  CallWindow(hWnd, WM_NCDESTROY, 0, 0);
  std::unique_ptr<Window> gone;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Model& model = TheModel();
    auto it = model.windows.find(hWnd);
    gone = std::move(it->second);
    model.windows.erase(it);
    if (gone->parent) {
      if (Window* parent = FindWindowLocked(gone->parent)) {
        auto& list = parent->children;
        list.erase(std::remove(list.begin(), list.end(), hWnd), list.end());
      }
    }
  }
  gone->queue->Forget(hWnd);
  if (top) ProcessDevice()->DestroyTopWindow(AsDword(hWnd));
  return TRUE;
}

BOOL IsWindow(HWND hWnd) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  return window && !window->destroying;
}

// On a window of another thread: sent as WM_SETTEXT, and the caller waits
// until that thread has handled it. A control's text set again as it is
// changes nothing on screen, so it is not painted again.
BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  if (auto owner = OtherThreadsQueue(hWnd)) {
    return static_cast<BOOL>(owner->Send(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
  }
  const std::u16string text(View(lpString));
  HWND top;
  int id = 0;
  bool changed;
  bool notifies = false;  // a single-line edit tells its dialog of every text set
  {
    PaintWakes wakes;
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    changed = window->text != text;
    if (changed) window->text = text;
    top = TopOf(window);
    if (window->parent) {
      id = ControlId(*window);
      if (changed) wakes.Invalidate(window);
      notifies = window->kind == WindowKind::Edit && !(window->style & ES_MULTILINE);
    }
  }
  if (top == hWnd) {
    ProcessDevice()->SetWindowTitle(AsDword(hWnd), text);
    TraceLine("title").Text("text", text).Write(changed);
  } else {
    TraceLine("text").Int("id", id).Text("text", text).Write(changed);
  }
  if (changed || top == hWnd) Backend().Changed(top);
  // As a single-line edit takes WM_SETTEXT: EN_UPDATE, then EN_CHANGE, to its dialog.
  if (notifies) {
    const LPARAM edit = reinterpret_cast<LPARAM>(hWnd);
    for (const WORD code : {static_cast<WORD>(EN_UPDATE), static_cast<WORD>(EN_CHANGE)}) {
      SendMessageW(top, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), code), edit);
    }
  }
  return TRUE;
}

// Another program's window answers the title the device lists.
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  std::u16string text;
  bool local;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    local = window != nullptr;
    if (window) text = window->text;
  }
  if (!local && !ProcessDevice()->GetWindowTitle(AsDword(hWnd), &text)) return 0;
  if (!lpString || nMaxCount <= 0) return 0;
  const size_t copied = std::min(text.size(), static_cast<size_t>(nMaxCount - 1));
  std::copy(text.begin(), text.begin() + static_cast<long>(copied), lpString);
  lpString[copied] = u'\0';
  return static_cast<int>(copied);
}

int GetWindowTextLengthW(HWND hWnd) {
  std::u16string text;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    if (Window* window = FindWindowLocked(hWnd)) return static_cast<int>(window->text.size());
  }
  if (!ProcessDevice()->GetWindowTitle(AsDword(hWnd), &text)) return 0;
  return static_cast<int>(text.size());
}

// On a window of another thread: made there, the caller waiting, every time,
// as Wine sends it even when the state stays.
BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  if (auto owner = OtherThreadsQueue(hWnd)) {
    return static_cast<BOOL>(owner->Send(hWnd, kShowWindowMessage, static_cast<WPARAM>(nCmdShow), 0));
  }
  const bool show = nCmdShow != SW_HIDE;
  HWND top;
  TraceLine line("show");  // a control's carries its id
  bool was, unchanged;
  {
    PaintWakes wakes;
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    was = window->shown;
    window->shown = show;
    top = TopOf(window);
    if (window->parent) line.Int("id", ControlId(*window));
    // A control left as it was changes nothing on screen.
    unchanged = window->parent && was == show;
    if (show && !unchanged) InvalidateLocked(window, wakes);
    // A hidden control uncovers whatever shown control shares its place.
    if (!show && !unchanged && window->parent) {
      for (HWND sibling : FindWindowLocked(window->parent)->children) {
        Window* other = FindWindowLocked(sibling);
        RECT overlap;
        if (other && other->shown && sibling != hWnd && Intersect(window->rect, other->rect, &overlap)) {
          wakes.Invalidate(other);
        }
      }
    }
  }
  line.Bool("shown", show).Write(!unchanged);
  if (top == hWnd) {
    Backend().Placed(hWnd);
  } else if (!unchanged) {
    Backend().Changed(top);
  }
  return was;
}

BOOL IsWindowVisible(HWND hWnd) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  if (!window || !window->shown) return FALSE;
  if (window->parent) {
    Window* parent = FindWindowLocked(window->parent);
    return parent && parent->shown;
  }
  return TRUE;
}

// On a window of another thread: made there, the caller waiting.
BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  if (auto owner = OtherThreadsQueue(hWnd)) {
    return static_cast<BOOL>(owner->Send(hWnd, kEnableWindowMessage, static_cast<WPARAM>(bEnable), 0));
  }
  HWND top;
  TraceLine line("enable");  // a control's carries its id
  bool wasDisabled, changed;
  {
    PaintWakes wakes;
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    wasDisabled = !window->enabled;
    window->enabled = bEnable != FALSE;
    changed = wasDisabled == window->enabled;
    top = TopOf(window);
    if (window->parent) line.Int("id", ControlId(*window));
    if (changed) wakes.Invalidate(window);
  }
  line.Bool("enabled", bEnable != FALSE).Write(changed);
  if (changed) Backend().Changed(top);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  return window && window->enabled;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  Window placed;
  bool top;
  {
    PaintWakes wakes;
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    RECT& r = window->rect;
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    if (!(uFlags & SWP_NOMOVE)) r = RECT{X, Y, X + width, Y + height};
    if (!(uFlags & SWP_NOSIZE)) r = RECT{r.left, r.top, r.left + cx, r.top + cy};
    top = window->parent == nullptr;
    if (top && !(uFlags & SWP_NOZORDER)) {
      if (hWndInsertAfter == HWND_TOPMOST) window->topMost = true;
      if (hWndInsertAfter == HWND_NOTOPMOST) window->topMost = false;
    }
    if (uFlags & SWP_SHOWWINDOW) window->shown = true;
    if (uFlags & SWP_HIDEWINDOW) window->shown = false;
    InvalidateLocked(window, wakes);
    placed = *window;
  }
  if (top && !(uFlags & SWP_NOZORDER)) {
    const DWORD placement = hWndInsertAfter == HWND_TOPMOST      ? kPlaceTopMost
                            : hWndInsertAfter == HWND_NOTOPMOST ? kPlaceNotTopMost
                            : hWndInsertAfter == HWND_BOTTOM    ? kPlaceBottom
                                                                : kPlaceTop;
    ProcessDevice()->PlaceWindow(AsDword(hWnd), placement);
  }
  TracePlace(placed);
  if (top) {
    Backend().Placed(hWnd);
  } else {
    Backend().Changed(placed.parent);
  }
  return TRUE;
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  if (!window) return NoWindow();
  if (!lpRect) return Fail(ERROR_INVALID_PARAMETER);
  *lpRect = window->rect;
  if (window->parent) {
    // A control's rectangle in screen pixels: inside its dialog's border.
    Window* parent = FindWindowLocked(window->parent);
    const LONG border = (parent->style & (WS_BORDER | WS_DLGFRAME)) ? 1 : 0;
    const LONG dx = parent->rect.left + border, dy = parent->rect.top + border;
    *lpRect = RECT{lpRect->left + dx, lpRect->top + dy, lpRect->right + dx, lpRect->bottom + dy};
  }
  return TRUE;
}

// The device keeps the stacking order of every program's windows; the
// program that owns the window brings it to the front on the screen.
BOOL SetForegroundWindow(HWND hWnd) {
  bool local;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    local = window != nullptr;
    if (window && window->parent) return NoWindow();
  }
  if (!ProcessDevice()->SetForegroundWindow(AsDword(hWnd))) return FALSE;
  return local ? ForegroundLocalWindow(hWnd) : TRUE;
}

HWND GetForegroundWindow(void) {
  const std::vector<DWORD> windows = ProcessDevice()->ListWindows();
  return windows.empty() ? nullptr : AsHwnd(windows.front());
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
  if (!lpEnumFunc) return Fail(ERROR_INVALID_PARAMETER);
  for (DWORD window : ProcessDevice()->ListWindows()) {
    if (!lpEnumFunc(AsHwnd(window), lParam)) return FALSE;
  }
  return TRUE;
}

int GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXSCREEN: return kScreenWidth;
    case SM_CYSCREEN: return kScreenHeight;
    default: return 0;
  }
}

}  // extern "C"
