#include "ReplaySource.h"

#include <algorithm>
#include <chrono>

namespace cehost {

ReplaySource::ReplaySource(std::string bytes, double speed) : bytes_(std::move(bytes)), speed_(speed) {}

ReplaySource::~ReplaySource() { Stop(); }

bool ReplaySource::Start(PortReceiver& receiver) {
  thread_ = std::thread([this, &receiver] { Run(receiver); });
  return true;
}

void ReplaySource::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ReplaySource::Run(PortReceiver& receiver) {
  using namespace std::chrono;
  const auto start = steady_clock::now();
  const double rate = kBytesPerSecond * speed_;
  size_t sent = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (sent < bytes_.size()) {
    // Deliver in slices of 20 ms, each with the bytes the line has carried by then.
    if (wake_.wait_for(lock, milliseconds(20), [this] { return stop_; })) return;
    const double elapsed = duration<double>(steady_clock::now() - start).count();
    const size_t due = std::min(bytes_.size(), static_cast<size_t>(elapsed * rate));
    if (due > sent) {
      lock.unlock();
      receiver.Receive(reinterpret_cast<const BYTE*>(bytes_.data()) + sent, due - sent);
      lock.lock();
      sent = due;
    }
  }
}

}  // namespace cehost
