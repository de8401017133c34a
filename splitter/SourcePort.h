// The relay instance's holder of the real serial port's handle. Reads,
// writes and serial calls on the relay are made here on the real port.
#pragma once

#include <windows.h>

class SourcePort {
 public:
  // On the local heap, as every block of the driver: it has no C++ runtime
  // for new and delete. Create answers NULL when the heap is exhausted;
  // Destroy closes a held handle first and takes NULL.
  static SourcePort* Create();
  static void Destroy(SourcePort* port);

  SourcePort(const SourcePort&) = delete;
  SourcePort& operator=(const SourcePort&) = delete;

  // Closes a held handle, then opens the port; TRUE when a usable handle
  // was obtained. A failed open leaves INVALID_HANDLE_VALUE in the handle.
  BOOL Open(LPCWSTR name, DWORD access, DWORD share);
  void Close();
  // Bytes read or written; a failure, or an empty or invalid handle, is 0.
  DWORD Read(LPVOID buffer, DWORD count);
  DWORD Write(LPCVOID buffer, DWORD count);

  // The serial calls, made with the held handle; they fail when none is held.
  BOOL EscapeCommFunction(DWORD function);
  BOOL GetCommMask(LPDWORD mask);
  BOOL SetCommMask(DWORD mask);
  BOOL WaitCommEvent(LPDWORD mask, HANDLE event);
  BOOL ClearCommError(LPDWORD errors, LPCOMSTAT status);
  BOOL GetCommModemStatus(LPDWORD status);
  BOOL GetCommProperties(LPCOMMPROP properties);
  BOOL SetCommTimeouts(LPCOMMTIMEOUTS timeouts);
  BOOL GetCommTimeouts(LPCOMMTIMEOUTS timeouts);
  BOOL PurgeComm(DWORD flags);
  BOOL SetupComm(DWORD inQueue, DWORD outQueue);
  BOOL TransmitCommChar(char c);
  BOOL GetCommState(LPDCB dcb);
  BOOL SetCommState(LPDCB dcb);

 private:
  SourcePort();
  ~SourcePort();

  // The handle as it is now. A call that blocks on the real port runs
  // without the lock, so another client's close can end it.
  HANDLE Handle();

  CRITICAL_SECTION m_lock;
  HANDLE m_handle;  // 0 while no port is held
};
