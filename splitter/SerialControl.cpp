// Device control requests. The relay forwards each standard serial request
// to the real port as the matching serial call, after checking the caller's
// buffers itself; the tap answers most with success and nothing else, and
// the status request with the number of bytes its buffer holds.
#include <windows.h>
#include <pegdser.h>
#include <pkfuncs.h>
#include <string.h>

#include "DriverExports.h"
#include "PortContext.h"
#include "SourcePort.h"

// The buffer rules below are the sizes of the device's 32-bit records; a
// header that laid one out otherwise would change what a caller must pass.
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes on the device");
static_assert(sizeof(COMMPROP) == 64, "COMMPROP is 64 bytes on the device");
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS is 20 bytes on the device");
static_assert(sizeof(COMSTAT) == 12, "COMSTAT is 12 bytes on the device");
static_assert(sizeof(SERIAL_DEV_STATUS) == 16, "SERIAL_DEV_STATUS is 16 bytes on the device");
static_assert(sizeof(SERIAL_QUEUE_SIZES) == 8, "SERIAL_QUEUE_SIZES is 8 bytes on the device");
static_assert(sizeof(DEVICE_PSL_NOTIFY) == 16, "DEVICE_PSL_NOTIFY is 16 bytes on the device");

namespace {

constexpr DWORD kSerialMask = 0xFFFFC003u;
constexpr DWORD kSerialBase = 0x001B0000u;  // FILE_DEVICE_SERIAL_PORT, METHOD_BUFFERED, FILE_ANY_ACCESS
constexpr DWORD kFunctionCount = 23;
constexpr DWORD kEofFlag = 0x20;  // fEof in the COMSTAT flags word

// What a request needs: its escape function, or the buffer it reads or
// writes, and whether the tap answers it at once.
struct Request {
  DWORD escape;  // EscapeCommFunction code, 0 for none
  DWORD inSize;  // input rule I >= n, 0 for none
  DWORD outSize; // output rule O >= n, 0 for none
  bool tapAtOnce;
};

// Indexed by function - 1.
constexpr Request kRequests[kFunctionCount] = {
    {SETBREAK, 0, 0, true},                    // 1 SET_BREAK_ON
    {CLRBREAK, 0, 0, true},                    // 2 SET_BREAK_OFF
    {SETDTR, 0, 0, true},                      // 3 SET_DTR
    {CLRDTR, 0, 0, true},                      // 4 CLR_DTR
    {SETRTS, 0, 0, true},                      // 5 SET_RTS
    {CLRRTS, 0, 0, true},                      // 6 CLR_RTS
    {SETXOFF, 0, 0, true},                     // 7 SET_XOFF
    {SETXON, 0, 0, true},                      // 8 SET_XON
    {0, 0, sizeof(DWORD), false},              // 9 GET_WAIT_MASK
    {0, sizeof(DWORD), 0, true},               // 10 SET_WAIT_MASK
    {0, 0, sizeof(DWORD), true},               // 11 WAIT_ON_MASK
    {0, 0, sizeof(SERIAL_DEV_STATUS), false},  // 12 GET_COMMSTATUS
    {0, 0, sizeof(DWORD), false},              // 13 GET_MODEMSTATUS
    {0, 0, sizeof(COMMPROP), false},           // 14 GET_PROPERTIES
    {0, sizeof(COMMTIMEOUTS), 0, true},        // 15 SET_TIMEOUTS
    {0, 0, sizeof(COMMTIMEOUTS), true},        // 16 GET_TIMEOUTS
    {0, sizeof(DWORD), 0, true},               // 17 PURGE
    {0, sizeof(SERIAL_QUEUE_SIZES), 0, true},  // 18 SET_QUEUE_SIZE
    {0, 1, 0, true},                           // 19 IMMEDIATE_CHAR
    {0, 0, sizeof(DCB), false},                // 20 GET_DCB
    {0, sizeof(DCB), 0, true},                 // 21 SET_DCB
    {SETIR, 0, 0, true},                       // 22 ENABLE_IR
    {CLRIR, 0, 0, true},                       // 23 DISABLE_IR
};

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

DWORD ReadNumber(const BYTE* in) {
  DWORD value;
  memcpy(&value, in, sizeof value);
  return value;
}

// The tap has no real port. For the four queries that look at one it
// describes an idle port at the NMEA 0183 line rate: no events in its mask,
// no modem lines, a serial provider with the tap buffer as input queue, and
// 4800 baud 8N1. The logger never sends them.
void TapQuery(DWORD function, BYTE* out) {
  switch (function) {
    case 9:
    case 13: {
      const DWORD none = 0;
      memcpy(out, &none, sizeof none);
      break;
    }
    case 14: {
      COMMPROP prop{};
      prop.wPacketLength = sizeof(COMMPROP);
      prop.wPacketVersion = 2;
      prop.dwServiceMask = SP_SERIALCOMM;
      prop.dwMaxRxQueue = kTapBufferSize;
      prop.dwProvSubType = PST_RS232;
      prop.dwCurrentRxQueue = kTapBufferSize;
      memcpy(out, &prop, sizeof prop);
      break;
    }
    case 20: {
      DCB dcb{};
      dcb.DCBlength = sizeof(DCB);
      dcb.BaudRate = CBR_4800;
      dcb.fBinary = 1;
      dcb.ByteSize = 8;
      dcb.Parity = NOPARITY;
      dcb.StopBits = ONESTOPBIT;
      memcpy(out, &dcb, sizeof dcb);
      break;
    }
  }
}

// The tap's status: the caller's Errors word and flag bits stay, fEof is
// cleared, and the bytes waiting are the tap buffer's count.
void TapStatus(PortContext* tap, BYTE* out) {
  SERIAL_DEV_STATUS status;
  memcpy(&status, out, sizeof status);
  DWORD flags;
  memcpy(&flags, &status.ComStat, sizeof flags);
  flags &= ~kEofFlag;
  memcpy(&status.ComStat, &flags, sizeof flags);
  status.ComStat.cbInQue = TapCount(tap);
  status.ComStat.cbOutQue = 0;
  memcpy(out, &status, sizeof status);
}

// A forwarded query on a record that goes to out only when the call succeeds.
// The record starts as the caller passed it, as the call would see it.
template <typename Record>
BOOL Query(SourcePort& port, BOOL (SourcePort::*call)(Record*), BYTE* out) {
  Record record;
  memcpy(&record, out, sizeof record);
  const BOOL ok = (port.*call)(&record);
  if (ok) memcpy(out, &record, sizeof record);
  return ok;
}

BOOL RelayQuery(PortContext* relay, DWORD function, BYTE* out) {
  SourcePort& port = *relay->sourcePort;
  switch (function) {
    case 9:
      return Query<DWORD>(port, &SourcePort::GetCommMask, out);
    case 11: {
      HANDLE event;
      {
        SectionLock lock(relay->stateLock);
        event = relay->openEvent;
      }
      DWORD mask = 0;
      const BOOL ok = port.WaitCommEvent(&mask, event);
      if (ok) memcpy(out, &mask, sizeof mask);
      return ok;
    }
    case 12: {
      SERIAL_DEV_STATUS status;
      memcpy(&status, out, sizeof status);
      const BOOL ok = port.ClearCommError(&status.Errors, &status.ComStat);
      if (ok) memcpy(out, &status, sizeof status);
      return ok;
    }
    case 13:
      return Query<DWORD>(port, &SourcePort::GetCommModemStatus, out);
    case 14:
      return Query<COMMPROP>(port, &SourcePort::GetCommProperties, out);
    case 16:
      return Query<COMMTIMEOUTS>(port, &SourcePort::GetCommTimeouts, out);
    case 20:
      return Query<DCB>(port, &SourcePort::GetCommState, out);
  }
  return FALSE;
}

// The relay's forwarded command, with its input already checked.
BOOL RelayCommand(SourcePort& port, DWORD function, const BYTE* in) {
  switch (function) {
    case 10:
      return port.SetCommMask(ReadNumber(in));
    case 15: {
      COMMTIMEOUTS timeouts;
      memcpy(&timeouts, in, sizeof timeouts);
      return port.SetCommTimeouts(&timeouts);
    }
    case 17:
      return port.PurgeComm(ReadNumber(in));
    case 18: {
      SERIAL_QUEUE_SIZES sizes;
      memcpy(&sizes, in, sizeof sizes);
      return port.SetupComm(sizes.cbInQueue, sizes.cbOutQueue);
    }
    case 19:
      return port.TransmitCommChar(static_cast<char>(in[0]));
    case 21: {
      DCB dcb;
      memcpy(&dcb, in, sizeof dcb);
      return port.SetCommState(&dcb);
    }
  }
  return FALSE;
}

}  // namespace

