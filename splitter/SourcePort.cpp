#include "SourcePort.h"

#include <new>

#include "PortContext.h"

SourcePort* SourcePort::Create() {
  void* block = LocalAlloc(LPTR, sizeof(SourcePort));
  return block ? new (block) SourcePort : NULL;
}

void SourcePort::Destroy(SourcePort* port) {
  if (!port) return;
  port->~SourcePort();
  LocalFree(port);  // de-initialisation answers for the other releases, not this one
}

SourcePort::SourcePort() : m_handle(NULL) { InitializeCriticalSection(&m_lock); }

SourcePort::~SourcePort() {
  Close();
  DeleteCriticalSection(&m_lock);
}

HANDLE SourcePort::Handle() {
  SectionLock lock(m_lock);
  return m_handle;
}

BOOL SourcePort::Open(LPCWSTR name, DWORD access, DWORD share) {
  SectionLock lock(m_lock);
  Close();
  m_handle = CreateFileW(name, access, share, NULL, OPEN_EXISTING, 0, NULL);
  return m_handle != INVALID_HANDLE_VALUE;
}

void SourcePort::Close() {
  SectionLock lock(m_lock);
  if (!m_handle) return;
  // A handle left invalid by a failed open is emptied without a close.
  if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
  m_handle = NULL;
}

DWORD SourcePort::Read(LPVOID buffer, DWORD count) {
  const HANDLE handle = Handle();
  DWORD done = 0;
  if (!handle || handle == INVALID_HANDLE_VALUE) return 0;
  if (!ReadFile(handle, buffer, count, &done, NULL)) return 0;
  return done;
}

DWORD SourcePort::Write(LPCVOID buffer, DWORD count) {
  const HANDLE handle = Handle();
  DWORD done = 0;
  if (!handle) return 0;
  if (!WriteFile(handle, buffer, count, &done, NULL)) return 0;
  return done;
}

BOOL SourcePort::EscapeCommFunction(DWORD function) { return ::EscapeCommFunction(Handle(), function); }
BOOL SourcePort::GetCommMask(LPDWORD mask) { return ::GetCommMask(Handle(), mask); }
BOOL SourcePort::SetCommMask(DWORD mask) { return ::SetCommMask(Handle(), mask); }
// The device has no overlapped operation: the event goes as the third
// argument and is not looked at.
BOOL SourcePort::WaitCommEvent(LPDWORD mask, HANDLE event) {
  return ::WaitCommEvent(Handle(), mask, static_cast<LPOVERLAPPED>(event));
}
BOOL SourcePort::ClearCommError(LPDWORD errors, LPCOMSTAT status) { return ::ClearCommError(Handle(), errors, status); }
BOOL SourcePort::GetCommModemStatus(LPDWORD status) { return ::GetCommModemStatus(Handle(), status); }
BOOL SourcePort::GetCommProperties(LPCOMMPROP properties) { return ::GetCommProperties(Handle(), properties); }
BOOL SourcePort::SetCommTimeouts(LPCOMMTIMEOUTS timeouts) { return ::SetCommTimeouts(Handle(), timeouts); }
BOOL SourcePort::GetCommTimeouts(LPCOMMTIMEOUTS timeouts) { return ::GetCommTimeouts(Handle(), timeouts); }
BOOL SourcePort::PurgeComm(DWORD flags) { return ::PurgeComm(Handle(), flags); }
BOOL SourcePort::SetupComm(DWORD inQueue, DWORD outQueue) { return ::SetupComm(Handle(), inQueue, outQueue); }
BOOL SourcePort::TransmitCommChar(char c) { return ::TransmitCommChar(Handle(), c); }
BOOL SourcePort::GetCommState(LPDCB dcb) { return ::GetCommState(Handle(), dcb); }
BOOL SourcePort::SetCommState(LPDCB dcb) { return ::SetCommState(Handle(), dcb); }
