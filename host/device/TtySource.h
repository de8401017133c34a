// The "tty:DEVICE[@BAUD]" binding: a real receiver on a Linux serial device.
// The line is raw; a client's DCB sets its speed, data bits, parity and stop
// bits, and its escape functions the DTR and RTS lines. Opening the line
// never writes to it.
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
  bool Configure(const DCB& dcb);  // under mutex_

  const std::string device_;
  std::mutex mutex_;
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  DCB dcb_{};
  std::thread thread_;
};

// True when the baud rate is one the host's serial devices take.
bool SupportedBaud(DWORD baud);

}  // namespace cehost
