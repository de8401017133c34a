// The device manager's count of calls inside a driver: a device is taken
// away only when no thread is inside it any more, and only once.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <pkfuncs.h>

#include "ServedDevice.h"
#include "TempDir.h"
#include "cehost/Device.h"
#include "device/Device.h"
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
    ++deinits;
    deinitedWhileInside = deinitedWhileInside || inside;
    changed.notify_all();
    return TRUE;
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false;
  bool released = false;
  int deinits = 0;
  bool deinitedWhileInside = false;
};

// Lets the held call return once this many threads wait for the device to
// go, or once it was deinitialised without waiting (a fault the test reports),
// or after 10 s, a fault the test reports too. The manager's counts have no
// event to wait on: they are looked at again and again, within the bound.
void ReleaseWhenWaitedFor(cehost::DeviceManager& manager, HeldDevice& device, int waiting) {
  const bool waited = cetest::Retry([&] {
    std::lock_guard<std::mutex> lock(device.mutex);
    return device.deinits > 0 || manager.RemovalsWaiting() >= waiting;
  });
  EXPECT_TRUE(waited) << "no " << waiting << " removals waited for the device within 10 s";
  std::lock_guard<std::mutex> lock(device.mutex);
  device.released = true;
  device.changed.notify_all();
}

class DeviceManagerCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(manager_.AddBuiltIn(u"TST1:", device_, &error)) << error;
    file_ = manager_.Open(1, u"TST1:", GENERIC_READ, 0);
    ASSERT_NE(0u, file_);
    call_ = std::thread([this] { manager_.IoControl(1, file_, 0x1234, nullptr, 0, nullptr, 0, nullptr); });
    std::unique_lock<std::mutex> lock(device_->mutex);
    ASSERT_TRUE(device_->changed.wait_for(lock, std::chrono::seconds(10), [this] { return device_->inside; }))
        << "the call never entered the driver";
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(device_->mutex);
      device_->released = true;
      device_->changed.notify_all();
    }
    if (call_.joinable()) call_.join();
  }

  cetest::TempDir dir_;
  cehost::RegistryStore registry_{dir_.Path() + "/registry"};
  cehost::DeviceManager manager_{registry_};
  std::shared_ptr<HeldDevice> device_ = std::make_shared<HeldDevice>();
  DWORD file_ = 0;
  std::thread call_;
};

TEST_F(DeviceManagerCallTest, ADeviceIsDeinitializedOnlyAfterTheLastCallInsideItReturns) {
  std::thread stop([&] { manager_.Shutdown(); });
  ReleaseWhenWaitedFor(manager_, *device_, 1);
  call_.join();
  stop.join();
  EXPECT_EQ(1, device_->deinits);
  EXPECT_FALSE(device_->deinitedWhileInside);

  // The device is gone: its file with it.
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(manager_.IoControl(1, file_, 0x1234, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// Two shutdowns at once (the device's own and a stop): one waits for the
// call inside, the other for that removal, and Deinit runs once.
TEST_F(DeviceManagerCallTest, TwoRemovalsOfOneDeviceDeinitializeItOnce) {
  std::thread first([&] { manager_.Shutdown(); });
  std::thread second([&] { manager_.Shutdown(); });
  ReleaseWhenWaitedFor(manager_, *device_, 2);
  call_.join();
  first.join();
  second.join();
  EXPECT_EQ(1, device_->deinits);
  EXPECT_FALSE(device_->deinitedWhileInside);
}

// Two DeactivateDevice calls of the relay at once, while a read waits inside
// it: one takes the device away once the read is done, the other is told at
// once, as for a device already gone.
TEST(DeviceDeactivationTest, TheSecondOfTwoDeactivationsAtOnceFindsTheDeviceGone) {
  cetest::TempDir dir;
  cetest::InstallDriver(dir.Path(), RAVELINK_DLL);
  cehost::BootOptions options;
  options.root = dir.Path();
  options.ports = {"COM5:=test"};
  std::string error;
  auto device = cehost::InProcessDevice::Boot(options, &error);
  ASSERT_TRUE(device) << error;
  ASSERT_TRUE(cetest::WriteRelayKey(6, 5, 7));
  HANDLE relayDevice = ActivateDevice(u"Drivers\\BuiltIn\\Ravelink", 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, relayDevice);
  HANDLE relay = CreateFileW(u"COM6:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  COMMTIMEOUTS untilRead{0, 0, 0, 0, 0};  // a read waits until its count has come
  ASSERT_TRUE(SetCommTimeouts(relay, &untilRead));
  std::thread reader([&] {
    char buffer[4];
    DWORD done = 0;
    ReadFile(relay, buffer, sizeof buffer, &done, nullptr);
  });
  // The read is inside the relay's driver before anything removes it.
  const cehost::DeviceManager& manager = device->Get()->Manager();
  ASSERT_TRUE(cetest::Retry([&] { return manager.CallsInside(u"COM6:") > 0; })) << "the read never entered";

  struct Answer {
    BOOL ok;
    DWORD error;
  };
  std::promise<Answer> firstAnswer;
  std::atomic<bool> answered{false};
  auto deactivate = [&] {
    SetLastError(0xDEADBEEF);
    const Answer answer{DeactivateDevice(relayDevice), GetLastError()};
    if (!answered.exchange(true)) firstAnswer.set_value(answer);
    return answer;
  };
  auto one = std::async(std::launch::async, deactivate);
  auto two = std::async(std::launch::async, deactivate);
  // Nothing but the read holds the first back: the second answers while it waits.
  auto first = firstAnswer.get_future();
  const bool inTime = first.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  EXPECT_TRUE(inTime) << "both deactivations waited for the read";
  if (inTime) {
    const Answer answer = first.get();
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), answer.error);
  }
  device->Port("COM5:")->Feed("$GPGGA\r\n");
  reader.join();
  const Answer a = one.get(), b = two.get();
  EXPECT_EQ(1, (a.ok ? 1 : 0) + (b.ok ? 1 : 0));
  CloseHandle(relay);
}

}  // namespace
