// ce-send: another Wine program's view of a window, as cedevice send and a
// tap on the screen have it on the host.
//   ce-send TITLE WM_COMMAND|NUMBER WPARAM LPARAM   sends the message, prints the answer
//   ce-send TITLE text ID                           prints the text of the control ID
// Exits 1 when no top-level window has the title.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

void PrintUtf8(const wchar_t* text) {
  char bytes[4096];
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
  printf("%s\n", size > 0 ? bytes : "");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || (wcscmp(argv[2], L"text") == 0 ? argc != 4 : argc != 5)) {
    fprintf(stderr, "usage: ce-send TITLE WM_COMMAND|NUMBER WPARAM LPARAM | ce-send TITLE text ID\n");
    return 2;
  }
  const HWND window = FindWindowW(NULL, argv[1]);
  if (!window) {
    fprintf(stderr, "ce-send: no window is titled so\n");
    return 1;
  }
  if (wcscmp(argv[2], L"text") == 0) {
    wchar_t text[1024] = L"";
    const HWND control = GetDlgItem(window, _wtoi(argv[3]));
    if (!control) {
      fprintf(stderr, "ce-send: the window has no control %ls\n", argv[3]);
      return 1;
    }
    SendMessageW(control, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text));
    PrintUtf8(text);
    return 0;
  }
  const UINT message = wcscmp(argv[2], L"WM_COMMAND") == 0 ? WM_COMMAND : static_cast<UINT>(wcstoul(argv[2], NULL, 0));
  const LRESULT answer = SendMessageW(window, message, static_cast<WPARAM>(wcstoull(argv[3], NULL, 0)),
                                      static_cast<LPARAM>(wcstoll(argv[4], NULL, 0)));
  printf("%lld\n", static_cast<long long>(answer));
  return 0;
}
