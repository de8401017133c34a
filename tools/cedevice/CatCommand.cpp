// cedevice cat: a client program. It opens a port, sets read time-outs as a
// navigation program does, and writes what it reads to standard output
// until it is stopped.
#include <signal.h>

#include <atomic>
#include <cstdio>

#include "CommandLine.h"

namespace cedevice {

namespace {

std::atomic<bool> stopping{false};

void OnSignal(int) { stopping = true; }

}  // namespace

int Cat(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error) ||
      line.positional.size() != 1) {
    std::fprintf(stderr, "cedevice cat: %s\n", error.empty() ? "give one port, e.g. COM6:" : error.c_str());
    return 2;
  }
  if (!ConnectTo(root)) return 1;
  const std::u16string port(line.positional[0].begin(), line.positional[0].end());
  HANDLE handle = CreateFileW(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cedevice cat: cannot open %s (error %u)\n", line.positional[0].c_str(),
                 static_cast<unsigned>(GetLastError()));
    return 1;
  }
  // Answer at once when bytes wait, else at the first byte or after a second.
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 1000, 0, 0};
  SetCommTimeouts(handle, &timeouts);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  int status = 0;
  char buffer[512];
  while (!stopping) {
    DWORD done = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &done, nullptr)) {
      std::fprintf(stderr, "cedevice cat: reading %s failed (error %u)\n", line.positional[0].c_str(),
                   static_cast<unsigned>(GetLastError()));
      status = 1;
      break;
    }
    if (done > 0 && (std::fwrite(buffer, 1, done, stdout) != done || std::fflush(stdout) != 0)) break;
  }
  CloseHandle(handle);
  return status;
}

}  // namespace cedevice
