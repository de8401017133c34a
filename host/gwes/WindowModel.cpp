#include "WindowModel.h"

#include <algorithm>
#include <map>

#include "DialogTemplate.h"
#include "GdiObjects.h"
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

HWND AsHwnd(DWORD value) { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value)); }
DWORD AsDword(HWND hwnd) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(hwnd)); }

BOOL NoWindow() { return Fail(ERROR_INVALID_WINDOW_HANDLE); }

HWND TopOf(Window* window) { return window->parent ? window->parent : window->hwnd; }

// Marks the window, and a top-level window's controls, for painting on its thread.
void InvalidateLocked(Window* window) {
  window->queue->Invalidate(window->hwnd);
  for (HWND child : window->children) {
    if (Window* control = FindWindowLocked(child)) control->queue->Invalidate(child);
  }
}

bool Intersect(const RECT& a, const RECT& b, RECT* out) {
  *out = RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  return out->left < out->right && out->top < out->bottom;
}

LONG Scale(LONG value, LONG numerator, LONG denominator) {
  // MulDiv: rounded half away from zero.
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<LONG>(product >= 0 ? (product + denominator / 2) / denominator
                                        : (product - denominator / 2) / denominator);
}

WindowKind KindOf(const DialogItem& item) {
  if (item.controlClass == ControlClass::Button) return WindowKind::Button;
  if (item.controlClass == ControlClass::Edit) return WindowKind::Edit;
  return (item.record.style & SS_TYPEMASK) == SS_BITMAP ? WindowKind::Image : WindowKind::Static;
}

const char* KindName(WindowKind kind) {
  switch (kind) {
    case WindowKind::Button: return "button";
    case WindowKind::Edit: return "edit";
    case WindowKind::Static: return "text";
    case WindowKind::Image: return "image";
    default: return "dialog";
  }
}

int ControlId(const Window& window) { return static_cast<int>(static_cast<short>(window.id)); }

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

