// The device's wide-character runtime: formatting with its truncation rule,
// decimal reading, and text streams read line by line.
#include <cerrno>
#include <cstdio>

#include "HostTest.h"

namespace cetest {
namespace {

std::u16string Format(const char16_t* format, ...) {
  WCHAR buffer[128];
  va_list args;
  va_start(args, format);
  const int n = _vsnwprintf(buffer, 128, format, args);
  va_end(args);
  EXPECT_GE(n, 0);
  return n < 0 ? u"<cut>" : std::u16string(buffer, static_cast<size_t>(n));
}

TEST(WideFormatTest, FormatsAsTheDeviceRuntimeDoes) {
  EXPECT_EQ(u"N 48.1173000", Format(u"%c%11.7f", u'N', 48.1173));
  EXPECT_EQ(u"E011.5166670", Format(u"%c%011.7f", u'E', 11.516667));
  EXPECT_EQ(u"12.3|-0.0|100.0", Format(u"%.1f|%.1f|%.1f", 12.34, -0.04, 99.96));
  EXPECT_EQ(u"COM6:", Format(u"COM%d:", 6));
  EXPECT_EQ(u"wide narrow wide narrow", Format(u"%s %S %ls %hs", u"wide", "narrow", u"wide", "narrow"));
  EXPECT_EQ(u"-5 4294967295 ff", Format(u"%ld %lu %x", static_cast<LONG>(-5), static_cast<DWORD>(MAXDWORD), 255));
  EXPECT_EQ(u"[  ab][ab  ]", Format(u"[%4s][%-4s]", u"ab", u"ab"));
}

TEST(WideFormatTest, TruncationAnswersMinusOneWithoutATerminator) {
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(-1, _snwprintf(buffer, 4, u"COM%d:", 12));
  EXPECT_EQ(u"COM1####", std::u16string(buffer, 8));

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(5, _snwprintf(buffer, 5, u"COM%d:", 6));  // exactly count: no terminator
  EXPECT_EQ(u"COM6:###", std::u16string(buffer, 8));

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(5, _snwprintf(buffer, 6, u"COM%d:", 6));
  EXPECT_EQ(std::u16string(u"COM6:\0##", 8), std::u16string(buffer, 8));
}

TEST(WideRuntimeTest, WcstolReadsDecimalTextAndSaturates) {
  struct Case {
    const char16_t* text;
    LONG value;
    size_t used;
  };
  const Case cases[] = {
      {u"  -42xyz", -42, 5},          {u"\t+7", 7, 3},
      {u"abc", 0, 0},                 {u"-", 0, 0},
      {u"0x1A", 0, 1},                {u"2147483647", 2147483647, 10},
      {u"2147483648", 2147483647, 10}, {u"-2147483648", -2147483647 - 1, 11},
      {u"-99999999999999999999", -2147483647 - 1, 21},
  };
  for (const Case& c : cases) {
    WCHAR* end = nullptr;
    EXPECT_EQ(c.value, wcstol(c.text, &end, 10)) << std::string(c.text, c.text + wcslen(c.text));
    EXPECT_EQ(c.used, static_cast<size_t>(end - c.text));
  }
  errno = 0;
  wcstol(u"4294967296", nullptr, 10);
  EXPECT_EQ(ERANGE, errno);
}

TEST(WideRuntimeTest, CaseIsFoldedBeyondAscii) {
  EXPECT_EQ(0, _wcsicmp(u"Überblick COM6:", u"überBLICK com6:"));
  EXPECT_EQ(0, _wcsnicmp(u"ÉTÉ-1", u"été-2", 4));
  WCHAR text[] = u"straße café";
  EXPECT_EQ(u"STRAßE CAFÉ", std::u16string(_wcsupr(text)));
  EXPECT_EQ(u"straße café", std::u16string(_wcslwr(text)));
}

using WideStreamTest = DeviceTest;

TEST_F(WideStreamTest, TextModeDecodesUtf8LineByLine) {
  Boot();
  dir_.Write("Program Files/Wendra/notes.txt",
             "\xEF\xBB\xBF"                // byte-order mark
             "\xE6\x9D\xB1\xE4\xBA\xAC\r\n"  // two Japanese characters, CR LF
             "A\xFF" "B\n"                 // an invalid byte
             "0123456789\n"
             "x\xF0\x9F\x9B\xB0y");        // U+1F6F0, outside the BMP, and no line end
  FILE* stream = _wfopen(u"\\PROGRAM FILES\\Wendra\\Notes.txt", u"rt");
  ASSERT_NE(nullptr, stream);
  WCHAR line[16];
  auto next = [&](int size) {
    std::fill(std::begin(line), std::end(line), u'#');
    return fgetws(line, size, stream) ? std::u16string(line) : u"<end>";
  };
  EXPECT_EQ(u"東京\n", next(16));
  EXPECT_EQ(u"A\uFFFDB\n", next(16));
  EXPECT_EQ(u"0123", next(5));  // longer than the buffer: in pieces
  EXPECT_EQ(u"4567", next(5));
  EXPECT_EQ(u"89\n", next(5));
  EXPECT_EQ(u"x", next(3));  // the pair does not fit after "x": it waits for the next call
  EXPECT_EQ(u"\xD83D\xDEF0", next(3));
  EXPECT_EQ(u"y", next(3));
  EXPECT_EQ(u"<end>", next(3));
  std::fclose(stream);

  EXPECT_EQ(nullptr, _wfopen(u"\\Program Files\\Wendra\\missing.txt", u"r"));
}

// Text that is not UTF-8 is the device's ANSI code page 932.
TEST_F(WideStreamTest, TextModeReadsCodePage932WhenTheTextIsNotUtf8) {
  Boot();
  auto lines = [&](const std::string& bytes) {
    dir_.Write("text.txt", bytes);
    FILE* stream = _wfopen(u"\\text.txt", u"r");
    std::u16string all;
    if (!stream) return all;
    WCHAR line[64];
    while (fgetws(line, 64, stream)) all += line;
    std::fclose(stream);
    return all;
  };
  // Without a mark, valid UTF-8 is UTF-8.
  EXPECT_EQ(u"東京\n", lines("\xE6\x9D\xB1\xE4\xBA\xAC\n"));
  EXPECT_EQ(u"ナビ\n"         // 83 69 83 72
            u"\\ソ\\表\\\n"  // 5C, then 83 5C and 95 5C: a trail byte that is a backslash
            u"ｱ~\n"          // B1, a half-width katakana; 7E
            u"\uFFFDa\uFFFD\uFFFD\n"  // 80, a, A0 and FF stand for nothing
            u"\uFFFD\n"        // 85 40, a pair the code page lacks
            u"\uFFFD\n"        // a lead byte before the line end: the line end stays
            u"\uFFFD",         // a lead byte at the end
            lines("\x83\x69\x83\x72\r\n"
                  "\x5C\x83\x5C\x5C\x95\x5C\x5C\n"
                  "\xB1~\n"
                  "\x80" "a\xA0\xFF\n"
                  "\x85\x40\n"
                  "\x83\n"
                  "\x83"));
  // The mark says UTF-8 whatever follows.
  EXPECT_EQ(u"ナ\uFFFD\n", lines("\xEF\xBB\xBF\xE3\x83\x8A\x83\n"));
}

}  // namespace
}  // namespace cetest
