// The calls inside a device's driver, and the device's removal: a removal
// happens once, and waits until the last call inside has left. A call counts
// itself before it looks at the removal, and the removal is marked before it
// looks at the count; both are sequentially consistent, so one of them
// always sees the other, and a call goes in and out without a lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace ceplatform {

class DriverCalls {
 public:
  // False when the device is being removed: the call must not go in.
  bool Enter() {
    calls_.fetch_add(1);
    if (!removed_.load()) return true;
    Leave();
    return false;
  }
  void Leave() {
    if (calls_.fetch_sub(1) == 1 && removed_.load()) {
      // Under the removal's lock, so the wakeup cannot fall between its look
      // at the count and its wait.
      std::lock_guard<std::mutex> lock(mutex_);
      idle_.notify_all();
    }
  }
  // Claims the removal and waits until no call is inside; false at once when
  // another removal claimed it first. waiting, when given, counts the
  // threads that wait here.
  bool Remove(std::atomic<int>* waiting = nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (removed_.load()) return false;
    removed_ = true;
    if (waiting) ++*waiting;
    idle_.wait(lock, [&] { return calls_.load() == 0; });
    if (waiting) --*waiting;
    return true;
  }
  bool Removed() const { return removed_.load(); }
  int Inside() const { return calls_.load(); }

 private:
  std::atomic<int> calls_{0};
  std::atomic<bool> removed_{false};
  std::mutex mutex_;
  std::condition_variable idle_;
};

// One call into a driver, counted while it lasts.
class DriverCall {
 public:
  explicit DriverCall(DriverCalls& calls) : calls_(calls), entered_(calls.Enter()) {}
  ~DriverCall() {
    if (entered_) calls_.Leave();
  }
  DriverCall(const DriverCall&) = delete;
  DriverCall& operator=(const DriverCall&) = delete;
  bool Entered() const { return entered_; }

 private:
  DriverCalls& calls_;
  bool entered_;
};

}  // namespace ceplatform
