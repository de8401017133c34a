#include "PortContext.h"

#include <string.h>

namespace {

// Made and deleted by DllMain.
CRITICAL_SECTION linkLock;

}  // namespace

CRITICAL_SECTION& LinkLock() { return linkLock; }

BOOL IsRelay(PortContext* record) {
  SectionLock lock(LinkLock());
  return record->tapLink != NULL;
}

void TapAllocate(PortContext* tap) {
  SectionLock lock(tap->stateLock);
  if (tap->tapBuffer) LocalFree(tap->tapBuffer);  // bytes of an open that was never closed are lost
  tap->tapCount = 0;
  // Without a buffer the tap stays open: relay reads copy nothing and tap
  // reads deliver 0 bytes.
  tap->tapBuffer = static_cast<BYTE*>(LocalAlloc(LPTR, TAP_BUFFER_SIZE));
}

BOOL TapRelease(PortContext* tap) {
  SectionLock lock(tap->stateLock);
  BYTE* buffer = tap->tapBuffer;
  tap->tapBuffer = NULL;
  tap->tapCount = 0;
  return buffer == NULL || LocalFree(buffer) == NULL;
}

void TapAppend(PortContext* tap, const BYTE* data, DWORD count) {
  SectionLock lock(tap->stateLock);
  if (!tap->tapBuffer) return;
  DWORD take = count;
  if (tap->tapCount + take > TAP_BUFFER_SIZE) take = TAP_BUFFER_SIZE - tap->tapCount;
  memcpy(tap->tapBuffer + tap->tapCount, data, take);
  tap->tapCount += take;
}

DWORD TapDrain(PortContext* tap, BYTE* out, DWORD count) {
  SectionLock lock(tap->stateLock);
  const DWORD held = tap->tapCount;
  if (held == 0) return 0;
  const DWORD take = held < count ? held : count;
  memcpy(out, tap->tapBuffer, take);
  tap->tapCount = held - take;
  memmove(tap->tapBuffer, tap->tapBuffer + take, held - take);
  return take;
}

DWORD TapCount(PortContext* tap) {
  SectionLock lock(tap->stateLock);
  return tap->tapCount;
}
