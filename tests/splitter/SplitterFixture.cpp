#include "SplitterFixture.h"

#include <pkfuncs.h>

namespace cetest {

void SplitterFixture::Boot(std::vector<std::string> ports) {
  InstallDriver(dir_.Path(), RAVELINK_DLL);
  cehost::BootOptions options;
  options.root = dir_.Path();
  options.ports = std::move(ports);
  std::string error;
  device_ = cehost::InProcessDevice::Boot(options, &error);
  ASSERT_TRUE(device_) << error;
}

void SplitterFixture::WriteRelayKey(DWORD index, DWORD src, DWORD mon) {
  ASSERT_TRUE(cetest::WriteRelayKey(index, src, mon));
}

HANDLE SplitterFixture::ActivateRelay() { return ActivateDevice(u"Drivers\\BuiltIn\\Ravelink", 0); }

void SplitterFixture::Start() {
  Boot();
  ASSERT_TRUE(device_);
  WriteRelayKey(6, 5, 7);
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateRelay());
}

HANDLE SplitterFixture::Open(const char16_t* name, DWORD access, DWORD share) {
  return CreateFileW(name, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

void SplitterFixture::AnswerAtOnce(HANDLE port) {
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
}

std::string SplitterFixture::ReadNow(HANDLE port, DWORD count) {
  std::string bytes(count, '\0');
  DWORD done = 0;
  EXPECT_TRUE(ReadFile(port, bytes.data(), count, &done, nullptr));
  bytes.resize(done);
  return bytes;
}

void SplitterFixture::Relay(HANDLE relay, const std::string& bytes) {
  Gps().Feed(bytes);
  EXPECT_EQ(bytes, ReadNow(relay, static_cast<DWORD>(bytes.size())));
}

DWORD SplitterFixture::TapCount(HANDLE tap) {
  COMSTAT status{};
  DWORD errors = 0;
  EXPECT_TRUE(ClearCommError(tap, &errors, &status));
  return status.cbInQue;
}

void RelayAndTap::SetUp() {
  Start();
  relay_ = Open(u"COM6:");
  tap_ = Open(u"COM7:");
  ASSERT_NE(INVALID_HANDLE_VALUE, relay_);
  ASSERT_NE(INVALID_HANDLE_VALUE, tap_);
  AnswerAtOnce(relay_);
}

void RelayAndTap::TearDown() {
  CloseHandle(relay_);
  CloseHandle(tap_);
}

std::string Bytes(size_t count, char first) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(first + i % 26);
  return bytes;
}

}  // namespace cetest
