// The children of cedevice run: started with everything made before the
// fork. This binary's operator new ends a forked child at once with status
// 99, so a child that allocates before its exec is caught every time, not
// only when another thread happens to hold the allocator's lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <thread>

#include "ServedDevice.h"
#include "TempDir.h"
#include "common/ChildProcess.h"

namespace {

const pid_t testProcess = ::getpid();

}  // namespace

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (::getpid() != testProcess) ::_exit(99);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace cetest {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ChildProcessTest, AChildGetsItsOutputItsPipeAndItsEnvironmentWithoutAllocating) {
  TempDir dir;
  const std::string log = dir.Path() + "/run.log";
  int pipe[2];
  ASSERT_EQ(0, ::pipe2(pipe, O_CLOEXEC));
  // An entry given takes the place of the inherited one.
  ::setenv("WENDRA_TEST", "inherited", 1);
  // Another thread of the program allocates all the while, as the device's do.
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    while (!stop) delete new char[64];
  });
  cehost::ChildOptions options;
  options.environment = {"WENDRA_TEST=given"};
  options.output = options.error = log;
  options.append = true;
  options.pipeEnd = pipe[1];
  options.ownGroup = true;
  const pid_t child = cehost::SpawnChild(
      {"/bin/sh", "-c", "echo out; echo err >&2; echo \"three $WENDRA_TEST\" >&3; exit 7"}, options);
  ::unsetenv("WENDRA_TEST");
  ASSERT_GT(child, 0);
  ::close(pipe[1]);
  EXPECT_EQ(7, WaitExit(child, 10000)) << "99: the child allocated before its exec";
  stop = true;
  busy.join();
  char three[64] = {};
  EXPECT_EQ(12, ::read(pipe[0], three, sizeof three));
  EXPECT_EQ("three given\n", std::string(three));
  ::close(pipe[0]);
  EXPECT_EQ("out\nerr\n", Read(log));
}

}  // namespace
}  // namespace cetest
