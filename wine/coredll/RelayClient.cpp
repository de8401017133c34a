#include "RelayClient.h"

#include <windows.h>
#include <pegdser.h>

#include <stdlib.h>
#include <wchar.h>

#include "DeviceManager.h"

namespace coredll {

namespace {

WCHAR relayName[16];
unsigned long long gate = ~0ull;  // no gate
HANDLE output = INVALID_HANDLE_VALUE;
HANDLE stopped = NULL;
HANDLE released = NULL;
HANDLE thread = NULL;

bool Environment(LPCWSTR name, LPWSTR value, DWORD size) {
  const DWORD length = GetEnvironmentVariableW(name, value, size);
  return length > 0 && length < size;
}

// Waits until the relay device exists; false when stopped first.
bool WaitForRelay() {
  const HANDLE events[2] = {stopped, DeviceActivated()};
  while (!DeviceExists(relayName)) {
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) return false;
  }
  return true;
}

DWORD WINAPI ReadRelay(LPVOID) {
  BootDevices();
  if (!WaitForRelay()) return 0;
  const HANDLE relay = OpenDevice(relayName, GENERIC_READ | GENERIC_WRITE, 0);
  if (!relay || relay == INVALID_HANDLE_VALUE) return 1;
  // At the first byte, or after 200 ms without one.
  COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 200, 0, 0};
  ControlDevice(relay, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, NULL, 0, NULL);
  char buffer[256];
  unsigned long long total = 0;
  while (WaitForSingleObject(stopped, 0) == WAIT_TIMEOUT) {
    if (total == gate) {
      const HANDLE events[2] = {stopped, released};
      if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) break;
    }
    const DWORD wanted = total < gate && gate - total < sizeof buffer ? static_cast<DWORD>(gate - total) : sizeof buffer;
    DWORD done = 0;
    if (!ReadDevice(relay, buffer, wanted, &done)) break;
    total += done;
    DWORD written;
    if (done && output != INVALID_HANDLE_VALUE) WriteFile(output, buffer, done, &written, NULL);
  }
  CloseDevice(relay);
  return 0;
}

}  // namespace

void StartRelayClient() {
  if (!Environment(L"CE_RELAY_CLIENT", relayName, 16) || !IsDeviceName(relayName)) return;
  WCHAR value[MAX_PATH];
  if (Environment(L"CE_RELAY_GATE", value, MAX_PATH)) gate = _wcstoui64(value, NULL, 10);
  if (Environment(L"CE_RELAY_OUTPUT", value, MAX_PATH)) {
    // A new file for each run: what an earlier run read never mixes in.
    output = CreateFileW(value, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  }
  stopped = CreateEventW(NULL, TRUE, FALSE, NULL);
  released = CreateEventW(NULL, TRUE, FALSE, NULL);
  thread = CreateThread(NULL, 0, ReadRelay, NULL, 0, NULL);
}

void StopRelayClient() {
  if (!thread) return;
  SetEvent(stopped);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  thread = NULL;
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  output = INVALID_HANDLE_VALUE;
}

void TimerKilled() {
  if (released) SetEvent(released);
}

}  // namespace coredll
