// The C library's stdio.h, with the device's formatting and streams of wide
// text (WCHAR, UTF-16).
#pragma once

#include_next <stdio.h>

#ifdef __cplusplus
#include <stdarg.h>

#include "ce/types.h"

// C++ declarations, also where a C header includes this one inside its
// extern "C" block.
extern "C++" {
// Formatting with the platform's wide conventions: %s and %c take wide text,
// %S and %C narrow text, %hs narrow, %ls wide. _snwprintf writes at most
// count characters and answers -1 when the text did not fit (then without a
// terminator, as on the device). The device's long is 32 bits: "%ld" takes
// a 32-bit argument.
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);

// Streams on device paths. Text mode ("r", "rt") reads the device's ANSI
// code page 932 (Shift_JIS), or UTF-8 when the file begins with its
// byte-order mark (skipped) or is valid UTF-8 throughout; a byte that stands
// for no character becomes U+FFFD, and a line end arrives as one line feed.
// Binary mode reads UTF-16LE.
FILE* _wfopen(const WCHAR* path, const WCHAR* mode);
WCHAR* fgetws(WCHAR* buffer, int n, FILE* stream);
}
#endif
