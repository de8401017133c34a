#include "ReceiveLoop.h"

#include "LoggerState.h"
#include "NmeaInterpreter.h"

namespace {

// Waits for the thread's end, at most the milliseconds (or INFINITE), and
// meanwhile takes the messages other threads send to this one: the receive
// thread's control updates wait for the window thread.
DWORD WaitTakingSentMessages(HANDLE thread, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD left = INFINITE;
    if (milliseconds != INFINITE) {
      const DWORD spent = GetTickCount() - start;
      left = spent < milliseconds ? milliseconds - spent : 0;
    }
    const DWORD result = MsgWaitForMultipleObjectsEx(1, &thread, left, QS_SENDMESSAGE, 0);
    if (result != WAIT_OBJECT_0 + 1) return result;
    MSG msg;
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);  // handles the sent ones, leaves the posted ones queued
  }
}

void StopReceiveThread(LoggerState& state) {
  state.readerRunning = FALSE;
  if (!state.readerThread) return;
  if (WaitTakingSentMessages(state.readerThread, READER_STOP_WAIT_MS) != WAIT_OBJECT_0) {
    // The thread borrows this state, which goes away with the window: close
    // the port under it, so its next poll finds nothing, and wait for its
    // end, however long its pass takes, still taking its control updates.
    if (state.portHandle != INVALID_HANDLE_VALUE) CloseHandle(state.portHandle);
    WaitTakingSentMessages(state.readerThread, INFINITE);
    state.portHandle = INVALID_HANDLE_VALUE;
  }
  CloseHandle(state.readerThread);
  state.readerThread = NULL;
}

// The lamp is a control of the window thread's: a call on it wakes that
// thread even when the lamp shows already what it asks for, so only a
// change is shown.
void ShowReceiveLamp(LoggerState& state, ReceiveLamp lamp) {
  if (state.receiveLamp == lamp) return;
  state.receiveLamp = lamp;
  state.view->ShowControl(IDC_RECEIVE_LAMP_DATA, lamp == ReceiveLamp::DATA);
  state.view->ShowControl(IDC_RECEIVE_LAMP_IDLE, lamp == ReceiveLamp::IDLE);
}

void ClosePort(LoggerState& state) {
  if (state.portHandle == INVALID_HANDLE_VALUE) return;
  CloseHandle(state.portHandle);
  state.portHandle = INVALID_HANDLE_VALUE;
}

}  // namespace

BOOL OpenTapPort(LoggerState& state, LPCWSTR deviceName) {
  StopReceiveThread(state);
  ClosePort(state);

  state.portHandle = CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (state.portHandle == INVALID_HANDLE_VALUE) {
    state.view->ShowErrorBox(TEXT("シリアルポートのオープンに失敗しました。\n"));
    return FALSE;
  }

  state.readerRunning = TRUE;
  state.receiveLamp = ReceiveLamp::UNKNOWN;
  state.readerThread = CreateThread(NULL, 0, ReceiveLoop, &state, 0, NULL);
  if (!state.readerThread) {
    state.readerRunning = FALSE;  // the port stays open until Close tap port
    return FALSE;
  }
  SetThreadPriority(state.readerThread, THREAD_PRIORITY_NORMAL);
  return TRUE;
}

void CloseTapPort(LoggerState& state) {
  StopReceiveThread(state);
  ClosePort(state);
}

DWORD WINAPI ReceiveLoop(LPVOID parameter) {
  LoggerState& state = *static_cast<LoggerState*>(parameter);
  static NmeaInterpreter interpreter;  // the process's one set of line buffers
  while (state.readerRunning) {
    ReceivePass(state, interpreter);
    Sleep(POLL_PERIOD_MS);
  }
  return 0;
}

// Status and read failures count as an empty poll.
DWORD ReceivePass(LoggerState& state, NmeaInterpreter& interpreter) {
  char buffer[RECEIVE_BUFFER_SIZE];
  COMSTAT status = {};
  DWORD read = 0;
  if (ClearCommError(state.portHandle, NULL, &status) && status.cbInQue > 0) {
    const DWORD wanted = status.cbInQue < MAX_READ_BYTES ? status.cbInQue : MAX_READ_BYTES;
    if (!ReadFile(state.portHandle, buffer, wanted, &read, NULL) || read > wanted) read = 0;
  }

  if (read == 0) {
    ShowReceiveLamp(state, ReceiveLamp::IDLE);
    return 0;
  }
  buffer[read] = '\0';
  ShowReceiveLamp(state, ReceiveLamp::DATA);
  interpreter.Interpret(state, buffer);
  return read;
}
