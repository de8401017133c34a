// The library entry, initialisation and de-initialisation of the relay and
// tap instances, their linking, and the power entry points.
#include <windows.h>
#include <pkfuncs.h>
#include <string.h>

#include <array>

#include "DriverExports.h"
#include "PortContext.h"
#include "SourcePort.h"

// Set by the relay instance's initialisation from the relay key; read by its
// opens. Shared by every instance of the loaded library.
DWORD srcIndex;
DWORD monIndex;

namespace {

const WCHAR DRIVER_FILE[] = TEXT("Ravelink.Dll");
const WCHAR DEVICE_PREFIX[] = TEXT("COM");
const WCHAR RELAY_KEY[] = TEXT("Drivers\\BuiltIn\\Ravelink");
const WCHAR TAP_KEY[] = TEXT("Drivers\\BuiltIn\\RavelinkMon");

// ClientInfo is 32 bits and a record's address may be wider, so a relay is
// named to its tap by its place in this table plus one, checked on use.
// Guarded by the link lock.
std::array<PortContext*, 8> liveRelays{};

BOOL QueryNumber(HKEY key, LPCWSTR name, DWORD* value) {
  DWORD type = 0;
  DWORD size = sizeof(DWORD);
  DWORD number = 0;
  if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(DWORD)) {
    return FALSE;
  }
  *value = number;
  return TRUE;
}

void SetText(HKEY key, LPCWSTR name, LPCWSTR text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
}

// Releases a record and what it owns; FALSE when a release failed.
BOOL ReleaseRecord(PortContext* record) {
  SourcePort::Destroy(record->sourcePort);
  record->sourcePort = NULL;
  BOOL ok = TRUE;
  if (record->activeKeyPath && LocalFree(record->activeKeyPath) != NULL) ok = FALSE;
  record->activeKeyPath = NULL;
  if (ok && !TapRelease(record)) ok = FALSE;
  if (!ok) return FALSE;
  DeleteCriticalSection(&record->stateLock);
  return LocalFree(record) == NULL;
}

// A tap record freed while no relay links to it any more. Link lock held.
void DropReleasedTap(PortContext* tap) {
  tap->linked = FALSE;
  if (tap->released) {
    DeleteCriticalSection(&tap->stateLock);
    LocalFree(tap);
  }
}

// Link lock held.
BOOL RegisterRelay(PortContext* relay, DWORD* clientInfo) {
  for (size_t i = 0; i < liveRelays.size(); ++i) {
    if (!liveRelays[i]) {
      liveRelays[i] = relay;
      *clientInfo = static_cast<DWORD>(i + 1);
      return TRUE;
    }
  }
  return FALSE;
}

// Link lock held.
void UnregisterRelay(PortContext* relay) {
  for (auto& slot : liveRelays) {
    if (slot == relay) slot = NULL;
  }
}

// Tap instance: links the new record into the relay that ClientInfo names.
// Link lock held.
BOOL LinkTap(DWORD clientInfo, PortContext* tap) {
  if (clientInfo == 0 || clientInfo > liveRelays.size() || !liveRelays[clientInfo - 1]) return FALSE;
  PortContext* relay = liveRelays[clientInfo - 1];
  if (relay->tapLink) DropReleasedTap(relay->tapLink);  // a second tap replaces the first
  relay->tapLink = tap;
  tap->linked = TRUE;
  return TRUE;
}

// A zeroed record holding its own copy of the active key's path; NULL when
// memory ran out.
PortContext* NewRecord(LPCWSTR activeKey) {
  PortContext* record = static_cast<PortContext*>(LocalAlloc(LPTR, sizeof(PortContext)));
  if (!record) return NULL;
  InitializeCriticalSection(&record->stateLock);
  const size_t pathBytes = (wcslen(activeKey) + 1) * sizeof(WCHAR);
  record->activeKeyPath = static_cast<LPWSTR>(LocalAlloc(LPTR, pathBytes));
  if (!record->activeKeyPath) {
    ReleaseRecord(record);
    return NULL;
  }
  wcscpy(record->activeKeyPath, activeKey);
  return record;
}

// Tap instance: nothing else is read, written or created. FALSE when
// ClientInfo names no live relay.
BOOL StartTap(PortContext* record, DWORD clientInfo) {
  SectionLock lock(LinkLock());
  return LinkTap(clientInfo, record);
}

