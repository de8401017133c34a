// The device's wide-character C runtime for UTF-16 text.
#include <fcntl.h>
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>

#include "Kernel.h"
#include "common/DeviceRoot.h"
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

// --- formatting -------------------------------------------------------------

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

 private:
  std::u16string& text_;
};

std::u16string Format(const WCHAR* format, va_list args) {
  std::u16string text;
  Output out(text);
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
    std::string directive = "%";
    bool left = false;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
      if (*p == u'-') left = true;
      directive += static_cast<char>(*p++);
    }
    int width = -1;
    if (*p == u'*') {
      width = va_arg(args, int);
      if (width < 0) {
        left = true;
        width = -width;
        directive += '-';
      }
      ++p;
    } else if (*p >= u'0' && *p <= u'9') {
      width = 0;
      while (*p >= u'0' && *p <= u'9') width = width * 10 + (*p++ - u'0');
    }
    if (width >= 0) directive += std::to_string(width);
    int precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      if (*p == u'*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') precision = precision * 10 + (*p++ - u'0');
      }
      if (precision >= 0) directive += "." + std::to_string(precision);
    }
    enum { kDefault, kShort, kLong, kLongLong } size = kDefault;
    if (*p == u'h') {
      size = kShort, ++p;
    } else if (p[0] == u'l' && p[1] == u'l') {
      size = kLongLong, p += 2;
    } else if (*p == u'l' || *p == u'L') {
      size = kLong, ++p;
    } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
      size = kLongLong, p += 3;
    }
    const WCHAR conversion = *p;
    if (!conversion) break;
    auto narrow = [&](auto value, const char* length) {
      const std::string full = directive + length + static_cast<char>(conversion);
      const int n = std::snprintf(nullptr, 0, full.c_str(), value);
      std::string buffer(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
      std::snprintf(buffer.data(), buffer.size(), full.c_str(), value);
      buffer.resize(static_cast<size_t>(n > 0 ? n : 0));
      out.PutNarrow(buffer);
    };
    auto padded = [&](const std::u16string& value) {
      const int pad = width > static_cast<int>(value.size()) ? width - static_cast<int>(value.size()) : 0;
      if (!left) out.Pad(pad, u' ');
      for (char16_t c : value) out.Put(c);
      if (left) out.Pad(pad, u' ');
    };
    switch (conversion) {
      case u'd':
      case u'i':
        // The device's long is 32 bits, so "%ld" takes an int.
        if (size == kLongLong) {
          narrow(va_arg(args, long long), "ll");
        } else if (size == kShort) {
          narrow(static_cast<int>(static_cast<short>(va_arg(args, int))), "");
        } else {
          narrow(va_arg(args, int), "");
        }
        break;
      case u'u':
      case u'x':
      case u'X':
      case u'o':
        if (size == kLongLong) {
          narrow(va_arg(args, unsigned long long), "ll");
        } else if (size == kShort) {
          narrow(static_cast<unsigned>(static_cast<unsigned short>(va_arg(args, unsigned))), "");
        } else {
          narrow(va_arg(args, unsigned), "");
        }
        break;
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
        narrow(va_arg(args, double), "");
        break;
      case u'p':
        narrow(va_arg(args, void*), "");
        break;
      case u'c':
      case u'C': {
        const bool wide = conversion == u'c' ? size != kShort : size == kLong;
        const int c = va_arg(args, int);
        padded(std::u16string(1, wide ? static_cast<char16_t>(c) : static_cast<char16_t>(static_cast<unsigned char>(c))));
        break;
      }
      case u's':
      case u'S': {
        const bool wide = conversion == u's' ? size != kShort : size == kLong;
        std::u16string value;
        if (wide) {
          const WCHAR* s = va_arg(args, const WCHAR*);
          value = s ? std::u16string(s) : std::u16string(u"(null)");
        } else {
          const char* s = va_arg(args, const char*);
          for (const char* c = s ? s : "(null)"; *c; ++c) value += static_cast<char16_t>(static_cast<unsigned char>(*c));
        }
        if (precision >= 0 && value.size() > static_cast<size_t>(precision)) value.resize(static_cast<size_t>(precision));
        padded(value);
        break;
      }
      default:  // an unknown conversion is copied as it stands
        out.Put(u'%');
        out.Put(conversion);
        break;
    }
  }
  return text;
}

