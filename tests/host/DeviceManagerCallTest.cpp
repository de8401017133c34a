// The device manager's count of calls inside a driver: a device is taken
// away only when no thread is inside it any more.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "TempDir.h"
#include "device/DeviceManager.h"
#include "device/RegistryStore.h"

namespace {

// A device whose control call stays inside the driver until the test lets it go.
class HeldDevice : public cehost::StreamDevice {
 public:
  DWORD_PTR Open(DWORD, DWORD) override { return 1; }
  BOOL Close(DWORD_PTR) override { return TRUE; }
  DWORD Read(DWORD_PTR, void*, DWORD) override { return 0; }
  DWORD Write(DWORD_PTR, const void*, DWORD) override { return 0; }
  DWORD Seek(DWORD_PTR, LONG, DWORD) override { return 0; }
  BOOL IOControl(DWORD_PTR, DWORD, BYTE*, DWORD, BYTE*, DWORD, DWORD*) override {
    std::unique_lock<std::mutex> lock(mutex);
    inside = true;
    changed.notify_all();
    changed.wait(lock, [this] { return released; });
    inside = false;
    return TRUE;
  }
  BOOL Deinit() override {
    std::lock_guard<std::mutex> lock(mutex);
    deinited = true;
    deinitedWhileInside = inside;
    changed.notify_all();
    return TRUE;
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false;
  bool released = false;
  bool deinited = false;
  bool deinitedWhileInside = false;
};

// True when the thread is blocked (sleeping in the kernel).
bool Blocked(pid_t thread) {
  std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto end = line.rfind(')');
  return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S';
}

TEST(DeviceManagerCallTest, ADeviceIsDeinitializedOnlyAfterTheLastCallInsideItReturns) {
  cetest::TempDir dir;
  cehost::RegistryStore registry(dir.Path() + "/registry");
  cehost::DeviceManager manager(registry);
  auto device = std::make_shared<HeldDevice>();
  std::string error;
  ASSERT_TRUE(manager.AddBuiltIn(u"TST1:", device, &error)) << error;
  const DWORD file = manager.Open(1, u"TST1:", GENERIC_READ, 0);
  ASSERT_NE(0u, file);

  std::thread call([&] { manager.IoControl(1, file, 0x1234, nullptr, 0, nullptr, 0, nullptr); });
  {
    std::unique_lock<std::mutex> lock(device->mutex);
    device->changed.wait(lock, [&] { return device->inside; });
  }
  std::atomic<pid_t> stopping{0};
  std::thread stop([&] {
    stopping = static_cast<pid_t>(::syscall(SYS_gettid));
    manager.Shutdown();
  });
  // The call goes on once the shutdown waits for it, or has gone on without waiting.
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(device->mutex);
      if (device->deinited) break;
    }
    if (stopping != 0 && Blocked(stopping)) break;
    std::this_thread::yield();
  }
  {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->released = true;
    device->changed.notify_all();
  }
  call.join();
  stop.join();
  EXPECT_TRUE(device->deinited);
  EXPECT_FALSE(device->deinitedWhileInside);

  // The device is gone: its file with it.
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(manager.IoControl(1, file, 0x1234, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

}  // namespace