// Writes the tap's key afresh and activates the tap, naming this relay to it
// by tapClientInfo. A failure leaves the relay without a tap, which it
// survives.
void ActivateTapOf(DWORD tapClientInfo) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, TAP_KEY, 0, NULL, 0, 0, NULL, &key, NULL) == ERROR_SUCCESS) {
    SetText(key, TEXT("Dll"), DRIVER_FILE);
    SetText(key, TEXT("Prefix"), DEVICE_PREFIX);
    RegSetValueExW(key, TEXT("Index"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&monIndex), sizeof(DWORD));
    RegCloseKey(key);
  }
  // The tap's initialisation links itself into the relay's record before the
  // call returns. The device handle is not kept: nothing deactivates the tap.
  ActivateDevice(TAP_KEY, tapClientInfo);
}

// Relay instance: its source port, the port indexes from the relay key, its
// place among the live relays, and its tap.
BOOL StartRelay(PortContext* record) {
  record->sourcePort = SourcePort::Create();
  if (!record->sourcePort) return FALSE;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RELAY_KEY, 0, 0, &key) != ERROR_SUCCESS) return FALSE;
  const BOOL indexes = QueryNumber(key, TEXT("srcIndex"), &srcIndex) && QueryNumber(key, TEXT("monIndex"), &monIndex);
  RegCloseKey(key);
  if (!indexes) return FALSE;

  DWORD tapClientInfo = 0;
  {
    SectionLock lock(LinkLock());
    if (!RegisterRelay(record, &tapClientInfo)) return FALSE;
  }
  ActivateTapOf(tapClientInfo);
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HANDLE hinstDLL, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    // The library is built without a C runtime start-up that would run
    // constructors, so its one module-wide object is made here, before the
    // device manager can call any entry point.
    InitializeCriticalSection(&LinkLock());
    // Looked up by name: not every core library exports it.
    typedef BOOL(WINAPI* DisableProc)(HMODULE);
    const HMODULE core = GetModuleHandleW(TEXT("coredll"));
    const FARPROC proc = core ? GetProcAddressW(core, TEXT("DisableThreadLibraryCalls")) : NULL;
    if (proc) reinterpret_cast<DisableProc>(reinterpret_cast<void (*)()>(proc))(static_cast<HMODULE>(hinstDLL));
  } else if (dwReason == DLL_PROCESS_DETACH) {
    DeleteCriticalSection(&LinkLock());
  }
  return TRUE;
}

DWORD_PTR COM_Init(DWORD_PTR dwContext) {
  const LPCWSTR activeKey = reinterpret_cast<LPCWSTR>(dwContext);
  if (!activeKey) return 0;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, activeKey, 0, 0, &key) != ERROR_SUCCESS) return 0;
  DWORD clientInfo = 0;
  const BOOL haveClient = QueryNumber(key, TEXT("ClientInfo"), &clientInfo);
  RegCloseKey(key);
  if (!haveClient) return 0;

  PortContext* record = NewRecord(activeKey);
  if (!record) return 0;
  const BOOL started = clientInfo != 0 ? StartTap(record, clientInfo) : StartRelay(record);
  if (!started) {
    ReleaseRecord(record);
    return 0;
  }
  return reinterpret_cast<DWORD_PTR>(record);
}

BOOL COM_Deinit(DWORD_PTR hDeviceContext) {
  PortContext* record = reinterpret_cast<PortContext*>(hDeviceContext);
  if (!record) return FALSE;
  SectionLock lock(LinkLock());
  if (record->sourcePort) {
    UnregisterRelay(record);
    if (record->tapLink) DropReleasedTap(record->tapLink);
    record->tapLink = NULL;
    SourcePort::Destroy(record->sourcePort);  // closes a held handle
    record->sourcePort = NULL;
  }
  if (LocalFree(record->activeKeyPath) != NULL) return FALSE;
  record->activeKeyPath = NULL;
  if (!TapRelease(record)) return FALSE;
  if (record->linked) {
    record->released = TRUE;  // its relay still links to it; freed when the relay lets go
    return TRUE;
  }
  return ReleaseRecord(record);
}

void COM_PowerUp(DWORD_PTR) {}

void COM_PowerDown(DWORD_PTR) {}

}  // extern "C"
