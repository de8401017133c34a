// ce-send: another Wine program's view of a window, as cedevice send and a
// tap on the screen have it on the host.
//   ce-send TITLE WM_COMMAND|NUMBER WPARAM LPARAM   sends the message, prints the answer
//   ce-send TITLE text ID                           prints the text of the control ID
//   ce-send TITLE layout PROGRAM DIALOG             prints for each control of PROGRAM's
//     template DIALOG, in order: its id, its rectangle in dialog units (x y cx cy),
//     the rectangle of the window's child in that place in pixels of the
//     window's client area (left top right bottom), and its style
// Exits 1 when no top-level window has the title.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

void PrintUtf8(const wchar_t* text) {
  char bytes[4096];
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
  printf("%s\n", size > 0 ? bytes : "");
}

// A template's variable field: an ordinal, or a text and its terminator.
const WORD* SkipField(const WORD* at) {
  if (*at == 0xFFFF) return at + 2;
  while (*at) ++at;
  return at + 1;
}

int PrintLayout(HWND window, const wchar_t* program, int dialog) {
  const HMODULE module = LoadLibraryExW(program, NULL, LOAD_LIBRARY_AS_DATAFILE);
  const HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(dialog), MAKEINTRESOURCEW(5)) : NULL;
  const BYTE* data = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : NULL;
  if (!data) {
    fprintf(stderr, "ce-send: %ls has no dialog %d (error %lu)\n", program, dialog, GetLastError());
    return 1;
  }
  const DWORD size = SizeofResource(module, found);
  DLGTEMPLATE head;
  memcpy(&head, data, sizeof head);
  const WORD* at = reinterpret_cast<const WORD*>(data + sizeof head);
  at = SkipField(SkipField(SkipField(at)));  // menu, class, title
  if (head.style & DS_SETFONT) at = SkipField(at + 1);
  HWND child = GetWindow(window, GW_CHILD);
  for (int i = 0; i < head.cdit; ++i, child = child ? GetWindow(child, GW_HWNDNEXT) : NULL) {
    const BYTE* item = data + ((reinterpret_cast<const BYTE*>(at) - data + 3) & ~3);
    if (item + sizeof(DLGITEMTEMPLATE) > data + size) {
      fprintf(stderr, "ce-send: the template ends inside control %d\n", i + 1);
      return 1;
    }
    DLGITEMTEMPLATE control;
    memcpy(&control, item, sizeof control);
    at = SkipField(SkipField(reinterpret_cast<const WORD*>(item + sizeof control)));  // class, title
    at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);  // creation data
    RECT placed = {-1, -1, -1, -1};
    if (child && GetWindowRect(child, &placed)) MapWindowPoints(NULL, window, reinterpret_cast<POINT*>(&placed), 2);
    printf("%d %d %d %d %d %ld %ld %ld %ld %lu\n", static_cast<short>(control.id), control.x, control.y, control.cx,
           control.cy, placed.left, placed.top, placed.right, placed.bottom, control.style);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool text = argc > 2 && wcscmp(argv[2], L"text") == 0;
  const bool layout = argc > 2 && wcscmp(argv[2], L"layout") == 0;
  if (argc != (text ? 4 : 5)) {
    fprintf(stderr,
            "usage: ce-send TITLE WM_COMMAND|NUMBER WPARAM LPARAM | ce-send TITLE text ID"
            " | ce-send TITLE layout PROGRAM DIALOG\n");
    return 2;
  }
  const HWND window = FindWindowW(NULL, argv[1]);
  if (!window) {
    fprintf(stderr, "ce-send: no window is titled so\n");
    return 1;
  }
  if (layout) return PrintLayout(window, argv[3], _wtoi(argv[4]));
  if (text) {
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
