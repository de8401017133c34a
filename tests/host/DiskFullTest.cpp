// A full disk: calls that cannot be saved whole answer ERROR_DISK_FULL and
// leave what was on disk as it was, and the device goes on.
#include <FileSizeLimit.h>
#include <sys/mount.h>

#include <cerrno>
#include <fstream>

#include "HostTest.h"

namespace cetest {
namespace {

using DiskFullTest = DeviceTest;

// A change the registry file cannot take is refused, not kept in memory to
// be lost later: the file on disk stays the last whole one.
TEST_F(DiskFullTest, ARegistryChangeThatCannotBeSavedIsRefusedAndTheFileStaysWhole) {
  Boot();
  HKEY key = CreateKey(u"Software\\Test");
  SetNumber(key, u"kept", 7);
  const std::string before = dir_.Read("registry.reg");
  const std::u16string big(200, u'x');
  {
    FileSizeLimit full(before.size() + 16);
    ASSERT_TRUE(full.Ok());
    EXPECT_EQ(ERROR_DISK_FULL, RegSetValueExW(key, u"big", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.c_str()),
                                              static_cast<DWORD>((big.size() + 1) * 2)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query(key, u"big").result);
    HKEY sub = nullptr;
    EXPECT_EQ(ERROR_DISK_FULL, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Test\\A key whose name does not fit", 0,
                                               nullptr, 0, 0, nullptr, &sub, nullptr));
    EXPECT_TRUE(SubKeys(u"Software\\Test").empty());
    EXPECT_EQ(before, dir_.Read("registry.reg"));
    EXPECT_FALSE(dir_.Exists("registry.reg.new"));
    EXPECT_EQ(7u, Query(key, u"kept").Number());
  }
  SetText(key, u"big", big);  // with room again, saving goes on
  RegCloseKey(key);
  Reboot();
  EXPECT_EQ(big, Query(u"Software\\Test", u"big").Text());
  EXPECT_EQ(7u, Query(u"Software\\Test", u"kept").Number());
}

// A write the disk cannot take whole leaves nothing of itself, so a reader
// finds only what was written whole; a write that fits still goes.
TEST_F(DiskFullTest, AWriteTheDiskCannotTakeLeavesNothingOfItself) {
  Boot();
  dir_.Write("track.txt", "0123456789");
  HANDLE file = CreateFileW(u"\\track.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ASSERT_EQ(10u, SetFilePointer(file, 0, nullptr, FILE_END));
  {
    FileSizeLimit full(16);
    ASSERT_TRUE(full.Ok());
    DWORD done = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFile(file, "abcdefghij", 10, &done, nullptr));
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    EXPECT_EQ(0u, done);
    EXPECT_EQ("0123456789", dir_.Read("track.txt"));
    EXPECT_EQ(10u, SetFilePointer(file, 0, nullptr, FILE_CURRENT));

    EXPECT_EQ(40u, SetFilePointer(file, 40, nullptr, FILE_BEGIN));
    SetLastError(kSentinel);
    EXPECT_FALSE(SetEndOfFile(file));
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    EXPECT_EQ("0123456789", dir_.Read("track.txt"));

    EXPECT_EQ(10u, SetFilePointer(file, 0, nullptr, FILE_END));
    EXPECT_TRUE(WriteFile(file, "abcde", 5, &done, nullptr));
    EXPECT_EQ(5u, done);
  }
  CloseHandle(file);
  EXPECT_EQ("0123456789abcde", dir_.Read("track.txt"));
}

// A copy the disk cannot take whole leaves no target, not even the one it
// was to replace, and keeps the reason: a truncated driver under its name
// would never be installed again.
TEST_F(DiskFullTest, ACopyTheDiskCannotTakeWholeLeavesNoTarget) {
  Boot();
  dir_.Write("Ravelink.Dll", std::string(200000, 'd'));
  dir_.Write("Windows/Old.Dll", "old");
  {
    FileSizeLimit full(100000);
    ASSERT_TRUE(full.Ok());
    for (const char16_t* target : {u"\\Windows\\Ravelink.Dll", u"\\Windows\\Old.Dll"}) {
      SetLastError(kSentinel);
      EXPECT_FALSE(CopyFileW(u"\\Ravelink.Dll", target, FALSE));
      EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    }
    EXPECT_FALSE(dir_.Exists("Windows/Ravelink.Dll"));
    EXPECT_FALSE(dir_.Exists("Windows/Old.Dll"));
  }
  EXPECT_TRUE(QUIETLY(CopyFileW(u"\\Ravelink.Dll", u"\\Windows\\Ravelink.Dll", FALSE)));
  EXPECT_EQ(dir_.Read("Ravelink.Dll"), dir_.Read("Windows/Ravelink.Dll"));
}

// A card that is full to its last file: a new file cannot be made. Needs a
// file system of its own, a tmpfs mounted as the device's storage card,
// which only root may mount.
TEST_F(DiskFullTest, ANewFileOnAFullCardIsRefused) {
  Boot();
  const std::string card = dir_.Path() + "/Storage Card";
  ASSERT_EQ(0, ::mkdir(card.c_str(), 0700));
  if (::mount("tmpfs", card.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k,nr_inodes=4,mode=0700") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{card};
  for (int i = 0; std::ofstream(card + "/filler" + std::to_string(i)); ++i) {
  }
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(u"\\Storage Card\\20081207090502.txt", GENERIC_WRITE, 0, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
}

}  // namespace
}  // namespace cetest
