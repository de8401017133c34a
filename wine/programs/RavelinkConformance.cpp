// The driver's stream operations and control requests as a client program
// of the device sees them, on Wine: this program imports COREDLL.dll, writes
// the relay key as Wendra's installer does, activates it, and opens the
// relay COM6: and the tap COM7:. The real port COM5: is Wine's serial driver
// on a pseudo-terminal, to which the test has sent 37 + 1300 bytes
// ("a".."z" repeated) before the start; what the relay writes to the line
// the test reads after the end. Every check prints "ok NAME" or
// "FAIL NAME: what"; the exit status is the number of failures.
//
// A pseudo-terminal has no control lines: where the device's serial driver
// would answer an escape function or the modem status, Wine's answers FALSE,
// and the relay hands that answer back unchanged.
#include <windows.h>
#include <pegdser.h>
#include <pkfuncs.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const DWORD SENTINEL = 0xDEADBEEF;
int failures = 0;

void Check(bool ok, const char* name, const std::string& what = "") {
  if (ok) {
    printf("ok %s\n", name);
  } else {
    ++failures;
    printf("FAIL %s: %s\n", name, what.c_str());
  }
  fflush(stdout);
}

std::string Number(unsigned long long value) { return std::to_string(value); }

std::string Fed(size_t from, size_t count) {
  std::string bytes;
  for (size_t i = from; i < from + count; ++i) bytes += static_cast<char>('a' + i % 26);
  return bytes;
}

bool SetNumber(HKEY key, LPCWSTR name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

bool SetText(HKEY key, LPCWSTR name, LPCWSTR value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
}

// The relay key as the installer writes it: relay 6 from 5, tap 7.
HANDLE ActivateRelay() {
  HKEY key;
  DWORD disposition;
  // samDesired 0, as the device takes it.
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Drivers\\BuiltIn\\Ravelink", 0, NULL, 0, 0, NULL, &key, &disposition) !=
      ERROR_SUCCESS) {
    return INVALID_HANDLE_VALUE;
  }
  const bool written = SetText(key, L"Dll", L"Ravelink.Dll") && SetText(key, L"Prefix", L"COM") &&
                       SetNumber(key, L"Index", 6) && SetNumber(key, L"srcIndex", 5) && SetNumber(key, L"monIndex", 7);
  RegCloseKey(key);
  return written ? ActivateDevice(L"Drivers\\BuiltIn\\Ravelink", 0) : INVALID_HANDLE_VALUE;
}

HANDLE Open(LPCWSTR name) { return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL); }

void AnswerAtOnce(HANDLE port) {
  COMMTIMEOUTS now = {MAXDWORD, 0, 0, 0, 0};
  SetCommTimeouts(port, &now);
}

std::string Read(HANDLE port, DWORD count) {
  std::string bytes(count, '\0');
  DWORD done = 0;
  if (!ReadFile(port, &bytes[0], count, &done, NULL)) return "<failed " + Number(GetLastError()) + ">";
  bytes.resize(done);
  return bytes;
}

