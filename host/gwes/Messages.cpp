// Sending and posting messages, a window's procedure and its defaults, the
// message loop's calls, timers, message boxes and beeps, and the delivery of
// other programs' messages.
#include <atomic>
#include <vector>

#include "MessageQueue.h"
#include "UiBackend.h"
#include "GdiObjects.h"
#include "UiTrace.h"
#include "WindowModel.h"
#include "common/Utf.h"
#include "coredll/DeviceLink.h"
#include "coredll/Kernel.h"
#include "coredll/WindowDelivery.h"

namespace cehost {

namespace {

// The queue of a window of this program; nullptr for another program's.
std::shared_ptr<MessageQueue> QueueOf(HWND hwnd) {
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hwnd);
  return window ? window->queue : nullptr;
}

}  // namespace

std::shared_ptr<MessageQueue> OtherThreadsQueue(HWND hwnd) {
  auto queue = QueueOf(hwnd);
  return queue && queue->Thread() != GetCurrentThreadId() ? queue : nullptr;
}

LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kShowWindowMessage: return ShowWindow(hwnd, static_cast<int>(wParam));
    case kEnableWindowMessage: return EnableWindow(hwnd, static_cast<BOOL>(wParam));
    case kUpdateWindowMessage: return UpdateWindow(hwnd);
    default: break;
  }
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

BOOL DeliverToLocalWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  auto queue = QueueOf(window);
  if (!queue) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  // Handled on the window's own thread; this thread waits for it.
  *result = queue->Thread() == GetCurrentThreadId() ? CallWindow(window, message, wParam, lParam)
                                                    : queue->Send(window, message, wParam, lParam);
  return TRUE;
}

}  // namespace cehost

using namespace cehost;

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

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto queue = QueueOf(hWnd);
  if (!queue) {
    // Another program's window: carried there by the device, handled on its thread.
    LRESULT result = 0;
    if (!ProcessDevice()->SendWindowMessage(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(hWnd)), Msg, wParam,
                                            lParam, &result)) {
      return 0;
    }
    return result;
  }
  if (queue->Thread() == GetCurrentThreadId()) return CallWindow(hWnd, Msg, wParam, lParam);
  return queue->Send(hWnd, Msg, wParam, lParam);
}

// The host carries only sent messages between programs: a post to another
// program's window fails.
BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto queue = hWnd ? QueueOf(hWnd) : MessageQueue::Current();
  if (!queue) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  queue->Post(MSG{hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}});
  return TRUE;
}

BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER);
  MessageQueue::Current()->Next(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
  return lpMsg->message != WM_QUIT;
}

// Handles what other threads sent first, whatever the filter, as the platform does.
BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER);
  return MessageQueue::Current()->Peek(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
}

// Only a message sent from another thread ends the wait as input here: no
// caller asks for other kinds, which are refused rather than never seen.
DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask,
                                  DWORD dwFlags) {
  if (nCount >= MAXIMUM_WAIT_OBJECTS || (nCount && !pHandles) || (dwFlags & ~MWMO_INPUTAVAILABLE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (dwWakeMask & ~QS_SENDMESSAGE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < nCount; ++i) {
    objects.push_back(LookupHandle(pHandles[i]));
    if (!objects.back()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  // Rung by an object's signal: the wait looks at the objects again.
  struct Alarm : WaitAlarm {
    explicit Alarm(std::shared_ptr<MessageQueue> queue) : queue(std::move(queue)) {}
    void Ring() override {
      rung = true;
      queue->Wake();
    }
    const std::shared_ptr<MessageQueue> queue;
    std::atomic<bool> rung{false};
  } alarm(MessageQueue::Current());
  const bool sentEnds = (dwWakeMask & QS_SENDMESSAGE) != 0;
  const DWORD start = GetTickCount();
  for (;;) {
    alarm.rung = false;
    DWORD result = WAIT_TIMEOUT, watched = 0;
    while (watched < nCount && result == WAIT_TIMEOUT) result = objects[watched++]->TakeOrWatch(&alarm);
    if (result == WAIT_OBJECT_0) result += watched - 1;
    bool again = false;
    if (result == WAIT_TIMEOUT) {
      DWORD left = INFINITE;
      if (dwMilliseconds != INFINITE) {
        const DWORD spent = GetTickCount() - start;
        left = spent < dwMilliseconds ? dwMilliseconds - spent : 0;
      }
      if (alarm.queue->WaitForSent(alarm.rung, left, sentEnds)) {
        result = WAIT_OBJECT_0 + nCount;
      } else {
        again = alarm.rung;
      }
    }
    for (DWORD i = 0; i < watched; ++i) objects[i]->Unwatch(&alarm);
    if (!again) return result;
  }
}

LRESULT DispatchMessageW(const MSG* lpMsg) {
  if (!lpMsg) return 0;
  if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
    reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
    return 0;
  }
  if (!lpMsg->hwnd) return 0;
  return CallWindow(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void PostQuitMessage(int nExitCode) { MessageQueue::Current()->Quit(nExitCode); }

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  auto queue = QueueOf(hWnd);
  if (!queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  queue->SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
  TraceLine("timer").Int("id", static_cast<long long>(nIDEvent)).Int("period", uElapse).Write();
  return nIDEvent ? nIDEvent : 1;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  auto queue = QueueOf(hWnd);
  if (!queue) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  const bool killed = queue->KillTimer(hWnd, uIDEvent);
  TraceLine("killtimer").Int("id", static_cast<long long>(uIDEvent)).Write();
  return killed ? TRUE : Fail(ERROR_TIMER_NOT_FOUND);
}

// Modal: the calling thread goes on handling its messages until the box is
// dismissed. Without a screen the box is recorded and answered OK.
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  const std::u16string text(View(lpText)), caption(lpCaption ? View(lpCaption) : u"Error");
  TraceLine("msgbox").Text("caption", caption).Text("text", text).Int("style", uType).Write();
  auto queue = MessageQueue::Current();
  auto answer = std::make_shared<std::atomic<int>>(0);
  const bool shown = Backend().ShowMessageBox(hWnd, text, caption, uType, [queue, answer](int result) {
    *answer = result;
    queue->Post(MSG{nullptr, WM_NULL, 0, 0, GetTickCount(), {0, 0}});
  });
  if (!shown) return IDOK;
  // A quit taken meanwhile is for the loop outside: it is posted again afterwards.
  bool quit = false;
  int quitCode = 0;
  MSG msg;
  while (*answer == 0) {
    queue->Next(&msg, nullptr, 0, 0);
    if (msg.message == WM_QUIT) {
      quit = true;
      quitCode = static_cast<int>(msg.wParam);
      continue;
    }
    DispatchMessageW(&msg);
  }
  if (quit) PostQuitMessage(quitCode);
  return *answer;
}

BOOL MessageBeep(UINT uType) {
  TraceLine("beep").Int("type", uType).Write();
  Backend().Beep(uType);
  return TRUE;
}

}  // extern "C"
