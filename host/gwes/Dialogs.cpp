// Dialogs from templates: the dialog manager's creation of a dialog and its
// controls, its procedure's defaults, and the calls on dialogs and their items.
#include <memory>

#include "DialogTemplate.h"
#include "GdiObjects.h"
#include "MessageQueue.h"
#include "UiTrace.h"
#include "WindowModel.h"
#include "common/Utf.h"

namespace cehost {

namespace {

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

// The dialog's own window, placed as the template says; not yet added.
std::unique_ptr<Window> DialogWindow(const Dialog& dialogTemplate, DLGPROC lpDialogFunc) {
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
  return dialog;
}

// Adds one of the template's controls to the dialog.
void AddControl(const DialogItem& item, HWND hwnd, const Window& dialog) {
  const DLGITEMTEMPLATE& place = item.record;
  auto control = std::make_unique<Window>();
  control->parent = hwnd;
  control->thread = dialog.thread;
  control->queue = dialog.queue;
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

HWND CreateDialogFrom(const Dialog& dialogTemplate, DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  auto dialog = DialogWindow(dialogTemplate, lpDialogFunc);
  const Window created = *dialog;
  const HWND hwnd = AddWindow(std::move(dialog));
  if (!hwnd) return nullptr;
  TraceCreate(created);
  for (const DialogItem& item : dialogTemplate.items) AddControl(item, hwnd, created);

  SendMessageW(hwnd, WM_INITDIALOG, 0, dwInitParam);
  // Shown once initialised, as the dialog manager does, unless the initialisation destroyed it.
  const DWORD style = dialogTemplate.record.style;
  if (IsWindow(hwnd) && (style & WS_VISIBLE)) {
    ShowWindow(hwnd, SW_SHOW);
    if (style & DS_SETFOREGROUND) SetForegroundWindow(hwnd);
  }
  return hwnd;
}

}  // namespace

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

}  // namespace cehost

using namespace cehost;

extern "C" {

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

}  // extern "C"
