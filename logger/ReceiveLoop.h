// The tap port of the splitter driver, polled by a thread of its own: each
// chunk read goes to the interpreter on that thread, and the receive lamp
// shows whether the last poll brought data.
#pragma once

#include <windows.h>

struct LoggerState;
class NmeaInterpreter;

constexpr DWORD RECEIVE_BUFFER_SIZE = 1200;              // a read and its terminating zero
constexpr DWORD MAX_READ_BYTES = RECEIVE_BUFFER_SIZE - 1;
constexpr DWORD POLL_PERIOD_MS = 100;
constexpr DWORD READER_STOP_WAIT_MS = 4000;

// Opens the device (for example "COM7:") and starts ReceiveLoop. A failed
// open is reported in a message box; no thread is started then.
BOOL OpenTapPort(LoggerState& state, LPCWSTR deviceName);
// Stops the receive thread and closes the port; harmless when neither exists.
void CloseTapPort(LoggerState& state);

// The thread procedure; the parameter is the LoggerState. Returns 0.
DWORD WINAPI ReceiveLoop(LPVOID parameter);
// One poll of the port: reads what waits, up to MAX_READ_BYTES, shows on the
// receive lamp whether it read any (calling the window only when that
// changes) and hands the bytes to the interpreter. Answers the count read.
DWORD ReceivePass(LoggerState& state, NmeaInterpreter& interpreter);
