// The device's wide-character C runtime for UTF-16 text: its strings and
// numbers. WideFormat.cpp formats, WideStreams.cpp reads and writes files.
#include <stdlib.h>
#include <string.h>

#include <climits>

#include "Kernel.h"
#include "common/Utf.h"

namespace {

bool IsSpace(WCHAR c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

int Digit(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// strtol's reading of text: sign, optional 0x for base 16 or 0, digits.
// Answers the magnitude saturated at ULLONG_MAX and whether it was negative.
unsigned long long ReadInteger(const WCHAR* s, WCHAR** end, int base, bool* negative, bool* overflow) {
  const WCHAR* p = s;
  *negative = false;
  *overflow = false;
  while (IsSpace(*p)) ++p;
  if (*p == u'+' || *p == u'-') *negative = *p++ == u'-';
  if ((base == 0 || base == 16) && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') && Digit(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == u'0' ? 8 : 10;
  }
  if (base < 2 || base > 36) {
    if (end) *end = const_cast<WCHAR*>(s);
    return 0;
  }
  const WCHAR* digits = p;
  unsigned long long value = 0;
  for (; Digit(*p) < base; ++p) {
    const unsigned long long next = value * static_cast<unsigned>(base) + static_cast<unsigned>(Digit(*p));
    if (value > (ULLONG_MAX - static_cast<unsigned>(Digit(*p))) / static_cast<unsigned>(base)) *overflow = true;
    value = *overflow ? ULLONG_MAX : next;
  }
  if (end) *end = const_cast<WCHAR*>(p == digits ? s : p);
  return p == digits ? 0 : value;
}

}  // namespace

size_t wcslen(const WCHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  WCHAR* d = dst;
  while ((*d++ = *src++)) {
  }
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i]; ++i) dst[i] = src[i];
  for (; i < n; ++i) dst[i] = u'\0';
  return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a < *b ? -1 : *a > *b ? 1 : 0;
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = cehost::FoldCase(a[i]);
    const char16_t y = cehost::FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, SIZE_MAX); }

WCHAR* wcschr(const WCHAR* s, WCHAR c) {
  for (;; ++s) {
    if (*s == c) return const_cast<WCHAR*>(s);
    if (!*s) return nullptr;
  }
}

WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
  const WCHAR* found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (!*s) return const_cast<WCHAR*>(found);
  }
}

WCHAR* _wcslwr(WCHAR* s) {
  for (WCHAR* p = s; *p; ++p) *p = cehost::FoldCase(*p);
  return s;
}

WCHAR* _wcsupr(WCHAR* s) {
  for (WCHAR* p = s; *p; ++p) *p = cehost::UpperCase(*p);
  return s;
}

LONG wcstol(const WCHAR* s, WCHAR** end, int base) {
  bool negative, overflow;
  const unsigned long long magnitude = ReadInteger(s, end, base, &negative, &overflow);
  if (negative) {
    if (overflow || magnitude > 2147483648ULL) {
      errno = ERANGE;
      return INT32_MIN;
    }
    return static_cast<LONG>(-static_cast<long long>(magnitude));
  }
  if (overflow || magnitude > 2147483647ULL) {
    errno = ERANGE;
    return INT32_MAX;
  }
  return static_cast<LONG>(magnitude);
}
