// Stream operations of the relay and the tap, and the tap buffer.
#include "SplitterFixture.h"

namespace cetest {
namespace {

using PortStreamTest = RelayAndTap;

TEST_F(PortStreamTest, TapBufferKeepsTheOldest1200BytesAndDropsTheRest) {
  const std::string first = Bytes(1000, 'a');
  const std::string second = Bytes(300, 'A');
  Relay(relay_, first);
  Relay(relay_, second);  // the relay's client gets all 300
  EXPECT_EQ(1200u, TapCount(tap_));
  Relay(relay_, "lost");
  EXPECT_EQ(1200u, TapCount(tap_));

  const std::string held = first + second.substr(0, 200);
  EXPECT_EQ(held.substr(0, 1199), ReadNow(tap_, 1199));
  EXPECT_EQ(1u, TapCount(tap_));
  EXPECT_EQ(held.substr(1199), ReadNow(tap_, 1199));
}

TEST_F(PortStreamTest, TapReadsDrainOldestFirstAndNeverWait) {
  EXPECT_EQ("", ReadNow(tap_, 100));
  Relay(relay_, "0123456789");
  EXPECT_EQ("", ReadNow(tap_, 0));
  EXPECT_EQ(10u, TapCount(tap_));
  EXPECT_EQ("0123", ReadNow(tap_, 4));
  EXPECT_EQ("456789", ReadNow(tap_, 100));
  EXPECT_EQ(0u, TapCount(tap_));
}

TEST_F(PortStreamTest, TapWriteAnswersTheTextLengthAndStoresNothing) {
  DWORD written = kSentinel;
  EXPECT_TRUE(WriteFile(tap_, "AB\0CD", 5, &written, nullptr));
  EXPECT_EQ(2u, written);
  EXPECT_TRUE(WriteFile(tap_, "ABCDE", 3, &written, nullptr));  // no zero within the count
  EXPECT_EQ(3u, written);
  EXPECT_EQ(0u, TapCount(tap_));
  EXPECT_EQ("", Gps().Written());
}

TEST_F(PortStreamTest, RelayWritesReachTheReceiver) {
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(relay_, "$PSRF100\r\n", 10, &written, nullptr));
  EXPECT_EQ(10u, written);
  EXPECT_EQ("$PSRF100\r\n", Gps().Written());
}

TEST_F(PortStreamTest, SeekIsRefusedOnBothInstances) {
  EXPECT_EQ(0xFFFFFFFFu, SetFilePointer(relay_, 0, nullptr, FILE_BEGIN));
  EXPECT_EQ(0xFFFFFFFFu, SetFilePointer(tap_, 10, nullptr, FILE_CURRENT));
}

TEST_F(PortStreamTest, RelayReadsAreNotCopiedWhileTheTapIsClosed) {
  Relay(relay_, "before");
  CloseHandle(tap_);
  Relay(relay_, "unseen");
  tap_ = Open(u"COM7:");
  EXPECT_EQ(0u, TapCount(tap_));
  Relay(relay_, "after");
  EXPECT_EQ("after", ReadNow(tap_, 100));
}

TEST_F(PortStreamTest, OneCloseEndsTheTapForAllItsClients) {
  HANDLE second = Open(u"COM7:");
  ASSERT_NE(INVALID_HANDLE_VALUE, second);
  Relay(relay_, "shared");
  CloseHandle(second);
  EXPECT_EQ("", ReadNow(tap_, 100));
  EXPECT_EQ(0u, TapCount(tap_));
  Relay(relay_, "dropped");
  EXPECT_EQ(0u, TapCount(tap_));
}

TEST_F(PortStreamTest, SecondRelayClientReopensTheRealPortForBoth) {
  CloseHandle(relay_);
  relay_ = Open(u"COM6:", GENERIC_READ, FILE_SHARE_READ);
  AnswerAtOnce(relay_);
  DWORD written = kSentinel;
  // The real port was opened for reading only.
  EXPECT_TRUE(WriteFile(relay_, "x", 1, &written, nullptr));
  EXPECT_EQ(0u, written);
  HANDLE writer = Open(u"COM6:", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  // One open state for both clients: the first writes through the second's open.
  EXPECT_TRUE(WriteFile(relay_, "y", 1, &written, nullptr));
  EXPECT_EQ(1u, written);
  EXPECT_EQ("y", Gps().Written());
  CloseHandle(writer);
  // The first close ended the real port's use for both.
  Gps().Feed("gone");
  EXPECT_EQ("", ReadNow(relay_, 100));
  EXPECT_TRUE(WriteFile(relay_, "z", 1, &written, nullptr));
  EXPECT_EQ(0u, written);
}

// The real port is opened as the relay's client asked, its sharing too: a
// client that lets others read the GPS leaves the port open to them.
TEST_F(PortStreamTest, RelayOpensTheRealPortWithItsClientsAccessAndShareMode) {
  const struct {
    DWORD access;
    DWORD share;
  } opens[] = {
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {GENERIC_READ | GENERIC_WRITE, 0},
      {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ},
      {GENERIC_WRITE, FILE_SHARE_WRITE},
  };
  for (const auto& open : opens) {
    CloseHandle(relay_);
    relay_ = Open(u"COM6:", open.access, open.share);
    ASSERT_NE(INVALID_HANDLE_VALUE, relay_);
    EXPECT_EQ(open.access, Gps().LastAccess()) << open.share;
    EXPECT_EQ(open.share, Gps().LastShare()) << open.access;
  }
  // A second client's open reopens the real port with its own.
  HANDLE second = Open(u"COM6:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(INVALID_HANDLE_VALUE, second);
  EXPECT_EQ(static_cast<DWORD>(GENERIC_READ), Gps().LastAccess());
  EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE), Gps().LastShare());
  CloseHandle(second);
}

TEST_F(PortStreamTest, ReadWithoutReadAccessIsRefusedOnEitherInstance) {
  for (const char16_t* name : {u"COM6:", u"COM7:"}) {
    HANDLE port = Open(name, GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    char byte;
    DWORD done = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(ReadFile(port, &byte, 1, &done, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ACCESS), GetLastError());
    EXPECT_EQ(0u, done);
    CloseHandle(port);
  }
}

class MissingRealPortTest : public SplitterFixture {};

TEST_F(MissingRealPortTest, RelayOpensWithoutItsRealPortAndReadsNothing) {
  Boot();
  WriteRelayKey(6, 8, 7);  // no COM8: on this device
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateRelay());
  HANDLE relay = Open(u"COM6:");
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  EXPECT_EQ("", ReadNow(relay, 10));
  DWORD written = kSentinel;
  EXPECT_TRUE(WriteFile(relay, "x", 1, &written, nullptr));
  EXPECT_EQ(0u, written);
  CloseHandle(relay);
}

TEST_F(MissingRealPortTest, RealPortIndexTooLongForItsNameIsNeverOpened) {
  Boot({"COM1000:=test"});
  WriteRelayKey(6, 1000, 7);
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateRelay());
  HANDLE relay = Open(u"COM6:");
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  device_->Port("COM1000:")->Feed("never read by the relay");  // longer than the read: it would not block
  DWORD done = kSentinel;
  char buffer[16];
  EXPECT_TRUE(ReadFile(relay, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(0u, done);
  CloseHandle(relay);
}

}  // namespace
}  // namespace cetest
