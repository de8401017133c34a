// The registry's save step by step, on a disk whose flushes the test fails
// at will. This binary defines fsync and rename itself; the device side it
// loads calls them before the C library's, so each step is recorded, and a
// flush fails when the test says.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "TempDir.h"
#include "device/RegistryStore.h"

namespace {

std::mutex stepsMutex;
std::vector<std::string> steps;  // "fsync PATH", "rename FROM TO"
bool failFileSync = false;       // a flush of a regular file fails with ENOSPC
bool failFolderSync = false;     // a flush of a folder fails with EIO

std::string PathOf(int fd) {
  char path[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "?";
}

int OpenDescriptors() {
  int count = 0;
  DIR* fds = ::opendir("/proc/self/fd");
  while (const dirent* entry = ::readdir(fds)) count += entry->d_name[0] != '.';
  ::closedir(fds);
  return count;
}

}  // namespace

extern "C" int fsync(int fd) {
  static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
  struct stat st {};
  const bool isFolder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  {
    std::lock_guard<std::mutex> lock(stepsMutex);
    steps.push_back("fsync " + PathOf(fd));
    if (isFolder ? failFolderSync : failFileSync) {
      errno = isFolder ? EIO : ENOSPC;
      return -1;
    }
  }
  return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
  static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
  {
    std::lock_guard<std::mutex> lock(stepsMutex);
    steps.push_back(std::string("rename ") + from + " " + to);
  }
  return real(from, to);
}

namespace {

class RegistrySyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Load(&error)) << error;
    ASSERT_EQ(ERROR_SUCCESS, store_.CreateKey(u"Software", nullptr));
    std::lock_guard<std::mutex> lock(stepsMutex);
    steps.clear();
  }
  void TearDown() override { failFileSync = failFolderSync = false; }
  LONG Set(const std::u16string& name, DWORD value) {
    return store_.SetValue(u"Software", name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  bool Has(const std::u16string& name) const {
    DWORD type;
    std::vector<BYTE> data;
    return store_.QueryValue(u"Software", name, &type, &data) == ERROR_SUCCESS;
  }
  std::vector<std::string> Steps() {
    std::lock_guard<std::mutex> lock(stepsMutex);
    return steps;
  }

  cetest::TempDir dir_;
  const std::string file_ = dir_.Path() + "/registry.reg";
  cehost::RegistryStore store_{file_};
};

// The new file is flushed, renamed over the old, and the folder flushed
// after the rename, so the change survives a power loss when the call returns.
TEST_F(RegistrySyncTest, ASavedChangeIsFlushedThenRenamedThenItsFolderFlushed) {
  ASSERT_EQ(ERROR_SUCCESS, Set(u"a", 1));
  const int fd = ::open(dir_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::string folder = PathOf(fd);  // the folder's name as the kernel resolves it
  ::close(fd);
  EXPECT_EQ(Steps(), (std::vector<std::string>{"fsync " + folder + "/registry.reg.new",
                                               "rename " + file_ + ".new " + file_, "fsync " + folder}));
}

// A flush that fails leaves the registry as it was, in memory and on disk,
// and every descriptor the save opened closed again.
TEST_F(RegistrySyncTest, AFailingFlushChangesNothingAndLeavesNoDescriptorOpen) {
  ASSERT_EQ(ERROR_SUCCESS, Set(u"kept", 7));
  const std::string before = dir_.Read("registry.reg");
  const int descriptors = OpenDescriptors();
  failFileSync = true;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ERROR_DISK_FULL, Set(u"lost" + std::u16string(1, u'a' + i), 1));
  EXPECT_EQ(ERROR_DISK_FULL, store_.DeleteValue(u"Software", u"kept"));
  EXPECT_EQ(ERROR_DISK_FULL, store_.CreateKey(u"Software\\New", nullptr));
  EXPECT_EQ(descriptors, OpenDescriptors());
  EXPECT_FALSE(Has(u"losta"));
  EXPECT_TRUE(Has(u"kept"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, store_.OpenKey(u"Software\\New"));
  EXPECT_EQ(before, dir_.Read("registry.reg"));
  EXPECT_FALSE(dir_.Exists("registry.reg.new"));
}

// A folder whose flush fails after the rename: the file holds the change, so
// the store keeps it too, and the call says the flush failed.
TEST_F(RegistrySyncTest, AFailingFolderFlushKeepsWhatTheFileHolds) {
  failFolderSync = true;
  EXPECT_EQ(static_cast<LONG>(ERROR_GEN_FAILURE), Set(u"renamed", 3));
  EXPECT_TRUE(Has(u"renamed"));
  EXPECT_NE(std::string::npos, dir_.Read("registry.reg").find("\"renamed\"=dword:00000003"));
}

}  // namespace
