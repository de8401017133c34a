// What lies behind one of the device's real serial ports: a GPS receiver,
// simulated, replayed from a capture, or a real one on a host tty.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "cehost/Device.h"

namespace cehost {

// Where a source delivers the bytes the port receives.
class PortReceiver {
 public:
  virtual ~PortReceiver() = default;
  virtual void Receive(const BYTE* data, size_t size) = 0;
};

class PortSource {
 public:
  virtual ~PortSource() = default;
  // Starts delivering bytes; called once, at the port's first open.
  virtual bool Start(PortReceiver& receiver) = 0;
  // Ends delivering; called once, when the device shuts down.
  virtual void Stop() = 0;
  // Bytes a client writes. Nothing reaches a receiver unless a client writes.
  virtual BOOL Transmit(const BYTE* data, DWORD size) = 0;
  // The line settings of a DCB, for a source with a real line.
  virtual BOOL ApplyState(const DCB&) { return TRUE; }
  virtual BOOL SetControlLines(bool /*dtr*/, bool /*rts*/) { return TRUE; }
  virtual DWORD ModemStatus() { return MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON; }
  // An error the port must answer instead of doing its work (test ports).
  using Operation = TestPort::Operation;
  virtual DWORD Failure(Operation) { return ERROR_SUCCESS; }
  // A client opened the port, and began (once this source delivers to it)
  // or ended holding it open for data; under the port's lock: a source takes
  // no lock of its own that leads to the port.
  virtual void Opened(DWORD /*access*/, DWORD /*share*/) {}
  virtual void Held(bool /*held*/) {}
};

// Makes the source that a binding names (PortBinding.h). A capture that
// cannot be read or a tty that is not a serial device is refused with a
// message.
class DeviceClock;
struct PortBinding;
std::unique_ptr<PortSource> MakePortSource(const PortBinding& binding, DeviceClock& clock, std::string* error);
// The same from the binding's text.
std::unique_ptr<PortSource> MakePortSource(const std::string& binding, DeviceClock& clock, std::string* error);

}  // namespace cehost
