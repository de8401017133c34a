// Device control requests. The relay forwards each standard serial request
// to the real port as the matching serial call, after checking the caller's
// buffers itself; the tap takes most with success and nothing else, answers
// the queries that look at a port as an idle one, and the status request with
// the number of bytes its buffer holds. Beside each request is its buffer
// rule: I >= n, the input buffer holds at least n bytes; O >= n, the output
// buffer has room for n bytes, and the count written is reported.
#include <windows.h>
#include <pegdser.h>
#include <pkfuncs.h>
#include <string.h>

#include "DriverExports.h"
#include "PortContext.h"
#include "SourcePort.h"

// The buffer rules below are the sizes of the device's 32-bit records; a
// header that laid one out otherwise would change what a caller must pass.
// device-check/PlatformValues.cpp holds both builds' headers to them.

namespace {

constexpr DWORD EOF_FLAG = 0x20;  // fEof in the COMSTAT flags word

// The process-exit notice as the device manager sends it: dwSize, dwFlags,
// the process and the thread, 32 bits each.
constexpr DWORD PSL_NOTIFY_SIZE = 16;
static_assert(sizeof(DEVICE_PSL_NOTIFY) == PSL_NOTIFY_SIZE, "DEVICE_PSL_NOTIFY");

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

DWORD ReadNumber(const BYTE* in) {
  DWORD value;
  memcpy(&value, in, sizeof value);
  return value;
}

// One request's buffers, as the caller passed them.
struct Buffers {
  const BYTE* in;
  DWORD inSize;
  BYTE* out;
  DWORD outSize;
  DWORD* actualOut;

  // I >= size.
  bool In(DWORD size) const { return in && inSize >= size; }
  // O >= size. Nothing is reported written until the request succeeds.
  bool Out(DWORD size) const {
    if (actualOut) *actualOut = 0;
    return out && actualOut && outSize >= size;
  }
  // The answer of a query, written to a checked output buffer.
  template <typename Record>
  BOOL Answer(const Record& record) const {
    memcpy(out, &record, sizeof record);
    *actualOut = sizeof record;
    return TRUE;
  }
};

// An escape function: forwarded by the relay; the tap takes it and does nothing.
BOOL Escape(BOOL relay, SourcePort* port, DWORD function) {
  return relay ? port->EscapeCommFunction(function) : TRUE;
}

// A forwarded query on a record that goes to out only when the call succeeds.
// The record starts as the caller passed it, as the call would see it.
template <typename Record>
BOOL Query(SourcePort& port, BOOL (SourcePort::*call)(Record*), const Buffers& io) {
  Record record;
  memcpy(&record, io.out, sizeof record);
  const BOOL ok = (port.*call)(&record);
  if (ok) io.Answer(record);
  return ok;
}

// The tap has no real port. For the four queries that look at one it
// describes an idle port at the NMEA 0183 line rate: no events in its mask,
// no modem lines, a serial provider with the tap buffer as input queue, and
// 4800 baud 8N1. The logger never sends them.
COMMPROP TapProperties() {
  COMMPROP prop{};
  prop.wPacketLength = sizeof(COMMPROP);
  prop.wPacketVersion = 2;
  prop.dwServiceMask = SP_SERIALCOMM;
  prop.dwMaxRxQueue = TAP_BUFFER_SIZE;
  prop.dwProvSubType = PST_RS232;
  prop.dwCurrentRxQueue = TAP_BUFFER_SIZE;
  return prop;
}

DCB TapState() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = CBR_4800;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
}

// The tap's status: the caller's Errors word and flag bits stay, fEof is
// cleared, and the bytes waiting are the tap buffer's count.
SERIAL_DEV_STATUS TapStatus(PortContext* tap, const BYTE* out) {
  SERIAL_DEV_STATUS status;
  memcpy(&status, out, sizeof status);
  DWORD flags;
  memcpy(&flags, &status.ComStat, sizeof flags);
  flags &= ~EOF_FLAG;
  memcpy(&status.ComStat, &flags, sizeof flags);
  status.ComStat.cbInQue = TapCount(tap);
  status.ComStat.cbOutQue = 0;
  return status;
}

