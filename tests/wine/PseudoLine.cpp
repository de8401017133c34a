#include "PseudoLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace winetest {

PseudoLine::PseudoLine() {
  termios raw{};
  cfmakeraw(&raw);
  cfsetspeed(&raw, B4800);
  int slave = -1;
  char name[128];
  if (openpty(&master_, &slave, name, &raw, nullptr) != 0) return;
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);  // the receiver's end is the test's alone
  ::close(slave);
  path_ = name;
}

PseudoLine::~PseudoLine() {
  stop_ = true;
  if (sender_.joinable()) sender_.join();
  if (master_ >= 0) ::close(master_);
}

bool PseudoLine::Send(const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void PseudoLine::SendWhenOpened(const std::string& bytes, size_t bytesPerTenth, std::function<void(size_t)> sent,
                                std::function<void()> ready) {
  // Watched before the thread starts, so an early open is not missed.
  const int opens = ::inotify_init1(IN_CLOEXEC);
  if (opens >= 0) ::inotify_add_watch(opens, path_.c_str(), IN_OPEN);
  sender_ = std::thread([this, bytes, bytesPerTenth, opens, sent, ready] {
    pollfd opened{opens, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop_ && ::poll(&opened, 1, 200) == 0 && std::chrono::steady_clock::now() < deadline) {
    }
    ::close(opens);
    if (ready) ready();
    for (size_t at = 0; at < bytes.size() && !stop_; at += bytesPerTenth) {
      // The line's rate: a receiver sends no faster.
      const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      if (!Send(bytes.substr(at, bytesPerTenth))) return;
      if (sent) sent(std::min(bytes.size(), at + bytesPerTenth));
      std::this_thread::sleep_until(next);
    }
  });
}

std::string PseudoLine::Written() {
  std::string bytes;
  char buffer[512];
  pollfd ready{master_, POLLIN, 0};
  while (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN)) {
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace winetest
