// The device's file system inside the device root: path mapping, the
// dispositions of CreateFileW with their last errors, share modes, searches,
// copies and module names.
#include "HostTest.h"

namespace cetest {
namespace {

using FileSystemTest = DeviceTest;

HANDLE Create(const char16_t* path, DWORD disposition, DWORD access = GENERIC_READ | GENERIC_WRITE,
              DWORD share = 0) {
  return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(FileSystemTest, DevicePathsMapIntoTheRootWithoutRegardToCase) {
  Boot();
  dir_.Write("Program Files/Wendra/Wendra.cfg", "interval=5\n");
  HANDLE file = Create(u"\\PROGRAM FILES\\wendra\\WENDRA.CFG", OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  char text[32] = {};
  DWORD done = kSentinel;
  EXPECT_TRUE(ReadFile(file, text, sizeof text, &done, nullptr));
  EXPECT_EQ(11u, done);
  EXPECT_STREQ("interval=5\n", text);
  EXPECT_TRUE(CloseHandle(file));

  // A new name keeps the case it is given; the existing directories keep theirs.
  file = Create(u"\\program files\\WENDRA\\Track.LOG", CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_TRUE(dir_.Exists("Program Files/Wendra/Track.LOG"));

  dir_.Write("Müll.txt", "x");
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"\\MÜLL.TXT"));
}

TEST_F(FileSystemTest, DispositionsAnswerWithTheirLastErrors) {
  Boot();
  dir_.Write("log.txt", "old");

  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Create(u"\\log.txt", CREATE_NEW));
  EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());