// A record's bytes, as a request's input buffer.
template <typename Record>
std::vector<BYTE> Bytes(const Record& record) {
  std::vector<BYTE> bytes(sizeof record);
  memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

BOOL Control(HANDLE port, DWORD code, std::vector<BYTE>* in, std::vector<BYTE>* out, DWORD* returned) {
  return DeviceIoControl(port, code, in ? in->data() : NULL, in ? static_cast<DWORD>(in->size()) : 0,
                         out ? out->data() : NULL, out ? static_cast<DWORD>(out->size()) : 0, returned, NULL);
}

SERIAL_DEV_STATUS TapStatus(HANDLE tap, DWORD* returned, BOOL* ok) {
  std::vector<BYTE> out(sizeof(SERIAL_DEV_STATUS), 0xFF);
  *ok = Control(tap, IOCTL_SERIAL_GET_COMMSTATUS, NULL, &out, returned);
  SERIAL_DEV_STATUS status;
  memcpy(&status, out.data(), sizeof status);
  return status;
}

void StreamsAndTheTapBuffer(HANDLE relay, HANDLE tap) {
  Check(Read(relay, 37) == Fed(0, 37), "relay-reads-the-real-port");
  DWORD returned = SENTINEL;
  BOOL ok;
  SERIAL_DEV_STATUS status = TapStatus(tap, &returned, &ok);
  DWORD flags;
  memcpy(&flags, &status.ComStat, sizeof flags);
  Check(ok && returned == 16 && status.ComStat.cbInQue == 37 && status.ComStat.cbOutQue == 0 &&
            status.Errors == 0xFFFFFFFF && flags == 0xFFFFFFDF,
        "tap-status-counts-what-the-relay-read",
        "ok " + Number(ok) + " returned " + Number(returned) + " cbInQue " + Number(status.ComStat.cbInQue) +
            " flags " + Number(flags));

  // The tap holds 1200 bytes; what does not fit is dropped.
  const std::string more = Read(relay, 1300);
  Check(more == Fed(37, 1300), "relay-reads-on", "read " + Number(more.size()));
  status = TapStatus(tap, &returned, &ok);
  Check(ok && status.ComStat.cbInQue == 1200, "tap-keeps-1200-bytes", Number(status.ComStat.cbInQue));
  Check(Read(tap, 1199) == Fed(0, 1199), "tap-drains-first-in-first-out");
  status = TapStatus(tap, &returned, &ok);
  Check(ok && status.ComStat.cbInQue == 1, "tap-keeps-the-rest", Number(status.ComStat.cbInQue));
  Check(Read(tap, 10) == Fed(1199, 1), "tap-drains-the-rest");
  Check(Read(relay, 10).empty(), "relay-answers-at-once-with-nothing");
  Check(SetFilePointer(relay, 0, NULL, FILE_BEGIN) == 0xFFFFFFFF, "seek-is-refused");
}

void StatusRequests(HANDLE relay, HANDLE tap) {
  for (HANDLE port : {relay, tap}) {
    const char* which = port == relay ? "relay" : "tap";
    std::vector<BYTE> out(12, 0xAB);
    DWORD returned = SENTINEL;
    SetLastError(SENTINEL);
    const BOOL ok = Control(port, IOCTL_SERIAL_GET_COMMSTATUS, NULL, &out, &returned);
    Check(!ok && GetLastError() == ERROR_INVALID_PARAMETER && returned == 0 && out == std::vector<BYTE>(12, 0xAB),
          (std::string("status-with-12-bytes-on-") + which).c_str(), "last error " + Number(GetLastError()));
    out.assign(16, 0xAB);
    SetLastError(SENTINEL);
    Check(!Control(port, IOCTL_SERIAL_GET_COMMSTATUS, NULL, &out, NULL) && GetLastError() == ERROR_INVALID_PARAMETER,
          (std::string("status-without-count-on-") + which).c_str());
  }
  std::vector<BYTE> out(4, 0xAB);
  DWORD returned = SENTINEL;
  Check(Control(tap, IOCTL_SERIAL_WAIT_ON_MASK, NULL, &out, &returned) && returned == SENTINEL &&
            out == std::vector<BYTE>(4, 0xAB),
        "tap-wait-answers-at-once-with-nothing");
}

void ForwardedRequests(HANDLE relay, HANDLE tap) {
  COMMTIMEOUTS set = {10, 20, 30, 40, 50}, got = {};
  Check(SetCommTimeouts(relay, &set) && GetCommTimeouts(relay, &got) && memcmp(&set, &got, sizeof set) == 0,
        "timeouts-reach-the-real-port");
  AnswerAtOnce(relay);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  Check(GetCommState(relay, &dcb), "relay-state", Number(GetLastError()));
  dcb.BaudRate = 9600;
  DCB again = {};
  again.DCBlength = sizeof again;
  Check(SetCommState(relay, &dcb) && GetCommState(relay, &again) && again.BaudRate == 9600, "relay-state-is-set",
        Number(again.BaudRate));

  // A DCB that says it is 24 bytes long is refused before the real port sees it.
  DCB wrong = again;
  wrong.DCBlength = 24;
  wrong.BaudRate = 115200;
  std::vector<BYTE> in = Bytes(wrong);
  SetLastError(SENTINEL);
  const BOOL refused = !Control(relay, IOCTL_SERIAL_SET_DCB, &in, NULL, NULL);
  const DWORD error = GetLastError();
  DCB after = {};
  after.DCBlength = sizeof after;
  GetCommState(relay, &after);
  Check(refused && error == ERROR_INVALID_PARAMETER && after.BaudRate == 9600, "dcb-of-24-bytes-is-refused");
  Check(Control(tap, IOCTL_SERIAL_SET_DCB, &in, NULL, NULL), "tap-takes-any-dcb");

  Check(TransmitCommChar(relay, 0x11), "immediate-char-goes-to-the-line", Number(GetLastError()));
  Check(PurgeComm(relay, PURGE_RXCLEAR) && SetupComm(relay, 2048, 512), "purge-and-queue-sizes");
  DWORD mask = SENTINEL;
  Check(SetCommMask(relay, EV_RXCHAR) && GetCommMask(relay, &mask) && mask == EV_RXCHAR, "event-mask");

  // No control lines on a pseudo-terminal: Wine's answer comes back as it is.
  SetLastError(SENTINEL);
  const BOOL dtr = EscapeCommFunction(relay, SETDTR);
  Check(!dtr && GetLastError() != SENTINEL, "dtr-on-a-pseudo-terminal-fails-with-wines-reason",
        "answer " + Number(dtr) + " last error " + Number(GetLastError()));
  DWORD modem = SENTINEL;
  SetLastError(SENTINEL);
  const BOOL lines = GetCommModemStatus(relay, &modem);
  Check(!lines && GetLastError() != SENTINEL, "modem-status-of-a-pseudo-terminal-fails",
        "answer " + Number(lines) + " last error " + Number(GetLastError()));
  Check(EscapeCommFunction(tap, SETDTR) && GetCommModemStatus(tap, &modem) && modem == 0,
        "tap-takes-escapes-and-has-no-lines");
}

// The records a client and the driver exchange, at the device's word size:
// each as this program lays it out has the platform's 32-bit size, and the
// driver takes exactly that: a query answers that many bytes into a buffer
// of that size and refuses one byte fewer, a command takes a record of that
// size. A record that grew with the word size, or a driver built with
// another layout, fails here at run time.
void RecordSizes(HANDLE relay) {
  const struct Size {
    const char* name;
    size_t size;
    size_t device;
  } sizes[] = {{"DCB", sizeof(DCB), 28},
               {"COMMPROP", sizeof(COMMPROP), 64},
               {"COMMTIMEOUTS", sizeof(COMMTIMEOUTS), 20},
               {"COMSTAT", sizeof(COMSTAT), 12},
               {"SERIAL_DEV_STATUS", sizeof(SERIAL_DEV_STATUS), 16},
               {"SERIAL_QUEUE_SIZES", sizeof(SERIAL_QUEUE_SIZES), 8},
               {"DEVICE_PSL_NOTIFY", sizeof(DEVICE_PSL_NOTIFY), 16}};
  for (const Size& size : sizes) {
    Check(size.size == size.device, (std::string("size-of-") + size.name).c_str(),
          Number(size.size) + " bytes, the device's " + Number(size.device));
  }
  Check(offsetof(SERIAL_DEV_STATUS, ComStat) == 4, "status-holds-its-comstat-after-the-errors",
        Number(offsetof(SERIAL_DEV_STATUS, ComStat)));

  const struct Query {
    const char* name;
    DWORD code;
    DWORD size;
  } queries[] = {{"DCB", IOCTL_SERIAL_GET_DCB, sizeof(DCB)},
                 {"COMMPROP", IOCTL_SERIAL_GET_PROPERTIES, sizeof(COMMPROP)},
                 {"COMMTIMEOUTS", IOCTL_SERIAL_GET_TIMEOUTS, sizeof(COMMTIMEOUTS)},
                 {"SERIAL_DEV_STATUS", IOCTL_SERIAL_GET_COMMSTATUS, sizeof(SERIAL_DEV_STATUS)}};
  for (const Query& query : queries) {
    std::vector<BYTE> out(query.size, 0);
    DWORD returned = SENTINEL;
    const BOOL whole = Control(relay, query.code, NULL, &out, &returned);
    const DWORD answered = returned;
    out.assign(query.size - 1, 0xAB);
    SetLastError(SENTINEL);
    const BOOL short_ = Control(relay, query.code, NULL, &out, &returned);
    Check(whole && answered == query.size && !short_ && GetLastError() == ERROR_INVALID_PARAMETER &&
              out == std::vector<BYTE>(query.size - 1, 0xAB),
          (std::string("driver-answers-a-") + query.name + "-of-" + Number(query.size)).c_str(),
          "answered " + Number(answered) + " bytes; one byte fewer: " + Number(short_) + ", last error " +
              Number(GetLastError()));
  }

  // The commands, each with a record the port already has.
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  const COMMTIMEOUTS now = {MAXDWORD, 0, 0, 0, 0};
  const SERIAL_QUEUE_SIZES queues = {2048, 512};
  const BOOL state = GetCommState(relay, &dcb);
  std::vector<BYTE> in = Bytes(dcb);
  Check(state && Control(relay, IOCTL_SERIAL_SET_DCB, &in, NULL, NULL), "driver-takes-a-DCB-of-28");
  in = Bytes(now);
  Check(Control(relay, IOCTL_SERIAL_SET_TIMEOUTS, &in, NULL, NULL), "driver-takes-COMMTIMEOUTS-of-20");
  in = Bytes(queues);
  Check(Control(relay, IOCTL_SERIAL_SET_QUEUE_SIZE, &in, NULL, NULL), "driver-takes-SERIAL_QUEUE_SIZES-of-8");
}

void RequestsThatAreNotSerial(HANDLE relay, HANDLE tap) {
  const struct Input {
    DWORD code;
    DWORD size;
  } inputs[] = {{IOCTL_SERIAL_SET_WAIT_MASK, 3}, {IOCTL_SERIAL_SET_TIMEOUTS, 19}, {IOCTL_SERIAL_PURGE, 3},
                {IOCTL_SERIAL_SET_QUEUE_SIZE, 7}, {IOCTL_SERIAL_IMMEDIATE_CHAR, 0}, {IOCTL_SERIAL_SET_DCB, 27}};
  bool allRefused = true;
  for (const Input& input : inputs) {
    std::vector<BYTE> in(input.size, 0);
    DWORD returned = SENTINEL;
    SetLastError(SENTINEL);
    allRefused = allRefused && !Control(relay, input.code, input.size ? &in : NULL, NULL, &returned) &&
                 GetLastError() == ERROR_INVALID_PARAMETER && returned == SENTINEL;
  }
  Check(allRefused, "short-inputs-are-refused");

  bool silent = true;
  for (DWORD code : {CTL_CODE(FILE_DEVICE_SERIAL_PORT, 24, METHOD_BUFFERED, FILE_ANY_ACCESS),
                     CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0, METHOD_BUFFERED, FILE_ANY_ACCESS),
                     CTL_CODE(0x22, 12, METHOD_BUFFERED, FILE_ANY_ACCESS),
                     CTL_CODE(FILE_DEVICE_SERIAL_PORT, 12, METHOD_NEITHER, FILE_ANY_ACCESS)}) {
    for (HANDLE port : {relay, tap}) {
      std::vector<BYTE> out(64, 0);
      DWORD returned = SENTINEL;
      SetLastError(SENTINEL);
      silent = silent && !Control(port, code, NULL, &out, &returned) && GetLastError() == SENTINEL &&
               returned == SENTINEL;
    }
  }
  Check(silent, "other-requests-are-refused-silently");
}

