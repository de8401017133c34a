// A program of the device for the tests of the device process. Each command
// does one thing a real client would, announcing with a file that it is ready.
//   tap-reader PORT READY        polls PORT like the logger, bytes to stdout, until SIGTERM
//   blocking-read PORT READY     one read that waits for 64 bytes
//   hold-mutex NAME READY        creates the named mutex and holds it; READY says new or exists
//   reg-writer COUNT READY       sets values n0, n1, ... under HKLM\Test
//   reg-churn KEY READY          steps through saved states under HKLM\KEY until a call fails
//   hold-open DEVICE READY       opens DEVICE, then waits for SIGTERM and ends with it open
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<bool> stopping{false};

void OnSignal(int) { stopping = true; }

void Ready(const char* file, const std::string& text) {
  const std::string temp = std::string(file) + ".new";
  FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return;
  std::fputs(text.c_str(), f);
  std::fclose(f);
  std::rename(temp.c_str(), file);  // appears whole
}

std::u16string Wide(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

HANDLE OpenPort(const char* name, COMMTIMEOUTS timeouts) {
  HANDLE port = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s: %u\n", name, static_cast<unsigned>(GetLastError()));
    std::exit(1);
  }
  SetCommTimeouts(port, &timeouts);
  return port;
}

int TapReader(const char* name, const char* ready) {
  HANDLE tap = OpenPort(name, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0});
  Ready(ready, "open");
  char buffer[1200];
  for (bool last = false; !last;) {
    last = stopping;  // one more drain after the stop
    COMSTAT status{};
    DWORD read = 0;
    if (ClearCommError(tap, nullptr, &status) && status.cbInQue > 0) {
      ReadFile(tap, buffer, status.cbInQue < 1199 ? status.cbInQue : 1199, &read, nullptr);
      std::fwrite(buffer, 1, read, stdout);
      std::fflush(stdout);
    }
    if (read == 0 && !last) Sleep(10);
  }
  CloseHandle(tap);
  return 0;
}

int BlockingRead(const char* name, const char* ready) {
  HANDLE port = OpenPort(name, COMMTIMEOUTS{0, 0, 0, 0, 0});
  Ready(ready, "reading");
  char buffer[64];
  DWORD read = 0;
  ReadFile(port, buffer, sizeof buffer, &read, nullptr);
  return 0;
}

int HoldMutex(const char* name, const char* ready) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, Wide(name).c_str());
  if (!mutex) return 1;
  Ready(ready, GetLastError() == ERROR_ALREADY_EXISTS ? "exists" : "new");
  while (!stopping) pause();
  return 0;
}

int RegWriter(const char* count, const char* ready) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Test", 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS) return 1;
  Ready(ready, "writing");
  const int n = std::atoi(count);
  for (int i = 0; i < n; ++i) {
    const std::u16string name = u"n" + Wide(std::to_string(i).c_str());
    const DWORD value = static_cast<DWORD>(i);
    if (RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) != ERROR_SUCCESS) {
      return 1;
    }
  }
  RegCloseKey(key);
  return 0;
}

// Step k: subkey K<k> made, its Name set to v<k>, Step set to k, K<k-1>
// deleted; each call leaves one saved state. It goes on from the Step it
// finds, first finishing a step that was cut off before its delete.
int RegChurn(const char* keyName, const char* ready) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(keyName).c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return 1;
  }
  auto sub = [](DWORD k) { return u"K" + Wide(std::to_string(k).c_str()); };
  DWORD step = 0, type = 0, size = sizeof step;
  RegQueryValueExW(key, u"Step", nullptr, &type, reinterpret_cast<BYTE*>(&step), &size);  // none yet: 0
  if (step > 1) RegDeleteKeyW(key, sub(step - 1).c_str());  // gone already, or now
  Ready(ready, std::to_string(step));
  for (DWORD k = step + 1;; ++k) {
    HKEY made;
    if (RegCreateKeyExW(key, sub(k).c_str(), 0, nullptr, 0, 0, nullptr, &made, nullptr) != ERROR_SUCCESS) return 0;
    const std::u16string name = u"v" + Wide(std::to_string(k).c_str());
    const LONG named = RegSetValueExW(made, u"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                                      static_cast<DWORD>((name.size() + 1) * sizeof(char16_t)));
    RegCloseKey(made);
    if (named != ERROR_SUCCESS ||
        RegSetValueExW(key, u"Step", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&k), sizeof k) != ERROR_SUCCESS ||
        (k > 1 && RegDeleteKeyW(key, sub(k - 1).c_str()) != ERROR_SUCCESS)) {
      return 0;  // the device is gone
    }
  }
}

int HoldOpen(const char* name, const char* ready) {
  // Taken here alone: blocked before the link's threads start, so they inherit it.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  HANDLE device = CreateFileW(Wide(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return 1;
  Ready(ready, "open");
  int signal;
  sigwait(&term, &signal);
  return 0;  // the handle stays open: the device closes it as the program ends
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  if (argc != 4) {
    std::fprintf(stderr, "usage: ce_test_program COMMAND ARGUMENT READY\n");
    return 2;
  }
  const std::string command = argv[1];
  if (command == "tap-reader") return TapReader(argv[2], argv[3]);
  if (command == "blocking-read") return BlockingRead(argv[2], argv[3]);
  if (command == "hold-mutex") return HoldMutex(argv[2], argv[3]);
  if (command == "reg-writer") return RegWriter(argv[2], argv[3]);
  if (command == "reg-churn") return RegChurn(argv[2], argv[3]);
  if (command == "hold-open") return HoldOpen(argv[2], argv[3]);
  return 2;
}
