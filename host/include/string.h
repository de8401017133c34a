// The C library's string.h, with the device's string functions for wide
// text: WCHAR is UTF-16 on the device and here, where the C library's own
// wchar_t is 32 bits wide.
#pragma once

#include_next <string.h>

#ifdef __cplusplus
#include "ce/types.h"

// C++ declarations, also where a C header includes this one inside its
// extern "C" block.
extern "C++" {
size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
int wcscmp(const WCHAR* a, const WCHAR* b);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* _wcslwr(WCHAR* s);
WCHAR* _wcsupr(WCHAR* s);
}
#endif
