// Serial control requests on the relay and the tap, made as a client makes
// them: through DeviceIoControl and the serial calls.
#include <pegdser.h>
#include <pkfuncs.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "ServedDevice.h"
#include "SplitterFixture.h"

namespace cetest {
namespace {

class SerialControlTest : public RelayAndTap {
 protected:
  // A request with a heap buffer of exactly the given size, so that any
  // touch beyond it is caught.
  BOOL Control(HANDLE port, DWORD code, std::vector<BYTE>* in, std::vector<BYTE>* out, DWORD* returned) {
    return DeviceIoControl(port, code, in ? in->data() : nullptr, in ? static_cast<DWORD>(in->size()) : 0,
                           out ? out->data() : nullptr, out ? static_cast<DWORD>(out->size()) : 0, returned,
                           nullptr);
  }
};

TEST_F(SerialControlTest, TapStatusReportsTheBytesWaitingAndKeepsTheCallersBits) {
  Relay(relay_, Bytes(37));
  std::vector<BYTE> out(sizeof(SERIAL_DEV_STATUS), 0xFF);
  DWORD returned = kSentinel;
  ASSERT_TRUE(Control(tap_, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, &out, &returned));
  EXPECT_EQ(16u, returned);
  SERIAL_DEV_STATUS status;
  std::memcpy(&status, out.data(), sizeof status);
  DWORD flags;
  std::memcpy(&flags, &status.ComStat, sizeof flags);
  EXPECT_EQ(0xFFFFFFFFu, status.Errors);
  EXPECT_EQ(0xFFFFFFDFu, flags);  // only fEof cleared
  EXPECT_EQ(37u, status.ComStat.cbInQue);
  EXPECT_EQ(0u, status.ComStat.cbOutQue);
}

TEST_F(SerialControlTest, StatusWithAShortOrMissingOutputIsAnInvalidParameter) {
  for (HANDLE port : {relay_, tap_}) {
    std::vector<BYTE> out(12, 0xAB);
    DWORD returned = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(Control(port, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, &out, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0u, returned);
    EXPECT_EQ(std::vector<BYTE>(12, 0xAB), out);

    out.assign(16, 0xAB);
    SetLastError(kSentinel);
    EXPECT_FALSE(Control(port, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, &out, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(std::vector<BYTE>(16, 0xAB), out);
  }
}

TEST_F(SerialControlTest, RelayForwardsToTheRealPort) {
  COMMTIMEOUTS set{10, 20, 30, 40, 50};
  ASSERT_TRUE(SetCommTimeouts(relay_, &set));
  COMMTIMEOUTS got{};
  ASSERT_TRUE(GetCommTimeouts(relay_, &got));
  EXPECT_EQ(0, std::memcmp(&set, &got, sizeof set));
  AnswerAtOnce(relay_);

  DCB dcb{};
  ASSERT_TRUE(GetCommState(relay_, &dcb));
  EXPECT_EQ(4800u, dcb.BaudRate);
  dcb.BaudRate = 9600;
  ASSERT_TRUE(SetCommState(relay_, &dcb));
  DCB again{};
  ASSERT_TRUE(GetCommState(relay_, &again));
  EXPECT_EQ(9600u, again.BaudRate);

  EXPECT_TRUE(EscapeCommFunction(relay_, SETDTR));
  EXPECT_TRUE(EscapeCommFunction(relay_, SETRTS));
  EXPECT_TRUE(Gps().Dtr());
  EXPECT_TRUE(Gps().Rts());
  EXPECT_TRUE(EscapeCommFunction(relay_, CLRDTR));
  EXPECT_FALSE(Gps().Dtr());

  EXPECT_TRUE(TransmitCommChar(relay_, 0x11));
  EXPECT_EQ("\x11", Gps().Written());

  Gps().Feed("waiting");
  COMSTAT status{};
  ASSERT_TRUE(ClearCommError(relay_, nullptr, &status));
  EXPECT_EQ(7u, status.cbInQue);
  EXPECT_TRUE(PurgeComm(relay_, PURGE_RXCLEAR));
  ASSERT_TRUE(ClearCommError(relay_, nullptr, &status));
  EXPECT_EQ(0u, status.cbInQue);

  COMMPROP prop{};
  EXPECT_TRUE(GetCommProperties(relay_, &prop));
  EXPECT_EQ(4096u, prop.dwCurrentRxQueue);
  EXPECT_TRUE(SetupComm(relay_, 2048, 512));
}

TEST_F(SerialControlTest, RelayWaitsForEventsOfTheRealPort) {
  ASSERT_TRUE(SetCommMask(relay_, EV_RXCHAR));
  DWORD mask = 0;
  ASSERT_TRUE(GetCommMask(relay_, &mask));
  EXPECT_EQ(EV_RXCHAR, mask);
  DWORD event = 0;
  BOOL waited = FALSE;
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    waited = WaitCommEvent(relay_, &event, nullptr);
    done = true;
  });
  // The wait ends with the first byte that arrives after it began; nothing
  // tells when it has begun, so bytes come until it has ended.
  const bool ended = cetest::Retry([&] {
    Gps().Feed("$");
    return done.load();
  });
  if (!ended) SetCommMask(relay_, EV_RXCHAR);  // ends the wait, so its thread can be joined
  waiter.join();
  EXPECT_TRUE(ended) << "no byte ended the wait within 10 s";
  EXPECT_TRUE(waited);
  EXPECT_EQ(EV_RXCHAR, event);
}

TEST_F(SerialControlTest, RelaySetDcbWithAWrongLengthLeavesTheRealPortUntouched) {
  DCB before{};
  ASSERT_TRUE(GetCommState(relay_, &before));
  std::vector<BYTE> in(sizeof(DCB));
  DCB changed = before;
  changed.DCBlength = 24;
  changed.BaudRate = 115200;
  std::memcpy(in.data(), &changed, sizeof changed);
  SetLastError(kSentinel);
  EXPECT_FALSE(Control(relay_, IOCTL_SERIAL_SET_DCB, &in, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  DCB after{};
  ASSERT_TRUE(GetCommState(relay_, &after));
  EXPECT_EQ(before.BaudRate, after.BaudRate);
  EXPECT_TRUE(Control(tap_, IOCTL_SERIAL_SET_DCB, &in, nullptr, nullptr));
}

TEST_F(SerialControlTest, ShortInputsAreRefusedWithoutBeingRead) {
  struct Case {
    DWORD code;
    size_t shortSize;
  };
  for (const Case& c : {Case{IOCTL_SERIAL_SET_WAIT_MASK, 3}, Case{IOCTL_SERIAL_SET_TIMEOUTS, 19},
                        Case{IOCTL_SERIAL_PURGE, 3}, Case{IOCTL_SERIAL_SET_QUEUE_SIZE, 7},
                        Case{IOCTL_SERIAL_IMMEDIATE_CHAR, 0}, Case{IOCTL_SERIAL_SET_DCB, 27}}) {
    std::vector<BYTE> in(c.shortSize, 0);
    DWORD returned = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(Control(relay_, c.code, c.shortSize ? &in : nullptr, nullptr, &returned)) << c.code;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << c.code;
    EXPECT_EQ(kSentinel, returned) << "a request without output never writes its count";
  }
  EXPECT_EQ("", Gps().Written());
}

TEST_F(SerialControlTest, RequestsOutsideTheSerialSetAreRefusedSilently) {
  for (DWORD code : {CTL_CODE(FILE_DEVICE_SERIAL_PORT, 24, METHOD_BUFFERED, FILE_ANY_ACCESS),
                     CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0, METHOD_BUFFERED, FILE_ANY_ACCESS),
                     CTL_CODE(0x22, 12, METHOD_BUFFERED, FILE_ANY_ACCESS),
                     CTL_CODE(FILE_DEVICE_SERIAL_PORT, 12, METHOD_NEITHER, FILE_ANY_ACCESS)}) {
    for (HANDLE port : {relay_, tap_}) {
      std::vector<BYTE> out(64, 0);
      DWORD returned = kSentinel;
      SetLastError(kSentinel);
      EXPECT_FALSE(Control(port, code, nullptr, &out, &returned));
      EXPECT_EQ(kSentinel, GetLastError());
      EXPECT_EQ(kSentinel, returned);
    }
  }
}

TEST_F(SerialControlTest, ProcessExitNoticeClosesTheRelaysRealPort) {
  // The platform's record, laid out by hand: dwSize 16, dwFlags, process, thread.
  DWORD notice[4] = {16, 5, 1, 1};
  std::vector<BYTE> in(16);
  std::memcpy(in.data(), notice, 16);
  EXPECT_TRUE(Control(relay_, IOCTL_PSL_NOTIFY, &in, nullptr, nullptr));
  Relay(relay_, "still open");

  // A notice whose record is missing is answered and not read.
  EXPECT_TRUE(DeviceIoControl(relay_, IOCTL_PSL_NOTIFY, nullptr, 16, nullptr, 0, nullptr, nullptr));
  Relay(relay_, "still open");

  // A record of another size is not the notice, whatever it says.
  notice[1] = DLL_PROCESS_EXITING;
  std::vector<BYTE> longer(24, 0);
  std::memcpy(longer.data(), notice, 16);
  EXPECT_TRUE(Control(relay_, IOCTL_PSL_NOTIFY, &longer, nullptr, nullptr));
  Relay(relay_, "still open");

  std::memcpy(in.data(), notice, 16);
  EXPECT_TRUE(Control(tap_, IOCTL_PSL_NOTIFY, &in, nullptr, nullptr));
  EXPECT_TRUE(Control(relay_, IOCTL_PSL_NOTIFY, &in, nullptr, nullptr));
  Gps().Feed("after exit");
  EXPECT_EQ("", ReadNow(relay_, 100));
  DCB dcb{};
  EXPECT_FALSE(GetCommState(relay_, &dcb));

  // A new open takes the real port again.
  HANDLE again = Open(u"COM6:");
  ASSERT_NE(INVALID_HANDLE_VALUE, again);
  EXPECT_TRUE(GetCommState(relay_, &dcb));
  CloseHandle(again);
}

TEST_F(SerialControlTest, RelayGetTimeoutsReportsItsSizeEvenWhenTheRealPortFails) {
  Gps().Fail(cehost::TestPort::Operation::Control, ERROR_GEN_FAILURE);
  std::vector<BYTE> out(sizeof(COMMTIMEOUTS), 0xCD);
  DWORD returned = kSentinel;
  EXPECT_FALSE(Control(relay_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, &out, &returned));
  EXPECT_EQ(20u, returned);
  EXPECT_EQ(std::vector<BYTE>(sizeof(COMMTIMEOUTS), 0xCD), out);
  // Other queries keep 0 in the count when the call fails.
  out.assign(sizeof(DCB), 0);
  returned = kSentinel;
  SetLastError(kSentinel);
  EXPECT_FALSE(Control(relay_, IOCTL_SERIAL_GET_DCB, nullptr, &out, &returned));
  EXPECT_EQ(0u, returned);
  EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
}

TEST_F(SerialControlTest, TapAnswersRequestsWithoutARealPort) {
  std::vector<BYTE> out(4, 0x5A);
  DWORD returned = kSentinel;
  EXPECT_TRUE(Control(tap_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, &out, &returned));
  EXPECT_EQ(std::vector<BYTE>(4, 0x5A), out);
  EXPECT_EQ(kSentinel, returned);
  EXPECT_TRUE(EscapeCommFunction(tap_, SETDTR));
  EXPECT_FALSE(Gps().Dtr());

  DCB dcb{};
  ASSERT_TRUE(GetCommState(tap_, &dcb));
  EXPECT_EQ(28u, dcb.DCBlength);
  EXPECT_EQ(4800u, dcb.BaudRate);
  EXPECT_EQ(8, dcb.ByteSize);
  DWORD mask = kSentinel;
  EXPECT_TRUE(GetCommMask(tap_, &mask));
  EXPECT_EQ(0u, mask);
  DWORD modem = kSentinel;
  EXPECT_TRUE(GetCommModemStatus(tap_, &modem));
  EXPECT_EQ(0u, modem);
  COMMPROP prop{};
  EXPECT_TRUE(GetCommProperties(tap_, &prop));
  EXPECT_EQ(1200u, prop.dwCurrentRxQueue);
}

class UnreachableRealPortTest : public SplitterFixture {};

TEST_F(UnreachableRealPortTest, RelayRequestsFailOnceTheirBuffersPass) {
  Boot();
  WriteRelayKey(6, 8, 7);
  ASSERT_NE(INVALID_HANDLE_VALUE, ActivateRelay());
  HANDLE relay = Open(u"COM6:");
  DCB dcb{};
  EXPECT_FALSE(GetCommState(relay, &dcb));
  EXPECT_FALSE(EscapeCommFunction(relay, SETDTR));
  DWORD mask = EV_RXCHAR;
  EXPECT_FALSE(SetCommMask(relay, mask));
  CloseHandle(relay);
}

}  // namespace
}  // namespace cetest
