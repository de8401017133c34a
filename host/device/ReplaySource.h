// The "replay:FILE[@SPEED]" binding: the bytes of a capture at the line rate
// of 4800 baud (480 bytes a second), SPEED times faster, from the port's
// first open to the end of the file.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "PortSource.h"

namespace cehost {

class ReplaySource : public PortSource {
 public:
  static constexpr double kBytesPerSecond = 480.0;

  ReplaySource(std::string bytes, double speed);
  ~ReplaySource() override;

  bool Start(PortReceiver& receiver) override;
  void Stop() override;
  // A capture hears nothing: what a client writes goes nowhere.
  BOOL Transmit(const BYTE*, DWORD) override { return TRUE; }

 private:
  void Run(PortReceiver& receiver);

  const std::string bytes_;
  const double speed_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace cehost
