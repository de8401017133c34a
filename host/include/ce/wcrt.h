// The wide-character C runtime of the device, for UTF-16 text (WCHAR).
// The device's long is 32 bits: conversions answer LONG and "%ld" takes a
// 32-bit argument.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "ce/types.h"

size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsstr(const WCHAR* s, const WCHAR* find);
WCHAR* _wcslwr(WCHAR* s);
WCHAR* _wcsupr(WCHAR* s);

// Base-10 and other bases as strtol does, saturating at the 32-bit range.
LONG wcstol(const WCHAR* s, WCHAR** end, int base);
DWORD wcstoul(const WCHAR* s, WCHAR** end, int base);
double wcstod(const WCHAR* s, WCHAR** end);

// Formatting with the platform's wide conventions: %s and %c take wide text,
// %S and %C narrow text, %hs narrow, %ls wide. _snwprintf writes at most
// count characters and answers -1 when the text did not fit (then without a
// terminator, as on the device). wsprintfW writes at most 1024 characters,
// as on the device.
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
extern "C" int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

// Streams on device paths. Text mode ("r", "rt") reads the device's ANSI
// code page 932 (Shift_JIS), or UTF-8 when the file begins with its
// byte-order mark (skipped) or is valid UTF-8 throughout; a byte that stands
// for no character becomes U+FFFD, and a line end arrives as one line feed.
// Binary mode reads UTF-16LE.
FILE* _wfopen(const WCHAR* path, const WCHAR* mode);
WCHAR* fgetws(WCHAR* buffer, int n, FILE* stream);
