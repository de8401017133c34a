// The "test" binding: the program that booted the device plays the receiver.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>

#include "PortSource.h"

namespace cehost {

class TestSource : public PortSource, public TestPort {
 public:
  using Operation = TestPort::Operation;

  bool Start(PortReceiver& receiver) override;
  void Stop() override;
  BOOL Transmit(const BYTE* data, DWORD size) override;
  BOOL SetControlLines(bool dtr, bool rts) override;
  DWORD Failure(Operation operation) override;

  void Feed(const std::string& bytes) override;
  std::string Written() const override;
  void Fail(Operation operation, DWORD error) override;
  bool Dtr() const override;
  bool Rts() const override;
  void Opened(DWORD access, DWORD share) override;
  void Held(bool held) override;
  bool WaitHeld(bool held, int timeoutMs) override;
  DWORD LastAccess() const override;
  DWORD LastShare() const override;
  bool WaitRequests(Operation operation, unsigned long long count, int timeoutMs) override;

 private:
  mutable std::mutex mutex_;
  PortReceiver* receiver_ = nullptr;
  std::string written_;
  std::map<Operation, DWORD> failures_;
  std::map<Operation, unsigned long long> requests_;
  std::condition_variable requested_;
  bool dtr_ = false;
  bool rts_ = false;
  // The opens' own lock, apart from mutex_: Feed holds that one while it
  // calls into the port.
  mutable std::mutex openMutex_;
  std::condition_variable heldChanged_;
  bool held_ = false;
  DWORD lastAccess_ = kNeverOpened;
  DWORD lastShare_ = kNeverOpened;
};

}  // namespace cehost
