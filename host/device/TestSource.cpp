#include "TestSource.h"

#include <chrono>

namespace cehost {

bool TestSource::Start(PortReceiver& receiver) {
  std::lock_guard<std::mutex> lock(mutex_);
  receiver_ = &receiver;
  return true;
}

void TestSource::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  receiver_ = nullptr;
}

BOOL TestSource::Transmit(const BYTE* data, DWORD size) {
  std::lock_guard<std::mutex> lock(mutex_);
  written_.append(reinterpret_cast<const char*>(data), size);
  return TRUE;
}

BOOL TestSource::SetControlLines(bool dtr, bool rts) {
  std::lock_guard<std::mutex> lock(mutex_);
  dtr_ = dtr;
  rts_ = rts;
  return TRUE;
}

// Asked once at each request.
DWORD TestSource::Failure(Operation operation) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[operation];
  requested_.notify_all();
  auto it = failures_.find(operation);
  return it == failures_.end() ? ERROR_SUCCESS : it->second;
}

void TestSource::Feed(const std::string& bytes) {
  // The receiver's lock is held while delivering, so a Stop never races a Feed.
  std::lock_guard<std::mutex> lock(mutex_);
  if (receiver_) receiver_->Receive(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
}

std::string TestSource::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

void TestSource::Fail(Operation operation, DWORD error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (error == ERROR_SUCCESS) {
    failures_.erase(operation);
  } else {
    failures_[operation] = error;
  }
}

bool TestSource::Dtr() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dtr_;
}

bool TestSource::Rts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rts_;
}

void TestSource::Opened(DWORD access, DWORD share) {
  std::lock_guard<std::mutex> lock(openMutex_);
  lastAccess_ = access;
  lastShare_ = share;
}

DWORD TestSource::LastAccess() const {
  std::lock_guard<std::mutex> lock(openMutex_);
  return lastAccess_;
}

DWORD TestSource::LastShare() const {
  std::lock_guard<std::mutex> lock(openMutex_);
  return lastShare_;
}

void TestSource::Held(bool held) {
  std::lock_guard<std::mutex> lock(openMutex_);
  held_ = held;
  heldChanged_.notify_all();
}

bool TestSource::WaitHeld(bool held, int timeoutMs) {
  std::unique_lock<std::mutex> lock(openMutex_);
  return heldChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return held_ == held; });
}

bool TestSource::WaitRequests(Operation operation, unsigned long long count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return requested_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_[operation] >= count; });
}

}  // namespace cehost
