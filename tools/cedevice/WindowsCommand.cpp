// cedevice windows: lists the device's top-level windows, top of the
// stacking order first. cedevice send: sends a message to the first window
// with a title and prints the answer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "CommandLine.h"
#include "common/Utf.h"

namespace cedevice {

namespace {

struct MessageName {
  const char* name;
  UINT message;
};

const MessageName kMessages[] = {
    {"WM_NULL", WM_NULL},           {"WM_CLOSE", WM_CLOSE},       {"WM_COMMAND", WM_COMMAND},
    {"WM_TIMER", WM_TIMER},         {"WM_LBUTTONDOWN", WM_LBUTTONDOWN}, {"WM_LBUTTONUP", WM_LBUTTONUP},
    {"WM_GETTEXTLENGTH", WM_GETTEXTLENGTH}, {"WM_USER", WM_USER},
};

// A number in decimal, or hexadecimal after 0x; negative values as the 32-bit pattern.
bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

bool ParseMessage(const std::string& text, UINT* message) {
  for (const MessageName& entry : kMessages) {
    if (text == entry.name) {
      *message = entry.message;
      return true;
    }
  }
  long long value;
  if (!ParseNumber(text, &value) || value < 0 || value > 0xFFFF) return false;
  *message = static_cast<UINT>(value);
  return true;
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
  WCHAR title[256];
  title[0] = 0;
  GetWindowTextW(window, title, 256);
  std::printf("0x%08lx %s\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)),
              cehost::ToUtf8(title).c_str());
  return TRUE;
}

struct Search {
  std::u16string title;
  HWND found = NULL;
};

BOOL CALLBACK FindTitle(HWND window, LPARAM parameter) {
  Search& search = *reinterpret_cast<Search*>(parameter);
  WCHAR title[1024];
  title[0] = 0;
  GetWindowTextW(window, title, 1024);
  if (search.title != title) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

int Windows(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error) || !line.positional.empty()) {
    std::fprintf(stderr, "cedevice windows: %s\n", error.empty() ? "takes no arguments but --root" : error.c_str());
    return 2;
  }
  if (!ConnectTo(root)) return 1;
  EnumWindows(PrintWindow, 0);
  return 0;
}

int Send(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  UINT message = 0;
  long long wParam = 0, lParam = 0;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error)) {
    std::fprintf(stderr, "cedevice send: %s\n", error.c_str());
    return 2;
  }
  if (line.positional.size() != 4 || !ParseMessage(line.positional[1], &message) ||
      !ParseNumber(line.positional[2], &wParam) || !ParseNumber(line.positional[3], &lParam)) {
    std::fprintf(stderr,
                 "cedevice send: give TITLE MSG WPARAM LPARAM; MSG is a number or one of WM_COMMAND, "
                 "WM_LBUTTONUP, WM_LBUTTONDOWN, WM_TIMER, WM_CLOSE, WM_NULL, WM_USER\n");
    return 2;
  }
  if (!ConnectTo(root)) return 1;
  Search search;
  search.title = cehost::ToUtf16(line.positional[0]);
  EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&search));
  if (!search.found) {
    std::fprintf(stderr, "cedevice send: no window is titled %s\n", line.positional[0].c_str());
    return 1;
  }
  SetLastError(ERROR_SUCCESS);
  const LRESULT result = SendMessageW(search.found, message, static_cast<WPARAM>(static_cast<DWORD>(wParam)),
                                      static_cast<LPARAM>(static_cast<DWORD>(lParam)));
  if (result == 0 && GetLastError() == ERROR_INVALID_WINDOW_HANDLE) {
    std::fprintf(stderr, "cedevice send: the window went away before it answered\n");
    return 1;
  }
  std::printf("%lld\n", static_cast<long long>(result));
  return 0;
}

}  // namespace cedevice
