// The record of one driver instance, relay or tap, and the tap buffer that
// lives in the tap instance's record.
#pragma once

#include <windows.h>

class SourcePort;

constexpr DWORD TAP_BUFFER_SIZE = 1200;

struct PortContext {
  // Relay instance: the tap instance's record; tap instance: empty. The
  // stream entry points tell the two kinds apart by this field; COM_Deinit
  // by sourcePort, which a relay holds from its Init to its Deinit.
  PortContext* tapLink;
  LPWSTR activeKeyPath;
  SourcePort* sourcePort;  // relay instance only
  BYTE* tapBuffer;         // tap instance only, from open to close
  DWORD tapCount;
  DWORD accessCode;
  DWORD shareMode;
  HANDLE openEvent;

  // Guards accessCode, shareMode, openEvent and, in a tap record, tapBuffer
  // and tapCount: every append, drain, count, allocation and release of the
  // tap buffer holds the tap record's lock for its whole step.
  CRITICAL_SECTION stateLock;
  // A tap record that a relay links to outlives its own de-initialisation
  // until the relay lets go of it, so the link never dangles.
  BOOL linked;
  BOOL released;
};

// RAII for a critical section.
class SectionLock {
 public:
  explicit SectionLock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
  ~SectionLock() { LeaveCriticalSection(&m_section); }
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

 private:
  CRITICAL_SECTION& m_section;
};

// The module-wide lock over every relay's tapLink and the table of live
// relay records, from the library's load to its unload. Order: the link
// lock before a record's stateLock.
CRITICAL_SECTION& LinkLock();

// Relay or tap, read under the link lock.
BOOL IsRelay(PortContext* record);

// Tap buffer steps, each under the tap record's stateLock.
// A new empty buffer (an earlier one is released first).
void TapAllocate(PortContext* tap);
// Releases the buffer; FALSE when the release failed.
BOOL TapRelease(PortContext* tap);
// Appends what fits of data; the rest is dropped for the tap.
void TapAppend(PortContext* tap, const BYTE* data, DWORD count);
// Moves up to count of the oldest bytes to out; answers how many.
DWORD TapDrain(PortContext* tap, BYTE* out, DWORD count);
DWORD TapCount(PortContext* tap);
