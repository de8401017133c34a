// The control updates the receive thread makes, kept in order for the
// window thread to make. On the platform a control's text, state or
// painting set from another thread waits until the window's thread has
// taken it, and the window thread waits for the receive thread (for the
// track lock at Stop, for its end when the window goes): made directly, an
// update of the receive thread could wait for ever.
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

  struct Update {
    Kind kind;
    int id;
    BOOL flag;
    WCHAR text[TEXT_CHARS];
  };

  ControlUpdates();
  ~ControlUpdates();
  ControlUpdates(const ControlUpdates&) = delete;
  ControlUpdates& operator=(const ControlUpdates&) = delete;

  // FALSE when there was no memory for the updates at the start.
  BOOL Ready() const { return m_ring != NULL; }
  // Keeps the update, its text cut to TEXT_CHARS - 1 characters; *first says
  // whether none was waiting, so the window thread must be told. FALSE when
  // the queue is full: the update is dropped.
  BOOL Push(Kind kind, int id, BOOL flag, LPCWSTR text, BOOL* first);
  // The oldest update; FALSE when none waits.
  BOOL Pop(Update* update);

 private:
  CRITICAL_SECTION m_lock;
  Update* m_ring;
  int m_head;
  int m_count;
};