extern "C" {

BOOL COM_IOControl(DWORD_PTR hOpenContext, DWORD dwCode, PBYTE pBufIn, DWORD dwLenIn, PBYTE pBufOut,
                   DWORD dwLenOut, PDWORD pdwActualOut) {
  PortContext* record = reinterpret_cast<PortContext*>(hOpenContext);
  if (!record) return FALSE;

  if (dwCode == IOCTL_PSL_NOTIFY) {
    // A notice without its record is answered like any other: TRUE, and
    // nothing is read from a buffer that is not there.
    if (pBufIn && dwLenIn == sizeof(DEVICE_PSL_NOTIFY)) {
      DEVICE_PSL_NOTIFY notify;
      memcpy(&notify, pBufIn, sizeof notify);
      if (notify.dwSize == sizeof(DEVICE_PSL_NOTIFY) && notify.dwFlags == DLL_PROCESS_EXITING &&
          IsRelay(record)) {
        record->sourcePort->Close();
      }
    }
    return TRUE;
  }
  if ((dwCode & kSerialMask) != kSerialBase) return FALSE;
  const DWORD function = (dwCode >> 2) & 0xFFF;
  if (function == 0 || function > kFunctionCount) return FALSE;

  const Request& request = kRequests[function - 1];
  const BOOL relay = IsRelay(record);
  if (!relay && request.tapAtOnce) return TRUE;

  if (request.inSize) {
    if (!pBufIn || dwLenIn < request.inSize) return InvalidParameter();
    if (function == 21 && ReadNumber(pBufIn) != sizeof(DCB)) return InvalidParameter();
  }
  if (request.outSize) {
    if (pdwActualOut) *pdwActualOut = 0;
    if (!pBufOut || !pdwActualOut || dwLenOut < request.outSize) return InvalidParameter();
  }

  if (!relay) {
    if (function == 12) {
      TapStatus(record, pBufOut);
    } else {
      TapQuery(function, pBufOut);
    }
    *pdwActualOut = request.outSize;
    return TRUE;
  }

  SourcePort& port = *record->sourcePort;
  if (request.escape) return port.EscapeCommFunction(request.escape);
  if (!request.outSize) return RelayCommand(port, function, pBufIn);
  const BOOL ok = RelayQuery(record, function, pBufOut);
  // GET_TIMEOUTS reports its size also when the real port's call fails.
  if (ok || function == 16) *pdwActualOut = request.outSize;
  return ok;
}

}  // extern "C"
