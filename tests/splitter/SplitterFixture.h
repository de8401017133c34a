// A device booted in the test with the splitter driver installed, the real
// GPS port COM5: bound to a port the test feeds, and the relay key written.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "TempDir.h"
#include "cehost/Device.h"

namespace cetest {

constexpr DWORD kSentinel = 0xDEADBEEF;

class SplitterFixture : public ::testing::Test {
 protected:
  // Boots with these ports; the driver is not activated yet.
  void Boot(std::vector<std::string> ports = {"COM5:=test"});
  // Writes the relay key as the logger's installer does.
  void WriteRelayKey(DWORD index, DWORD src, DWORD mon);
  // Activates the relay key; the relay activates its tap.
  HANDLE ActivateRelay();
  // Boot, relay key 6 <- 5, tap 7, activation.
  void Start();

  HANDLE Open(const char16_t* name, DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD share = 0);
  cehost::TestPort& Gps() { return *device_->Port("COM5:"); }

  // Reads what is waiting on a handle whose time-outs answer at once.
  std::string ReadNow(HANDLE port, DWORD count);
  static void AnswerAtOnce(HANDLE port);
  // Feeds the GPS and reads the bytes through the relay at once.
  void Relay(HANDLE relay, const std::string& bytes);
  DWORD TapCount(HANDLE tap);

  TempDir dir_;
  std::unique_ptr<cehost::InProcessDevice> device_;
};

// Started, with the relay COM6: (answering reads at once) and the tap COM7: open.
class RelayAndTap : public SplitterFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  HANDLE relay_ = INVALID_HANDLE_VALUE;
  HANDLE tap_ = INVALID_HANDLE_VALUE;
};

std::string Bytes(size_t count, char first = 'a');

}  // namespace cetest
