// The device's wide printf family: %d, %i, %u, %x, %X, %o, %f, %e, %g, %p,
// %c, %s and their wide and narrow forms, with flags, width, precision and
// the h, l, ll and I64 sizes. Numbers are formatted by the C library.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cstdarg>
#include <string>

#include "Kernel.h"

namespace {

class Output {
 public:
  explicit Output(std::u16string& text) : text_(text) {}
  void Put(char16_t c) { text_ += c; }
  void PutNarrow(const std::string& s) {
    for (unsigned char c : s) text_ += static_cast<char16_t>(c);
  }
  void Pad(int count, char16_t c) {
    for (int i = 0; i < count; ++i) text_ += c;
  }
  // A text in its field: padded to width on the side the directive says.
  void PutPadded(const std::u16string& value, int width, bool left) {
    const int pad = width > static_cast<int>(value.size()) ? width - static_cast<int>(value.size()) : 0;
    if (!left) Pad(pad, u' ');
    for (char16_t c : value) Put(c);
    if (left) Pad(pad, u' ');
  }

 private:
  std::u16string& text_;
};

enum class Size { Default, Short, Long, LongLong };

// One directive after its %: the C library's form of it for numbers, and
// what texts need of it.
struct Directive {
  std::string narrow = "%";  // flags, width and precision as the C library reads them
  bool left = false;
  int width = -1;
  int precision = -1;
  Size size = Size::Default;
  WCHAR conversion = 0;
};

int ReadNumber(const WCHAR** p) {
  int value = 0;
  while (**p >= u'0' && **p <= u'9') value = value * 10 + (*(*p)++ - u'0');
  return value;
}

// Reads flags, width, precision and size, taking a * from the arguments;
// *p is left on the conversion.
void ReadDirective(const WCHAR** p, va_list* args, Directive* d) {
  while (**p == u'-' || **p == u'+' || **p == u' ' || **p == u'#' || **p == u'0') {
    if (**p == u'-') d->left = true;
    d->narrow += static_cast<char>(*(*p)++);
  }
  if (**p == u'*') {
    ++*p;
    d->width = va_arg(*args, int);
    if (d->width < 0) {
      d->left = true;
      d->width = -d->width;
      d->narrow += '-';
    }
  } else if (**p >= u'0' && **p <= u'9') {
    d->width = ReadNumber(p);
  }
  if (d->width >= 0) d->narrow += std::to_string(d->width);
  if (**p == u'.') {
    ++*p;
    if (**p == u'*') {
      ++*p;
      d->precision = va_arg(*args, int);
    } else {
      d->precision = ReadNumber(p);
    }
    if (d->precision >= 0) d->narrow += "." + std::to_string(d->precision);
  }
  const WCHAR* s = *p;
  if (s[0] == u'h') {
    d->size = Size::Short, *p += 1;
  } else if (s[0] == u'l' && s[1] == u'l') {
    d->size = Size::LongLong, *p += 2;
  } else if (s[0] == u'l' || s[0] == u'L') {
    d->size = Size::Long, *p += 1;
  } else if (s[0] == u'I' && s[1] == u'6' && s[2] == u'4') {
    d->size = Size::LongLong, *p += 3;
  }
  d->conversion = **p;
}

// A number as the C library formats it.
template <typename T>
void PutNumber(Output& out, const Directive& d, const char* length, T value) {
  const std::string full = d.narrow + length + static_cast<char>(d.conversion);
  const int n = std::snprintf(nullptr, 0, full.c_str(), value);
  std::string buffer(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(buffer.data(), buffer.size(), full.c_str(), value);
  buffer.resize(static_cast<size_t>(n > 0 ? n : 0));
  out.PutNarrow(buffer);
}

// %d, %i, %u, %x, %X, %o, the floating conversions and %p. The device's long
// is 32 bits, so "%ld" takes an int.
void PutNumberArgument(Output& out, const Directive& d, va_list* args) {
  switch (d.conversion) {
    case u'd':
    case u'i':
      if (d.size == Size::LongLong) return PutNumber(out, d, "ll", va_arg(*args, long long));
      if (d.size == Size::Short) return PutNumber(out, d, "", static_cast<int>(static_cast<short>(va_arg(*args, int))));
      return PutNumber(out, d, "", va_arg(*args, int));
    case u'u':
    case u'x':
    case u'X':
    case u'o':
      if (d.size == Size::LongLong) return PutNumber(out, d, "ll", va_arg(*args, unsigned long long));
      if (d.size == Size::Short) {
        return PutNumber(out, d, "", static_cast<unsigned>(static_cast<unsigned short>(va_arg(*args, unsigned))));
      }
      return PutNumber(out, d, "", va_arg(*args, unsigned));
    case u'p':
      return PutNumber(out, d, "", va_arg(*args, void*));
    default:  // f, F, e, E, g, G
      return PutNumber(out, d, "", va_arg(*args, double));
  }
}

// %c, %C, %s and %S: c and s take the wide form unless h says narrow; C and
// S take the narrow form unless l says wide.
void PutTextArgument(Output& out, const Directive& d, va_list* args) {
  const bool character = d.conversion == u'c' || d.conversion == u'C';
  const bool lower = d.conversion == u'c' || d.conversion == u's';
  const bool wide = lower ? d.size != Size::Short : d.size == Size::Long;
  std::u16string value;
  if (character) {
    const int c = va_arg(*args, int);
    value.assign(1, wide ? static_cast<char16_t>(c) : static_cast<char16_t>(static_cast<unsigned char>(c)));
  } else if (wide) {
    const WCHAR* s = va_arg(*args, const WCHAR*);
    value = s ? std::u16string(s) : std::u16string(u"(null)");
  } else {
    const char* s = va_arg(*args, const char*);
    for (const char* c = s ? s : "(null)"; *c; ++c) value += static_cast<char16_t>(static_cast<unsigned char>(*c));
  }
  if (!character && d.precision >= 0 && value.size() > static_cast<size_t>(d.precision)) {
    value.resize(static_cast<size_t>(d.precision));
  }
  out.PutPadded(value, d.width, d.left);
}

std::u16string Format(const WCHAR* format, va_list args) {
  std::u16string text;
  Output out(text);
  va_list rest;
  va_copy(rest, args);
  for (const WCHAR* p = format; *p; ++p) {
    if (*p != u'%') {
      out.Put(*p);
      continue;
    }
    ++p;
    if (*p == u'%') {
      out.Put(u'%');
      continue;
    }
    Directive d;
    ReadDirective(&p, &rest, &d);
    if (!d.conversion) break;
    if (std::u16string_view(u"diuxXofFeEgGp").find(d.conversion) != std::u16string_view::npos) {
      PutNumberArgument(out, d, &rest);
    } else if (std::u16string_view(u"cCsS").find(d.conversion) != std::u16string_view::npos) {
      PutTextArgument(out, d, &rest);
    } else {  // an unknown conversion is copied as it stands
      out.Put(u'%');
      out.Put(d.conversion);
    }
  }
  va_end(rest);
  return text;
}

}  // namespace

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  const std::u16string text = Format(format, args);
  const size_t n = std::min(text.size(), count);
  memcpy(buffer, text.data(), n * sizeof(WCHAR));
  if (text.size() < count) {
    buffer[text.size()] = u'\0';
    return static_cast<int>(text.size());
  }
  return text.size() == count ? static_cast<int>(count) : -1;
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vsnwprintf(buffer, count, format, args);
  va_end(args);
  return n;
}
