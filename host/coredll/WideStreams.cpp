// The device's wide-character file streams: _wfopen and fgetws, with the
// text of a file read as UTF-16 (binary), UTF-8 or the ANSI code page.
#include <fcntl.h>
#include <iconv.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "Kernel.h"
#include "common/Utf.h"

namespace {

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

// Skips a UTF-8 byte-order mark that begins the stream, whose first byte b
// was read; b becomes the byte after it. False at the end of the stream.
bool SkipMark(FILE* stream, int* b) {
  if (*b != kMark[0]) return true;
  const int b1 = std::getc(stream);
  const int b2 = b1 == kMark[1] ? std::getc(stream) : EOF;
  if (b1 == kMark[1] && b2 == kMark[2]) {
    *b = std::getc(stream);
    return *b != EOF;
  }
  std::fseek(stream, 1, SEEK_SET);
  return true;
}

// One UTF-8 character whose lead byte b was read. Bytes after an invalid
// sequence are read again as the next character; consumed is what it took.
char32_t DecodeUtf8Character(int b, FILE* stream, long* consumed) {
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
  const char32_t cp = cehost::DecodeUtf8(std::string_view(bytes, have), &used);
  if (used < have) std::fseek(stream, static_cast<long>(used) - static_cast<long>(have), SEEK_CUR);
  *consumed = static_cast<long>(used);
  return cp;
}

// The next character of a stream, or false at its end. A text stream reads
// CR LF as one line feed and skips a byte-order mark at its start.
// consumed: the bytes of a UTF-8 character, the only kind beyond U+FFFF.
bool ReadCharacter(FILE* stream, StreamText text, iconv_t converter, bool atStart, char32_t* cp, long* consumed) {
  *consumed = 0;
  if (text == StreamText::Utf16) {
    const int lo = std::getc(stream);
    const int hi = lo == EOF ? EOF : std::getc(stream);
    if (hi == EOF) return false;
    *cp = static_cast<char32_t>(lo | (hi << 8));
    return true;
  }
  int b = std::getc(stream);
  if (b == EOF || (atStart && text == StreamText::Utf8 && !SkipMark(stream, &b))) return false;
  if (b == '\r') {
    const int next = std::getc(stream);
    if (next == '\n') {
      b = '\n';
    } else if (next != EOF) {
      std::ungetc(next, stream);
    }
  }
  *cp = text == StreamText::Ansi ? DecodeAnsi(b, stream, converter) : DecodeUtf8Character(b, stream, consumed);
  return true;
}

}  // namespace

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
  char32_t cp;
  long consumed;
  while (length < n - 1 && ReadCharacter(stream, text, converter, atStart && length == 0, &cp, &consumed)) {
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
