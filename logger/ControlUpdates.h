// The control updates of the window, made on the window's thread in the
// order they were asked for. On the platform a control's text, state or
// painting set from another thread waits until the window's thread has
// taken it, and the window thread waits for the receive thread (for the
// track lock at Stop, for its end when the window goes): made directly, an
// update of the receive thread could wait for ever. So another thread's
// update is kept for the window thread, which is told once per batch.
#pragma once

#include <windows.h>

class ControlUpdates {
 public:
  enum Kind { SET_TEXT, ENABLE, SHOW, REDRAW_STATUS_BOX };
  // At most this many updates wait; the window thread takes them within a
  // message, so only a window that is ending leaves them to pile up.
  static constexpr int CAPACITY = 32;
  // A read-out's longest text and its terminator, as the interpreter formats it.
  static constexpr int TEXT_CHARS = 352;

  // What the window does with an update, on its own thread; and how it is
  // told that updates of other threads wait.
  class Window {
   public:
    virtual void MakeUpdate(Kind kind, int id, BOOL flag, LPCWSTR text) = 0;
    virtual void TellUpdatesWait() = 0;

   protected:
    virtual ~Window() = default;
  };

  ControlUpdates(Window& window, DWORD windowThread);
  ~ControlUpdates();
  ControlUpdates(const ControlUpdates&) = delete;
  ControlUpdates& operator=(const ControlUpdates&) = delete;

  // From any thread. On the window's thread the update is made at once,
  // after those other threads asked for before it. Elsewhere it is kept,
  // its text cut to TEXT_CHARS - 1 characters; a full queue drops it.
  // Without room for the queue (no memory at the start) every update is
  // made at once, as the platform makes it.
  void Make(Kind kind, int id, BOOL flag, LPCWSTR text);
  // On the window's thread: the updates that wait, oldest first.
  void MakeWaiting();

 private:
  struct Update {
    Kind kind;
    int id;
    BOOL flag;
    WCHAR text[TEXT_CHARS];
  };

  // FALSE when the queue is full; *first says whether none was waiting.
  BOOL Push(Kind kind, int id, BOOL flag, LPCWSTR text, BOOL* first);
  BOOL Pop(Update* update);

  Window& m_window;
  const DWORD m_windowThread;
  CRITICAL_SECTION m_lock;
  Update* m_ring;
  int m_head;
  int m_count;
};
