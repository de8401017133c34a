#include "ControlUpdates.h"

#include <string.h>

ControlUpdates::ControlUpdates(Window& window, DWORD windowThread)
    : m_window(window), m_windowThread(windowThread), m_head(0), m_count(0) {
  InitializeCriticalSection(&m_lock);
  // Once, at the window's start: never on the receive thread's way.
  m_ring = static_cast<Update*>(LocalAlloc(LPTR, CAPACITY * sizeof(Update)));
}

ControlUpdates::~ControlUpdates() {
  if (m_ring) LocalFree(m_ring);
  DeleteCriticalSection(&m_lock);
}

void ControlUpdates::Make(Kind kind, int id, BOOL flag, LPCWSTR text) {
  if (GetCurrentThreadId() == m_windowThread || !m_ring) {
    MakeWaiting();
    m_window.MakeUpdate(kind, id, flag, text);
    return;
  }
  BOOL first = FALSE;
  if (Push(kind, id, flag, text, &first) && first) m_window.TellUpdatesWait();
}

// The update is copied out, so no other thread waits while it is made.
void ControlUpdates::MakeWaiting() {
  Update update;
  while (Pop(&update)) m_window.MakeUpdate(update.kind, update.id, update.flag, update.text);
}

BOOL ControlUpdates::Push(Kind kind, int id, BOOL flag, LPCWSTR text, BOOL* first) {
  EnterCriticalSection(&m_lock);
  const BOOL room = m_ring && m_count < CAPACITY;
  if (room) {
    Update& update = m_ring[(m_head + m_count) % CAPACITY];
    update.kind = kind;
    update.id = id;
    update.flag = flag;
    update.text[0] = TEXT('\0');
    if (text) {
      wcsncpy(update.text, text, TEXT_CHARS - 1);
      update.text[TEXT_CHARS - 1] = TEXT('\0');
    }
    *first = m_count == 0;
    ++m_count;
  }
  LeaveCriticalSection(&m_lock);
  return room;
}

BOOL ControlUpdates::Pop(Update* update) {
  EnterCriticalSection(&m_lock);
  const BOOL waiting = m_count > 0;
  if (waiting) {
    memcpy(update, &m_ring[m_head], sizeof *update);
    m_head = (m_head + 1) % CAPACITY;
    --m_count;
  }
  LeaveCriticalSection(&m_lock);
  return waiting;
}