// The window's procedure: the dialog procedure with the dialog manager's
// defaults, or a control's own handling.
LRESULT DialogProcedure(HWND hwnd, DLGPROC proc, UINT message, WPARAM wParam, LPARAM lParam) {
  const INT_PTR handled = proc ? proc(hwnd, message, wParam, lParam) : 0;
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      // The dialog procedure answers the brush itself, or 0 for the default.
      return handled ? handled : DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_INITDIALOG:
      return handled;
    default:
      break;
  }
  if (handled) return 0;
  if (message == WM_CLOSE) {
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
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

LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowKind kind;
  DLGPROC proc;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    kind = window->kind;
    proc = window->dialogProc;
  }
  if (kind == WindowKind::Dialog) return DialogProcedure(hwnd, proc, message, wParam, lParam);
  if (kind != WindowKind::MessageBox && message == WM_PAINT) {
    PaintControl(hwnd);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
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

namespace {

// Creates a window in the model; a top-level one is listed by the device.
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

void TraceCreate(const Window& window) {
  TraceLine line("create");
  if (window.parent) line.Int("id", ControlId(window));
  line.Text("kind", ToUtf16(KindName(window.kind)))
      .Text("text", window.text)
      .Int("x", window.rect.left)
      .Int("y", window.rect.top)
      .Int("w", window.rect.right - window.rect.left)
      .Int("h", window.rect.bottom - window.rect.top)
      .Int("style", window.style)
      .Int("exstyle", window.exStyle)
      .Bool("enabled", window.enabled)
      .Bool("shown", window.shown)
      .Write();
}

HWND CreateDialogFrom(const Dialog& dialogTemplate, DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  const DLGTEMPLATE& form = dialogTemplate.record;
  // A dialog unit is 7/4 pixel across and 3/2 down: the template's 9-point font on the device.
  auto dialog = std::make_unique<Window>();
  dialog->thread = GetCurrentThreadId();
  dialog->queue = MessageQueue::Current();
  dialog->kind = WindowKind::Dialog;
  dialog->dialogProc = lpDialogFunc;
  dialog->text = dialogTemplate.title;
  dialog->style = form.style & ~WS_VISIBLE;
  dialog->exStyle = form.dwExtendedStyle;
  const LONG border = (form.style & (WS_BORDER | WS_DLGFRAME)) ? 1 : 0;
  const LONG width = Scale(form.cx, 7, 4) + 2 * border;
  const LONG height = Scale(form.cy, 3, 2) + 2 * border;
  LONG x = Scale(form.x, 7, 4), y = Scale(form.y, 3, 2);
  if (form.style & DS_CENTER) {
    x = (kScreenWidth - width) / 2;
    y = (kScreenHeight - height) / 2;
  }
  dialog->rect = RECT{x, y, x + width, y + height};
  const Window created = *dialog;
  const HWND hwnd = AddWindow(std::move(dialog));
  if (!hwnd) return nullptr;
  TraceCreate(created);

  for (const DialogItem& item : dialogTemplate.items) {
    const DLGITEMTEMPLATE& place = item.record;
    auto control = std::make_unique<Window>();
    control->parent = hwnd;
    control->thread = created.thread;
    control->queue = created.queue;
    control->kind = KindOf(item);
    control->id = place.id;
    control->style = place.style;
    control->exStyle = place.dwExtendedStyle;
    control->enabled = !(place.style & WS_DISABLED);
    control->shown = (place.style & WS_VISIBLE) != 0;
    const LONG cx = Scale(place.x, 7, 4), cy = Scale(place.y, 3, 2);
    // Edges are mapped, as MapDialogRect does, so neighbours meet exactly.
    control->rect = RECT{cx, cy, Scale(place.x + place.cx, 7, 4), Scale(place.y + place.cy, 3, 2)};
    if (control->kind == WindowKind::Image) {
      // An image control sizes itself to its bitmap, named by the title's ordinal.
      const HBITMAP bitmap = LoadBitmapW(nullptr, MAKEINTRESOURCEW(item.titleOrdinal));
      const auto images = ImagesOf(bitmap);
      if (!images.empty()) {
        control->image = images.front();
        control->rect.right = cx + images.front()->width;
        control->rect.bottom = cy + images.front()->height;
      }
    } else {
      control->text = item.title;
    }
    const Window copy = *control;
    AddWindow(std::move(control));
    TraceCreate(copy);
  }

  SendMessageW(hwnd, WM_INITDIALOG, 0, dwInitParam);
  // Shown once initialised, as the dialog manager does, unless the initialisation destroyed it.
  if (IsWindow(hwnd) && (form.style & WS_VISIBLE)) {
    ShowWindow(hwnd, SW_SHOW);
    if (form.style & DS_SETFOREGROUND) SetForegroundWindow(hwnd);
  }
  return hwnd;
}

}  // namespace

extern "C" {

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_CTLCOLOREDIT:
      SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_STATICTEXT));
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_STATIC));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_STATIC));
    case WM_PAINT: {
      std::lock_guard<std::mutex> lock(ModelMutex());
      if (Window* window = FindWindowLocked(hWnd)) window->queue->Validate(hWnd);
      return 0;
    }
    case WM_SETICON: {
      const bool big = wParam == ICON_BIG;
      auto image = IconImage(reinterpret_cast<HICON>(lParam), big ? 32 : 16);
      {
        std::lock_guard<std::mutex> lock(ModelMutex());
        Window* window = FindWindowLocked(hWnd);
        if (!window) return 0;
        window->icons[big ? 1 : 0] = image;
      }
      TraceLine("icon")
          .Int("type", static_cast<long long>(wParam))
          .Int("w", image ? image->width : 0)
          .Int("h", image ? image->height : 0)
          .Write();
      Backend().Changed(hWnd);
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    case WM_SETTEXT:
      return SetWindowTextW(hWnd, reinterpret_cast<LPCWSTR>(lParam));
    case WM_GETTEXT:
      return GetWindowTextW(hWnd, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return GetWindowTextLengthW(hWnd);
    default:
      return 0;
  }
}