// How a stream's bytes become wide characters: binary mode reads UTF-16LE;
// text mode reads UTF-8, or the device's ANSI code page when the text is not
// UTF-8.
enum class StreamText { Utf16, Utf8, Ansi };

// The streams _wfopen opened and not yet closed. Each is the C library's
// stream on a file of its own, whose close forgets it here, so a stream
// opened later at the same address is never read the old stream's way.
std::mutex streamMutex;
std::map<FILE*, StreamText> streamTexts;

struct WideFile {
  int fd;
  FILE* stream = nullptr;
};

ssize_t ReadWideFile(void* cookie, char* buffer, size_t size) {
  const ssize_t n = ::read(static_cast<WideFile*>(cookie)->fd, buffer, size);
  return n < 0 ? -1 : n;
}

// The C library takes 0 for a failed write, the reason in errno.
ssize_t WriteWideFile(void* cookie, const char* buffer, size_t size) {
  const ssize_t n = ::write(static_cast<WideFile*>(cookie)->fd, buffer, size);
  return n < 0 ? 0 : n;
}

int SeekWideFile(void* cookie, off64_t* offset, int whence) {
  const off_t at = ::lseek(static_cast<WideFile*>(cookie)->fd, *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int CloseWideFile(void* cookie) {
  auto* file = static_cast<WideFile*>(cookie);
  {
    std::lock_guard<std::mutex> lock(streamMutex);
    streamTexts.erase(file->stream);
  }
  const int result = ::close(file->fd);
  delete file;
  return result;
}

// A Japanese device's ANSI code page, 932: Shift_JIS as Windows extends it.
constexpr char kAnsiCodePage[] = "CP932";
constexpr unsigned char kMark[] = {0xEF, 0xBB, 0xBF};

// Text a program wrote on the device is in its ANSI code page; text written
// on a host is mostly UTF-8. A file is taken as UTF-8 when it begins with the
// byte-order mark or when all of it is valid UTF-8, and as code page 932
// otherwise. The stream is left at its start.
StreamText TextOf(FILE* stream) {
  std::string bytes;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) bytes.append(chunk, n);
  std::rewind(stream);
  if (bytes.compare(0, sizeof kMark, reinterpret_cast<const char*>(kMark), sizeof kMark) == 0) return StreamText::Utf8;
  for (size_t i = 0; i < bytes.size();) {
    size_t used;
    cehost::DecodeUtf8(std::string_view(bytes).substr(i), &used);
    if (used == 1 && static_cast<unsigned char>(bytes[i]) >= 0x80) return StreamText::Ansi;
    i += used;
  }
  return StreamText::Utf8;
}

// One character of code page 932 that begins with the byte b. A lead byte
// takes the next byte as its trail when it can be one (a line end cannot);
// a byte that stands for nothing, or a pair the code page lacks, becomes
// U+FFFD. converter is (iconv_t)-1 when the C library lacks the code page.
char32_t DecodeAnsi(int b, FILE* stream, iconv_t converter) {
  if (b < 0x80) return static_cast<char32_t>(b);
  char bytes[2] = {static_cast<char>(b)};
  size_t length = 1;
  if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
    const int trail = std::getc(stream);
    if ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC)) {
      bytes[length++] = static_cast<char>(trail);
    } else {
      if (trail != EOF) std::ungetc(trail, stream);
      return 0xFFFD;
    }
  }
  if (converter == reinterpret_cast<iconv_t>(-1)) return 0xFFFD;
  wchar_t wide;
  char* in = bytes;
  char* out = reinterpret_cast<char*>(&wide);
  size_t inLeft = length, outLeft = sizeof wide;
  if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || outLeft != 0) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return 0xFFFD;
  }
  return static_cast<char32_t>(wide);
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

FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
  if (!path || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  std::string hostPath;
  if (!cehost::MapDevicePath(path, &hostPath)) {
    errno = ENOENT;
    return nullptr;
  }
  std::string hostMode;
  bool binary = false;
  for (const WCHAR* m = mode; *m; ++m) {
    if (*m == u'b') binary = true;
    if (*m == u'r' || *m == u'w' || *m == u'a' || *m == u'+') hostMode += static_cast<char>(*m);
  }
  if (hostMode.empty() || (hostMode[0] != 'r' && hostMode[0] != 'w' && hostMode[0] != 'a')) {
    errno = EINVAL;
    return nullptr;
  }
  // Opened here rather than by fopen, so that a file it creates is the
  // owner's alone (0600) whatever the umask; not inherited by programs this
  // one starts.
  const bool update = hostMode.find('+') != std::string::npos;
  int flags = O_CLOEXEC | (update ? O_RDWR : hostMode[0] == 'r' ? O_RDONLY : O_WRONLY);
  if (hostMode[0] == 'w') flags |= O_CREAT | O_TRUNC;
  if (hostMode[0] == 'a') flags |= O_CREAT | O_APPEND;
  const int fd = ::open(hostPath.c_str(), flags, 0600);
  if (fd < 0) return nullptr;
  auto* file = new WideFile{fd};
  FILE* stream = ::fopencookie(file, hostMode.c_str(),
                               cookie_io_functions_t{ReadWideFile, WriteWideFile, SeekWideFile, CloseWideFile});
  if (!stream) {
    const int err = errno;
    ::close(fd);
    delete file;
    errno = err;
    return nullptr;
  }
  file->stream = stream;
  const StreamText text = binary ? StreamText::Utf16 : hostMode[0] == 'r' ? TextOf(stream) : StreamText::Utf8;
  std::lock_guard<std::mutex> lock(streamMutex);
  streamTexts[stream] = text;
  return stream;
}

WCHAR* fgetws(WCHAR* buffer, int n, FILE* stream) {
  if (!buffer || n <= 0 || !stream) return nullptr;
  StreamText text = StreamText::Utf8;
  {
    std::lock_guard<std::mutex> lock(streamMutex);
    auto it = streamTexts.find(stream);
    if (it != streamTexts.end()) text = it->second;
  }
  const iconv_t converter =
      text == StreamText::Ansi ? iconv_open("WCHAR_T", kAnsiCodePage) : reinterpret_cast<iconv_t>(-1);
  // Asked once a call: a stream's position can cost a system call.
  const bool atStart = std::ftell(stream) == 0;
  int length = 0;
  while (length < n - 1) {
    char32_t cp;
    long consumed = 0;  // bytes of a UTF-8 character, the only kind beyond U+FFFF
    if (text == StreamText::Utf16) {
      const int lo = std::getc(stream);
      if (lo == EOF) break;
      const int hi = std::getc(stream);
      if (hi == EOF) break;
      cp = static_cast<char32_t>(lo | (hi << 8));
    } else {
      int b = std::getc(stream);
      if (b == EOF) break;
      // A byte-order mark at the start is skipped.
      if (atStart && length == 0 && b == kMark[0] && text == StreamText::Utf8) {
        const int b1 = std::getc(stream);
        const int b2 = b1 == kMark[1] ? std::getc(stream) : EOF;
        if (b1 == kMark[1] && b2 == kMark[2]) {
          b = std::getc(stream);
          if (b == EOF) break;
        } else {
          std::fseek(stream, 1, SEEK_SET);
        }
      }
      if (b == '\r') {  // text mode: CR LF arrives as one line feed
        const int next = std::getc(stream);
        if (next == '\n') {
          b = '\n';
        } else if (next != EOF) {
          std::ungetc(next, stream);
        }
      }
      if (text == StreamText::Ansi) {
        cp = DecodeAnsi(b, stream, converter);
      } else {
        char bytes[4] = {static_cast<char>(b)};
        size_t have = 1;
        const auto lead = static_cast<unsigned char>(b);
        const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        while (have < want) {
          const int c = std::getc(stream);
          if (c == EOF) break;
          bytes[have++] = static_cast<char>(c);
        }
        size_t used;
        cp = cehost::DecodeUtf8(std::string_view(bytes, have), &used);
        // Bytes after an invalid sequence are read again as the next character.
        if (used < have) std::fseek(stream, static_cast<long>(used) - static_cast<long>(have), SEEK_CUR);
        consumed = static_cast<long>(used);
      }
    }
    if (cp >= 0x10000) {
      if (length + 2 > n - 1) {  // the pair does not fit: leave it for the next call
        std::fseek(stream, -consumed, SEEK_CUR);
        break;
      }
      buffer[length++] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
      buffer[length++] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      buffer[length++] = static_cast<WCHAR>(cp);
      if (cp == u'\n') break;
    }
  }
  if (converter != reinterpret_cast<iconv_t>(-1)) iconv_close(converter);
  if (length == 0) return nullptr;
  buffer[length] = u'\0';
  return buffer;
}