// A process notice that its sender is exiting. A notice without its record
// is answered like any other, and nothing is read from a buffer that is not
// there.
bool ProcessExiting(const Buffers& io) {
  if (!io.in || io.inSize != PSL_NOTIFY_SIZE) return false;
  DEVICE_PSL_NOTIFY notify;
  memcpy(&notify, io.in, sizeof notify);
  return notify.dwSize == PSL_NOTIFY_SIZE && notify.dwFlags == DLL_PROCESS_EXITING;
}

// The relay's status: ClearCommError's two results in the caller's record.
BOOL RelayStatus(SourcePort& port, const Buffers& io) {
  SERIAL_DEV_STATUS status;
  memcpy(&status, io.out, sizeof status);
  const BOOL ok = port.ClearCommError(&status.Errors, &status.ComStat);
  if (ok) io.Answer(status);
  return ok;
}

// The relay waits on the real port with the event of its open instance.
BOOL RelayWait(PortContext* relay, const Buffers& io) {
  HANDLE event;
  {
    SectionLock lock(relay->stateLock);
    event = relay->openEvent;
  }
  DWORD mask = 0;
  const BOOL ok = relay->sourcePort->WaitCommEvent(&mask, event);
  if (ok) io.Answer(mask);
  return ok;
}

}  // namespace

