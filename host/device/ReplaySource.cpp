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
  // A delivery carries at most what the line carries in a tenth of a second,
  // and comes at most every 20 ms.
  const size_t mostBytes = std::max<size_t>(1, static_cast<size_t>(rate / 10));
  const auto leastGap = milliseconds(20);
  auto last = start - leastGap;
  size_t sent = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (sent < bytes_.size()) {
    // Each sentence when its last byte has come: one wake per sentence
    // rather than one per slice of time.
    size_t end = bytes_.find('\n', sent);
    end = std::min({end == std::string::npos ? bytes_.size() : end + 1, sent + mostBytes, bytes_.size()});
    const auto due = start + duration_cast<steady_clock::duration>(duration<double>(end / rate));
    if (wake_.wait_until(lock, std::max(due, last + leastGap), [this] { return stop_; })) return;
    last = steady_clock::now();
    const double elapsed = duration<double>(last - start).count();
    const size_t carried = std::min(bytes_.size(), std::max(end, static_cast<size_t>(elapsed * rate)));
    lock.unlock();
    receiver.Receive(reinterpret_cast<const BYTE*>(bytes_.data()) + sent, carried - sent);
    lock.lock();
    sent = carried;
  }
}

}  // namespace cehost