// The platform's record, laid out by hand: dwSize 16, dwFlags, process,
// thread; with size 24, as a 64-bit layout of its two handles would make it.
BOOL Notify(HANDLE port, DWORD flags, DWORD size = 16) {
  DWORD words[6] = {size, flags, GetCurrentProcessId(), GetCurrentThreadId(), 0, 0};
  return DeviceIoControl(port, IOCTL_PSL_NOTIFY, words, size, NULL, 0, NULL, NULL);
}

void ProcessExitNotice(HANDLE relay) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  Check(Notify(relay, 5) && GetCommState(relay, &dcb), "notice-of-another-reason-keeps-the-port");
  Notify(relay, DLL_PROCESS_EXITING, 24);
  Notify(relay, DLL_PROCESS_EXITING, 15);
  Check(GetCommState(relay, &dcb), "a-notice-of-another-size-than-16-keeps-the-port");
  Check(Notify(relay, DLL_PROCESS_EXITING), "notice-is-answered");
  Check(!GetCommState(relay, &dcb), "notice-closes-the-real-port");
  std::vector<BYTE> out(sizeof(COMMTIMEOUTS), 0);
  DWORD returned = SENTINEL;
  const BOOL got = Control(relay, IOCTL_SERIAL_GET_TIMEOUTS, NULL, &out, &returned);
  Check(!got && returned == sizeof(COMMTIMEOUTS), "get-timeouts-of-a-closed-port-reports-its-size",
        "answer " + Number(got) + " returned " + Number(returned));
  Check(Read(relay, 10).empty(), "a-closed-port-reads-nothing");
  // A new open takes the real port again, for every client of the relay.
  const HANDLE again = Open(L"COM6:");
  Check(again != INVALID_HANDLE_VALUE && GetCommState(relay, &dcb), "a-new-open-takes-the-port-again");
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

}  // namespace