// An owner changes nothing the host shows.
HWND CreateDialogIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW lpTemplate, HWND, DLGPROC lpDialogFunc,
                                LPARAM dwInitParam) {
  Dialog dialog;
  if (!ReadDialogTemplate(lpTemplate, SIZE_MAX, &dialog)) return nullptr;
  return CreateDialogFrom(dialog, lpDialogFunc, dwInitParam);
}

HWND CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam) {
  const HRSRC found = FindResourceW(hInstance, lpTemplateName, RT_DIALOG);
  if (!found) return nullptr;
  Dialog dialog;
  if (!ReadDialogTemplate(LockResource(LoadResource(hInstance, found)), SizeofResource(hInstance, found), &dialog)) {
    return nullptr;
  }
  return CreateDialogFrom(dialog, lpDialogFunc, dwInitParam);
}

BOOL EndDialog(HWND hDlg, int nResult) {
  std::shared_ptr<MessageQueue> queue;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hDlg);
    if (!window || window->kind != WindowKind::Dialog) return NoWindow();
    window->dialogEnded = true;
    window->dialogResult = nResult;
    queue = window->queue;
  }
  // The modal loop looks again once it wakes.
  queue->Post(MSG{hDlg, WM_NULL, 0, 0, GetTickCount(), {0, 0}});
  return TRUE;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* dialog = FindWindowLocked(hDlg);
  if (!dialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (HWND child : dialog->children) {
    Window* control = FindWindowLocked(child);
    if (control && ControlId(*control) == nIDDlgItem) return child;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

int GetDlgCtrlID(HWND hWnd) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return window->parent ? ControlId(*window) : 0;
}

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

// Changes the model at once, from any thread; the window's thread repaints.
BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  const std::u16string text(View(lpString));
  HWND top;
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    window->text = text;
    top = TopOf(window);
    if (window->parent) {
      id = ControlId(*window);
      window->queue->Invalidate(hWnd);
    }
  }
  if (top == hWnd) {
    ProcessDevice()->SetWindowTitle(AsDword(hWnd), text);
    TraceLine("title").Text("text", text).Write();
  } else {
    TraceLine("text").Int("id", id).Text("text", text).Write();
  }
  Backend().Changed(top);
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

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  const bool show = nCmdShow != SW_HIDE;
  bool was;
  HWND top;
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    was = window->shown;
    window->shown = show;
    top = TopOf(window);
    if (window->parent) id = ControlId(*window);
    if (show) InvalidateLocked(window);
    // A hidden control uncovers whatever shares its place.
    if (!show && window->parent) {
      for (HWND sibling : FindWindowLocked(window->parent)->children) {
        Window* other = FindWindowLocked(sibling);
        RECT overlap;
        if (other && sibling != hWnd && Intersect(window->rect, other->rect, &overlap)) {
          other->queue->Invalidate(sibling);
        }
      }
    }
  }
  TraceLine line("show");
  if (top != hWnd) line.Int("id", id);
  line.Bool("shown", show).Write();
  if (top == hWnd) {
    Backend().Placed(hWnd);
  } else {
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

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  bool wasDisabled;
  HWND top;
  int id = 0;
  {
    std::lock_guard<std::mutex> lock(ModelMutex());
    Window* window = FindWindowLocked(hWnd);
    if (!window) return NoWindow();
    wasDisabled = !window->enabled;
    window->enabled = bEnable != FALSE;
    top = TopOf(window);
    if (window->parent) id = ControlId(*window);
    window->queue->Invalidate(hWnd);
  }
  TraceLine line("enable");
  if (top != hWnd) line.Int("id", id);
  line.Bool("enabled", bEnable != FALSE).Write();
  Backend().Changed(top);
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
    InvalidateLocked(window);
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

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hWnd);
  if (!window) return NoWindow();
  InvalidateLocked(window);
  return TRUE;
}

// On the window's thread it paints at once; from another thread it only
// wakes the window's thread, which paints, so the caller never waits for it.
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
    queue->Wake();
    return TRUE;
  }
  for (HWND window : windows) {
    if (queue->IsInvalid(window)) CallWindow(window, WM_PAINT, 0, 0);
  }
  return TRUE;
}

}  // extern "C"