  SetLastError(kSentinel);
  HANDLE file = Create(u"\\log.txt", OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  CloseHandle(file);
  EXPECT_EQ("old", dir_.Read("log.txt"));

  SetLastError(kSentinel);
  file = Create(u"\\fresh.txt", OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(0u, GetLastError());  // a file created by OPEN_ALWAYS clears it
  CloseHandle(file);

  SetLastError(kSentinel);
  file = Create(u"\\log.txt", CREATE_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  CloseHandle(file);
  EXPECT_EQ("", dir_.Read("log.txt"));

  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Create(u"\\missing.txt", OPEN_EXISTING));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Create(u"\\No Such Dir\\missing.txt", OPEN_EXISTING));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Create(u"\\No Such Dir\\new.txt", CREATE_NEW));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(FileSystemTest, AnExclusiveOpenRefusesASecondOne) {
  Boot();
  HANDLE first = Create(u"\\track.txt", CREATE_NEW, GENERIC_WRITE, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Create(u"\\TRACK.TXT", OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  SetLastError(kSentinel);
  EXPECT_FALSE(CopyFileW(u"\\track.txt", u"\\copy.txt", FALSE));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_TRUE(CloseHandle(first));

  HANDLE again = Create(u"\\track.txt", OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
}

TEST_F(FileSystemTest, WritesAfterSetFilePointerToTheEndAppend) {
  Boot();
  dir_.Write("track.txt", "abc");
  HANDLE file = Create(u"\\track.txt", OPEN_EXISTING, GENERIC_WRITE);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(3u, SetFilePointer(file, 0, nullptr, FILE_END));
  DWORD done = kSentinel;
  EXPECT_TRUE(WriteFile(file, "def", 3, &done, nullptr));
  EXPECT_EQ(3u, done);
  EXPECT_TRUE(FlushFileBuffers(file));
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file, -10, nullptr, FILE_CURRENT));
  EXPECT_EQ(ERROR_NEGATIVE_SEEK, GetLastError());
  CloseHandle(file);
  EXPECT_EQ("abcdef", dir_.Read("track.txt"));
}

TEST_F(FileSystemTest, SetEndOfFileEndsTheFileAtItsPointer) {
  Boot();
  dir_.Write("track.txt", "abcdef");
  HANDLE file = Create(u"\\track.txt", OPEN_EXISTING, GENERIC_WRITE);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(4u, SetFilePointer(file, 4, nullptr, FILE_BEGIN));
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ("abcd", dir_.Read("track.txt"));
  EXPECT_EQ(4u, SetFilePointer(file, 0, nullptr, FILE_CURRENT)) << "the pointer stays";
  EXPECT_EQ(6u, SetFilePointer(file, 6, nullptr, FILE_BEGIN));
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(std::string("abcd\0\0", 6), dir_.Read("track.txt"));
  CloseHandle(file);

  file = Create(u"\\track.txt", OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  SetLastError(kSentinel);
  EXPECT_FALSE(SetEndOfFile(file));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  CloseHandle(file);
  EXPECT_EQ(6u, dir_.Read("track.txt").size());

  SetLastError(kSentinel);
  EXPECT_FALSE(SetEndOfFile(file));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(FileSystemTest, FindFirstFileAnswersMatchesOrFileNotFound) {
  Boot();
  dir_.Write("Program Files/Wendra/Wendra.cfg", "12345");
  WIN32_FIND_DATAW data;
  std::memset(&data, 0xAB, sizeof data);
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(u"\\Program Files\\Wendra\\*.log", &data));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(0xABABABABu, data.dwFileAttributes);

  HANDLE search = FindFirstFileW(u"\\program files\\wendra\\*.CFG", &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  EXPECT_EQ(u"Wendra.cfg", std::u16string(data.cFileName));
  EXPECT_EQ(5u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  SetLastError(kSentinel);
  EXPECT_FALSE(FindNextFileW(search, &data));
  EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_TRUE(FindClose(search));
}

TEST_F(FileSystemTest, CopyRefusesAnExistingTargetAndNeverCopiesAFileOntoItself) {
  Boot();
  dir_.Write("Wendra.cfg", "new");
  dir_.Write("Windows/Wendra.cfg", "old");
  SetLastError(kSentinel);
  EXPECT_FALSE(CopyFileW(u"\\Wendra.cfg", u"\\Windows\\Wendra.cfg", TRUE));
  EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());
  EXPECT_EQ("old", dir_.Read("Windows/Wendra.cfg"));

  EXPECT_TRUE(CopyFileW(u"\\Wendra.cfg", u"\\Windows\\Wendra.cfg", FALSE));
  EXPECT_EQ("new", dir_.Read("Windows/Wendra.cfg"));

  // The same file under another case: the copy must not empty it.
  SetLastError(kSentinel);
  EXPECT_FALSE(CopyFileW(u"\\Wendra.cfg", u"\\WENDRA.CFG", FALSE));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_EQ("new", dir_.Read("Wendra.cfg"));
}

TEST_F(FileSystemTest, DotComponentsAreRefused) {
  Boot();
  for (const char16_t* path : {u"\\Windows\\..\\..\\escape.txt", u"\\.\\here.txt", u"\\Windows\\..\\root.txt"}) {
    SetLastError(kSentinel);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Create(path, CREATE_ALWAYS));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
  }
  EXPECT_FALSE(dir_.Exists("../escape.txt"));
  EXPECT_FALSE(dir_.Exists("here.txt"));
  EXPECT_FALSE(dir_.Exists("root.txt"));
}

TEST_F(FileSystemTest, ModuleFileNameIsCutToTheBuffer) {
  Boot();
  const HMODULE core = GetModuleHandleW(u"COREDLL");
  ASSERT_NE(nullptr, core);
  const std::u16string full = u"\\Windows\\coredll.dll";
  WCHAR name[32];

  std::fill(std::begin(name), std::end(name), u'#');
  SetLastError(kSentinel);
  EXPECT_EQ(full.size(), GetModuleFileNameW(core, name, 32));
  EXPECT_EQ(full, std::u16string(name));
  EXPECT_EQ(kSentinel, GetLastError());

  std::fill(std::begin(name), std::end(name), u'#');
  EXPECT_EQ(7u, GetModuleFileNameW(core, name, 8));
  EXPECT_EQ(full.substr(0, 7), std::u16string(name));
  EXPECT_EQ(u'#', name[8]);

  std::fill(std::begin(name), std::end(name), u'#');
  EXPECT_EQ(full.size() - 1, GetModuleFileNameW(core, name, static_cast<DWORD>(full.size())));
  EXPECT_EQ(full.substr(0, full.size() - 1), std::u16string(name));
}

}  // namespace
}  // namespace cetest
