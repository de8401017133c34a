// The C library's stdlib.h, with the device's conversions of wide text
// (WCHAR, UTF-16). The device's long is 32 bits: it answers LONG.
#pragma once

#include_next <stdlib.h>

#ifdef __cplusplus
// The C library's own wide conversions first: the standard library takes
// their addresses by name, which these overloads must not make ambiguous.
#include <cwchar>

#include "ce/types.h"

// C++ declarations, also where a C header includes this one inside its
// extern "C" block.
extern "C++" {
// Base 10 and other bases as strtol does, saturating at the 32-bit range.
LONG wcstol(const WCHAR* s, WCHAR** end, int base);
}
#endif
