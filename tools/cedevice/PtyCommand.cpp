// cedevice pty: shows a device port to Linux programs (gpsd, minicom, a
// navigation program) as a pseudo-terminal at LINK. What they read comes
// from ReadFile on the port, what they write goes through WriteFile. The
// link goes away when the command ends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "CommandLine.h"

namespace cedevice {

namespace {

std::atomic<bool> stopping{false};

void OnSignal(int) { stopping = true; }

// Port to terminal. Nobody reading the terminal is like nobody listening on a
// serial line: what does not fit is dropped, the port's reader never waits.
void PortToTerminal(HANDLE port, int master) {
  char buffer[512];
  while (!stopping) {
    DWORD done = 0;
    if (!ReadFile(port, buffer, sizeof buffer, &done, nullptr)) {
      stopping = true;
      break;
    }
    for (DWORD written = 0; written < done;) {
      const ssize_t n = ::write(master, buffer + written, done - written);
      if (n <= 0) break;
      written += static_cast<DWORD>(n);
    }
  }
}

void TerminalToPort(HANDLE port, int master) {
  char buffer[512];
  while (!stopping) {
    pollfd fd{master, POLLIN, 0};
    if (::poll(&fd, 1, 200) <= 0 || !(fd.revents & POLLIN)) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    DWORD written = 0;
    WriteFile(port, buffer, static_cast<DWORD>(n), &written, nullptr);
  }
}

// A pseudo-terminal, raw at 4800 baud as a serial line, and the link to its
// slave end. The command keeps the slave open, so the terminal lives between
// the programs that open the link. False after saying why.
bool OpenTerminal(const std::string& link, int* master, int* slave) {
  *master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0) {
    std::perror("cedevice pty");
    return false;
  }
  const std::string slavePath = ::ptsname(*master);
  *slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (*slave < 0 || ::tcgetattr(*slave, &raw) != 0) {
    std::perror("cedevice pty");
    return false;
  }
  ::cfmakeraw(&raw);
  ::cfsetspeed(&raw, B4800);
  ::tcsetattr(*slave, TCSANOW, &raw);
  ::fcntl(*master, F_SETFL, ::fcntl(*master, F_GETFL) | O_NONBLOCK);
  if (::symlink(slavePath.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "cedevice pty: cannot make the link %s: %s\n", link.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int Pty(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error) ||
      line.positional.size() != 2) {
    std::fprintf(stderr, "cedevice pty: %s\n", error.empty() ? "give a port and a link, e.g. COM6: /tmp/gps" : error.c_str());
    return 2;
  }
  const std::string& link = line.positional[1];
  struct stat st;
  if (::lstat(link.c_str(), &st) == 0) {
    std::fprintf(stderr, "cedevice pty: %s exists already\n", link.c_str());
    return 1;
  }
  if (!ConnectTo(root)) return 1;
  const std::u16string name(line.positional[0].begin(), line.positional[0].end());
  HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cedevice pty: cannot open %s (error %u)\n", line.positional[0].c_str(),
                 static_cast<unsigned>(GetLastError()));
    return 1;
  }
  // Reads end after a fifth of a second without bytes, so a stop is seen.
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 200, 0, 0};
  SetCommTimeouts(port, &timeouts);

  int master, slave;
  if (!OpenTerminal(link, &master, &slave)) return 1;
  std::printf("%s is %s\n", link.c_str(), line.positional[0].c_str());
  std::fflush(stdout);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  std::thread reader(PortToTerminal, port, master);
  TerminalToPort(port, master);
  reader.join();
  ::unlink(link.c_str());
  ::close(slave);
  ::close(master);
  CloseHandle(port);
  return 0;
}

}  // namespace cedevice