int main() {
  const HANDLE device = ActivateRelay();
  Check(device != INVALID_HANDLE_VALUE, "relay-activates", Number(GetLastError()));
  HKEY tapKey;
  Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Drivers\\BuiltIn\\RavelinkMon", 0, 0, &tapKey) == ERROR_SUCCESS,
        "relay-writes-the-tap-key");
  const HANDLE relay = Open(L"COM6:");
  const HANDLE tap = Open(L"COM7:");
  Check(relay != INVALID_HANDLE_VALUE && tap != INVALID_HANDLE_VALUE, "relay-and-tap-open", Number(GetLastError()));
  if (device == INVALID_HANDLE_VALUE || relay == INVALID_HANDLE_VALUE || tap == INVALID_HANDLE_VALUE) return failures;
  AnswerAtOnce(relay);
  StreamsAndTheTapBuffer(relay, tap);
  StatusRequests(relay, tap);
  ForwardedRequests(relay, tap);
  RecordSizes(relay);
  RequestsThatAreNotSerial(relay, tap);
  ProcessExitNotice(relay);
  CloseHandle(relay);
  CloseHandle(tap);
  SetLastError(SENTINEL);
  Check(DeactivateDevice(device) && !DeactivateDevice(device) && GetLastError() == ERROR_INVALID_HANDLE,
        "a-device-is-deactivated-once");
  return failures;
}
