#include "TtySource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace cehost {

namespace {

struct Speed {
  DWORD baud;
  speed_t speed;
};

constexpr Speed kSpeeds[] = {{300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                             {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                             {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                             {921600, B921600}};

bool SpeedOf(DWORD baud, speed_t* speed) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) {
      *speed = s.speed;
      return true;
    }
  }
  return false;
}

// A pseudo-terminal or a line without modem control has no control lines to set.
bool NoControlLines(int err) { return err == ENOTTY || err == EINVAL; }

}  // namespace

bool SupportedBaud(DWORD baud) {
  speed_t speed;
  return SpeedOf(baud, &speed);
}

TtySource::TtySource(std::string device, DWORD baud) : device_(std::move(device)) {
  dcb_.DCBlength = sizeof(DCB);
  dcb_.BaudRate = baud;
  dcb_.fBinary = 1;
  dcb_.ByteSize = 8;
  dcb_.Parity = NOPARITY;
  dcb_.StopBits = ONESTOPBIT;
}

TtySource::~TtySource() { Stop(); }

bool TtySource::Configure(const DCB& dcb) {
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return false;
  ::cfmakeraw(&t);
  speed_t speed;
  if (!SpeedOf(dcb.BaudRate, &speed)) return false;
  ::cfsetspeed(&t, speed);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= sizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // One and a half stop bits exist only with five data bits, where the line takes two.
  if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

// Under mutex_: opens the line and gives it the settings it had, the DCB
// and, when a client set them, the control lines.
bool TtySource::OpenLine() {
  fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return false;
  if (!Configure(dcb_) || (linesSet_ && !SetLines(dtr_, rts_))) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool TtySource::Start(PortReceiver& receiver) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!OpenLine()) return false;
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  thread_ = std::thread([this, &receiver] { Run(receiver); });
  return true;
}

void TtySource::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wake_[1] >= 0 && ::write(wake_[1], "x", 1) < 0) {
      // The reader's end is gone already; it is ending.
    }
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (int& fd : wake_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// A receiver unplugged (a USB adapter pulled, the other end of a
// pseudo-terminal closed) is waited for at the same path, as gpsd does, and
// read on when it is back. Each change is said once on standard error.
void TtySource::Run(PortReceiver& receiver) {
  bool down = false;
  while (Pump(receiver, &down)) {
    if (!down) {
      std::fprintf(stderr, "the receiver on %s hung up; waiting for it to come back\n", device_.c_str());
      down = true;
    }
    if (!WaitForLine()) return;
  }
}

// Reads the line until it hangs up (true, the line closed) or the source
// stops (false). The first bytes after a hang-up say the receiver is back.
bool TtySource::Pump(PortReceiver& receiver, bool* down) {
  BYTE buffer[1024];
  int line;
  int wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    line = fd_;
    wake = wake_[0];
  }
  for (;;) {
    pollfd fds[2] = {{line, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents) return false;
    const ssize_t n = ::read(line, buffer, sizeof buffer);
    if (n > 0) {
      if (*down) {
        std::fprintf(stderr, "the receiver on %s is back\n", device_.c_str());
        *down = false;
      }
      receiver.Receive(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      std::lock_guard<std::mutex> lock(mutex_);
      ::close(fd_);
      fd_ = -1;
      return true;
    }
  }
}

// Tries the path once a second until the line opens (true) or the source
// stops (false). A second is no burden while nothing is plugged in, and a
// receiver takes longer than that to start sending.
bool TtySource::WaitForLine() {
  int wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake = wake_[0];
  }
  for (;;) {
    pollfd stop{wake, POLLIN, 0};
    const int woken = ::poll(&stop, 1, 1000);
    if (woken < 0 && errno != EINTR) return false;
    if (woken > 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (OpenLine()) return true;
  }
}

BOOL TtySource::Transmit(const BYTE* data, DWORD size) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Not started (the port has never been opened), or hung up: what a client
  // writes goes nowhere, as to a receiver unplugged.
  if (fd_ < 0) return TRUE;
  DWORD written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd_, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd out{fd_, POLLOUT, 0};
      ::poll(&out, 1, 100);
      continue;
    }
    if (n <= 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    written += static_cast<DWORD>(n);
  }
  return TRUE;
}

BOOL TtySource::ApplyState(const DCB& dcb) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!SupportedBaud(dcb.BaudRate)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (fd_ >= 0 && !Configure(dcb)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  dcb_ = dcb;
  return TRUE;
}

// Under mutex_, with the line open.
bool TtySource::SetLines(bool dtr, bool rts) {
  const int set = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
  const int clear = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
  return !((set && ::ioctl(fd_, TIOCMBIS, &set) != 0 && !NoControlLines(errno)) ||
           (clear && ::ioctl(fd_, TIOCMBIC, &clear) != 0 && !NoControlLines(errno)));
}

// Kept while the line is closed, for the receiver that comes back.
BOOL TtySource::SetControlLines(bool dtr, bool rts) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0 && !SetLines(dtr, rts)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  linesSet_ = true;
  dtr_ = dtr;
  rts_ = rts;
  return TRUE;
}

DWORD TtySource::ModemStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  int lines = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCMGET, &lines) != 0) return 0;
  return ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
         ((lines & TIOCM_RI) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
}

}  // namespace cehost
