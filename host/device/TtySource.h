// The "tty:DEVICE[@BAUD]" binding: a real receiver on a Linux serial device.
// The line is raw; a client's DCB sets its speed, data bits, parity and stop
// bits, and its escape functions the DTR and RTS lines. Opening the line
// never writes to it. A line that hangs up is opened again at the same path
// when it comes back, with the settings it had.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "PortSource.h"

namespace cehost {

class TtySource : public PortSource {
 public:
  TtySource(std::string device, DWORD baud);
  ~TtySource() override;

  bool Start(PortReceiver& receiver) override;
  void Stop() override;
  BOOL Transmit(const BYTE* data, DWORD size) override;
  BOOL ApplyState(const DCB& dcb) override;
  BOOL SetControlLines(bool dtr, bool rts) override;
  DWORD ModemStatus() override;

 private:
  void Run(PortReceiver& receiver);
  bool Pump(PortReceiver& receiver, bool* down);
  bool WaitForLine();
  bool OpenLine();                          // under mutex_
  bool Configure(const DCB& dcb);           // under mutex_, the line open
  bool SetLines(bool dtr, bool rts);        // under mutex_, the line open

  const std::string device_;
  std::mutex mutex_;
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  DCB dcb_{};
  bool linesSet_ = false;  // DTR and RTS as a client last set them, once it has
  bool dtr_ = false;
  bool rts_ = false;
  std::thread thread_;
};

// True when the baud rate is one the host's serial devices take.
bool SupportedBaud(DWORD baud);

}  // namespace cehost