extern "C" {

BOOL COM_IOControl(DWORD_PTR hOpenContext, DWORD dwCode, PBYTE pBufIn, DWORD dwLenIn, PBYTE pBufOut,
                   DWORD dwLenOut, PDWORD pdwActualOut) {
  PortContext* record = reinterpret_cast<PortContext*>(hOpenContext);
  if (!record) return FALSE;
  const BOOL relay = IsRelay(record);
  SourcePort* port = record->sourcePort;  // relay only
  const Buffers io{pBufIn, dwLenIn, pBufOut, dwLenOut, pdwActualOut};

  switch (dwCode) {
    case IOCTL_PSL_NOTIFY:  // I == 16 bytes, else taken and ignored
      if (relay && ProcessExiting(io)) port->Close();
      return TRUE;

    // Escape functions, no buffers.
    case IOCTL_SERIAL_SET_BREAK_ON: return Escape(relay, port, SETBREAK);
    case IOCTL_SERIAL_SET_BREAK_OFF: return Escape(relay, port, CLRBREAK);
    case IOCTL_SERIAL_SET_DTR: return Escape(relay, port, SETDTR);
    case IOCTL_SERIAL_CLR_DTR: return Escape(relay, port, CLRDTR);
    case IOCTL_SERIAL_SET_RTS: return Escape(relay, port, SETRTS);
    case IOCTL_SERIAL_CLR_RTS: return Escape(relay, port, CLRRTS);
    case IOCTL_SERIAL_SET_XOFF: return Escape(relay, port, SETXOFF);
    case IOCTL_SERIAL_SET_XON: return Escape(relay, port, SETXON);
    case IOCTL_SERIAL_ENABLE_IR: return Escape(relay, port, SETIR);
    case IOCTL_SERIAL_DISABLE_IR: return Escape(relay, port, CLRIR);

    // Commands: forwarded by the relay; the tap takes them, buffers unchecked, and does nothing.
    case IOCTL_SERIAL_SET_WAIT_MASK:  // I >= 4
      if (!relay) return TRUE;
      if (!io.In(sizeof(DWORD))) return InvalidParameter();
      return port->SetCommMask(ReadNumber(pBufIn));
    case IOCTL_SERIAL_SET_TIMEOUTS: {  // I >= sizeof(COMMTIMEOUTS)
      if (!relay) return TRUE;
      if (!io.In(sizeof(COMMTIMEOUTS))) return InvalidParameter();
      COMMTIMEOUTS timeouts;
      memcpy(&timeouts, pBufIn, sizeof timeouts);
      return port->SetCommTimeouts(&timeouts);
    }
    case IOCTL_SERIAL_PURGE:  // I >= 4
      if (!relay) return TRUE;
      if (!io.In(sizeof(DWORD))) return InvalidParameter();
      return port->PurgeComm(ReadNumber(pBufIn));
    case IOCTL_SERIAL_SET_QUEUE_SIZE: {  // I >= sizeof(SERIAL_QUEUE_SIZES)
      if (!relay) return TRUE;
      if (!io.In(sizeof(SERIAL_QUEUE_SIZES))) return InvalidParameter();
      SERIAL_QUEUE_SIZES sizes;
      memcpy(&sizes, pBufIn, sizeof sizes);
      return port->SetupComm(sizes.cbInQueue, sizes.cbOutQueue);
    }
    case IOCTL_SERIAL_IMMEDIATE_CHAR:  // I >= 1
      if (!relay) return TRUE;
      if (!io.In(1)) return InvalidParameter();
      return port->TransmitCommChar(static_cast<char>(pBufIn[0]));
    case IOCTL_SERIAL_SET_DCB: {  // I >= sizeof(DCB), and its DCBlength says so
      if (!relay) return TRUE;
      if (!io.In(sizeof(DCB)) || ReadNumber(pBufIn) != sizeof(DCB)) return InvalidParameter();
      DCB dcb;
      memcpy(&dcb, pBufIn, sizeof dcb);
      return port->SetCommState(&dcb);
    }

    // Queries: forwarded by the relay; answered by the tap from itself.
    case IOCTL_SERIAL_GET_WAIT_MASK:  // O >= 4
      if (!io.Out(sizeof(DWORD))) return InvalidParameter();
      return relay ? Query<DWORD>(*port, &SourcePort::GetCommMask, io) : io.Answer(DWORD{0});
    case IOCTL_SERIAL_GET_MODEMSTATUS:  // O >= 4
      if (!io.Out(sizeof(DWORD))) return InvalidParameter();
      return relay ? Query<DWORD>(*port, &SourcePort::GetCommModemStatus, io) : io.Answer(DWORD{0});
    case IOCTL_SERIAL_GET_COMMSTATUS:  // O >= sizeof(SERIAL_DEV_STATUS)
      if (!io.Out(sizeof(SERIAL_DEV_STATUS))) return InvalidParameter();
      return relay ? RelayStatus(*port, io) : io.Answer(TapStatus(record, pBufOut));
    case IOCTL_SERIAL_GET_PROPERTIES:  // O >= sizeof(COMMPROP)
      if (!io.Out(sizeof(COMMPROP))) return InvalidParameter();
      return relay ? Query<COMMPROP>(*port, &SourcePort::GetCommProperties, io) : io.Answer(TapProperties());
    case IOCTL_SERIAL_GET_DCB:  // O >= sizeof(DCB)
      if (!io.Out(sizeof(DCB))) return InvalidParameter();
      return relay ? Query<DCB>(*port, &SourcePort::GetCommState, io) : io.Answer(TapState());

    // Queries the tap takes, buffers unchecked, without an answer.
    case IOCTL_SERIAL_WAIT_ON_MASK:  // O >= 4
      if (!relay) return TRUE;
      if (!io.Out(sizeof(DWORD))) return InvalidParameter();
      return RelayWait(record, io);
    case IOCTL_SERIAL_GET_TIMEOUTS: {  // O >= sizeof(COMMTIMEOUTS)
      if (!relay) return TRUE;
      if (!io.Out(sizeof(COMMTIMEOUTS))) return InvalidParameter();
      const BOOL ok = Query<COMMTIMEOUTS>(*port, &SourcePort::GetCommTimeouts, io);
      // The size is reported also when the real port's call fails.
      *pdwActualOut = sizeof(COMMTIMEOUTS);
      return ok;
    }

    default:  // not a request of a serial port
      return FALSE;
  }
}

}  // extern "C"
