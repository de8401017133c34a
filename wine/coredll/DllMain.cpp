// The core library's start and end in a program: its trace, the relay's
// client, and at the program's end the process-exit notice to the drivers
// it still holds open.
#include <windows.h>

#include "DeviceManager.h"
#include "RelayClient.h"
#include "WindowTrace.h"

namespace {

// Before the process's end, while the drivers are still attached: the
// runtime's exit runs this before any library is detached, and a driver
// detached first (as the loader detaches the libraries loaded last first)
// could no longer take the notice.
int AtExit() {
  coredll::StopRelayClient();
  coredll::ProcessExiting();
  return 0;
}

// The C runtime's own table of what exit() runs, which the program's end
// shares; a library's atexit would run only at its detach.
void RunAtExit() {
  typedef int (*Handler)();
  typedef Handler (*OnExit)(Handler);
  const HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
  const FARPROC found = runtime ? GetProcAddress(runtime, "_onexit") : NULL;
  const auto onExit = reinterpret_cast<OnExit>(reinterpret_cast<void (*)()>(found));
  if (onExit) onExit(AtExit);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    coredll::OpenTrace();
    RunAtExit();
    coredll::StartRelayClient();
  }
  return TRUE;
}
