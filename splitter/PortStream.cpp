// Open, close, read, write and seek of both instances: the relay passes
// through to the real port and copies what its clients read into the tap
// buffer; the tap hands those bytes out, oldest first, each once.
#include <windows.h>
#include <stdio.h>

#include "DriverExports.h"
#include "PortContext.h"
#include "SourcePort.h"

namespace {

constexpr DWORD FAILED_TRANSFER = 0xFFFFFFFFu;

// The real port's name: "COM%d:" in room for 8 wide characters. An index
// that does not fit is refused rather than opened under a cut-off name.
BOOL RealPortName(WCHAR (&name)[8]) {
  const int length = _snwprintf(name, 8, TEXT("COM%d:"), static_cast<int>(srcIndex));
  return length >= 0 && length < 8;
}

}  // namespace

extern "C" {

DWORD_PTR COM_Open(DWORD_PTR hDeviceContext, DWORD AccessCode, DWORD ShareMode) {
  PortContext* record = reinterpret_cast<PortContext*>(hDeviceContext);
  if (!record) return 0;
  {
    SectionLock lock(record->stateLock);
    record->accessCode = AccessCode;
    record->shareMode = ShareMode;
    if (record->openEvent) CloseHandle(record->openEvent);  // an earlier open that was never closed
    record->openEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
  }
  if (IsRelay(record)) {
    // The relay opens even when the real port does not; its reads then deliver 0 bytes.
    WCHAR name[8];
    if (RealPortName(name)) {
      record->sourcePort->Open(name, AccessCode, ShareMode);
    } else {
      record->sourcePort->Close();
    }
  } else {
    TapAllocate(record);
  }
  return hDeviceContext;
}

BOOL COM_Close(DWORD_PTR hOpenContext) {
  PortContext* record = reinterpret_cast<PortContext*>(hOpenContext);
  if (!record) return FALSE;
  if (IsRelay(record)) {
    record->sourcePort->Close();
  } else {
    TapRelease(record);
  }
  SectionLock lock(record->stateLock);
  if (record->openEvent) CloseHandle(record->openEvent);
  record->openEvent = NULL;
  return TRUE;
}

DWORD COM_Read(DWORD_PTR hOpenContext, LPVOID pBuffer, DWORD Count) {
  PortContext* record = reinterpret_cast<PortContext*>(hOpenContext);
  if (!record) return FAILED_TRANSFER;
  {
    SectionLock lock(record->stateLock);
    if (!(record->accessCode & GENERIC_READ)) {
      SetLastError(ERROR_INVALID_ACCESS);
      return FAILED_TRANSFER;
    }
  }
  if (!pBuffer && Count > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FAILED_TRANSFER;
  }
  if (!IsRelay(record)) return TapDrain(record, static_cast<BYTE*>(pBuffer), Count);

  // The real port's read may block as long as its time-outs allow: no lock is held.
  const DWORD read = record->sourcePort->Read(pBuffer, Count);
  if (read > 0) {
    SectionLock lock(LinkLock());
    if (record->tapLink) TapAppend(record->tapLink, static_cast<const BYTE*>(pBuffer), read);
  }
  return read;
}

DWORD COM_Write(DWORD_PTR hOpenContext, LPCVOID pBuffer, DWORD Count) {
  PortContext* record = reinterpret_cast<PortContext*>(hOpenContext);
  if (!record) return FAILED_TRANSFER;
  if (!pBuffer) return 0;
  if (IsRelay(record)) return record->sourcePort->Write(pBuffer, Count);
  // The tap stores nothing: it answers the length of the text written, up
  // to its first zero byte, and never looks past Count bytes.
  const BYTE* bytes = static_cast<const BYTE*>(pBuffer);
  DWORD length = 0;
  while (length < Count && bytes[length] != 0) ++length;
  return length;
}

DWORD COM_Seek(DWORD_PTR, LONG, DWORD) { return FAILED_TRANSFER; }

}  // extern "C"
