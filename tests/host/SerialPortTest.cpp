// A real serial port of the device, bound to a port the test feeds: read
// time-outs, the input queue, opens, events, purges and failures.
#include "HostTest.h"

#include <pegdser.h>

#include <future>

#include "device/SerialPort.h"
#include "device/TestSource.h"

namespace cetest {
namespace {

class SerialPortTest : public LinkedDeviceTest {
 protected:
  void SetUp() override {
    options_.ports = {"COM5:=test"};
    Boot();
  }
  cehost::TestPort& Gps() { return *device_->Port("COM5:"); }
  static HANDLE Open(DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(u"COM5:", access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  static void SetTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(QUIETLY(SetCommTimeouts(port, &timeouts)));
  }
  static std::string Read(HANDLE port, DWORD count) {
    std::string bytes(count, '\0');
    DWORD done = kSentinel;
    EXPECT_TRUE(QUIETLY(ReadFile(port, bytes.data(), count, &done, nullptr)));
    bytes.resize(done == kSentinel ? 0 : done);
    return bytes;
  }
  static DWORD Waiting(HANDLE port) {
    COMSTAT status;
    std::memset(&status, 0xAB, sizeof status);
    EXPECT_TRUE(QUIETLY(ClearCommError(port, nullptr, &status)));
    return status.cbInQue;
  }
};

// A read on a thread of the program, for reads that must wait.
struct PendingRead {
  HANDLE port;
  DWORD count;
  std::string bytes;

  HANDLE Start() { return CreateThread(nullptr, 0, Run, this, 0, nullptr); }
  static DWORD WINAPI Run(LPVOID self) {
    auto* read = static_cast<PendingRead*>(self);
    read->bytes.assign(read->count, '\0');
    DWORD done = 0;
    const BOOL ok = ReadFile(read->port, read->bytes.data(), read->count, &done, nullptr);
    read->bytes.resize(done);
    return ok;
  }
};

TEST_P(SerialPortTest, ReadTimeoutsDecideWhenAReadEnds) {
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);

  // Interval MAXDWORD, totals 0: what waits, at once.
  SetTimeouts(port, MAXDWORD, 0, 0);
  EXPECT_EQ("", Read(port, 10));
  Gps().Feed("$GP");
  EXPECT_EQ("$GP", Read(port, 10));

  // A total constant: what arrived when it expires.
  SetTimeouts(port, 0, 0, 30);
  Gps().Feed("RMC");
  const DWORD before = GetTickCount();
  EXPECT_EQ("RMC", Read(port, 10));
  EXPECT_GE(GetTickCount() - before, 25u);

  // Interval and multiplier MAXDWORD with a constant: the first byte ends it.
  SetTimeouts(port, MAXDWORD, MAXDWORD, 60000);
  PendingRead first{port, 10, {}};
  HANDLE reader = first.Start();
  Gps().Feed(",");
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reader, 10000));
  CloseHandle(reader);
  EXPECT_EQ(",", first.bytes);

  // All zero: the whole count, however long it takes.
  SetTimeouts(port, 0, 0, 0);
  Gps().Feed("1234");
  PendingRead whole{port, 10, {}};
  reader = whole.Start();
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(reader, 20));
  Gps().Feed("567890");
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reader, 10000));
  CloseHandle(reader);
  EXPECT_EQ("1234567890", whole.bytes);
  CloseHandle(port);
}

TEST_P(SerialPortTest, AHugeTotalTimeoutStillWaits) {
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  SetTimeouts(port, 0, MAXDWORD, 0);  // MAXDWORD ms for each of 4096 bytes
  PendingRead read{port, 4096, {}};
  HANDLE reader = read.Start();
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(reader, 20));
  Gps().Feed(std::string(4096, 'x'));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reader, 10000));
  CloseHandle(reader);
  EXPECT_EQ(4096u, read.bytes.size());
  CloseHandle(port);
}

TEST_P(SerialPortTest, AFullInputQueueLosesAndCountsWhatArrives) {
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  Gps().Feed(std::string(4000, 'a'));
  Gps().Feed(std::string(200, 'b'));
  EXPECT_EQ(104u, device_->LostBytes("COM5:"));

  DWORD errors = kSentinel;
  COMSTAT status;
  std::memset(&status, 0xAB, sizeof status);
  EXPECT_TRUE(QUIETLY(ClearCommError(port, &errors, &status)));
  EXPECT_EQ(CE_RXOVER, errors);
  EXPECT_EQ(4096u, status.cbInQue);
  errors = kSentinel;
  EXPECT_TRUE(QUIETLY(ClearCommError(port, &errors, nullptr)));
  EXPECT_EQ(0u, errors);  // reported once

  SetTimeouts(port, MAXDWORD, 0, 0);
  EXPECT_EQ(std::string(4000, 'a') + std::string(96, 'b'), Read(port, 5000));
  CloseHandle(port);
}

TEST_P(SerialPortTest, OneOpenReadsAndWritesWhileOthersOnlyControl) {
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  for (DWORD access : {GENERIC_READ, GENERIC_WRITE}) {
    SetLastError(kSentinel);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(access));
    EXPECT_EQ(ERROR_INVALID_ACCESS, GetLastError());
  }
  HANDLE control = Open(0);
  ASSERT_NE(INVALID_HANDLE_VALUE, control);
  EXPECT_TRUE(QUIETLY(EscapeCommFunction(control, SETDTR)));
  EXPECT_TRUE(Gps().Dtr());
  DCB dcb;
  std::memset(&dcb, 0xAB, sizeof dcb);
  EXPECT_TRUE(QUIETLY(GetCommState(control, &dcb)));
  EXPECT_EQ(sizeof(DCB), dcb.DCBlength);
  EXPECT_EQ(4800u, dcb.BaudRate);
  char byte;
  DWORD done = kSentinel;
  SetLastError(kSentinel);
  EXPECT_FALSE(ReadFile(control, &byte, 1, &done, nullptr));
  EXPECT_EQ(ERROR_INVALID_ACCESS, GetLastError());
  EXPECT_EQ(0u, done);

  EXPECT_TRUE(QUIETLY(CloseHandle(port)));
  HANDLE next = Open(GENERIC_READ);
  EXPECT_NE(INVALID_HANDLE_VALUE, next);
  CloseHandle(next);
  CloseHandle(control);
}

TEST_P(SerialPortTest, BytesAreDroppedWhileNoClientHoldsThePortOpen) {
  Gps().Feed("before the first open");
  HANDLE control = Open(0);
  Gps().Feed("only a control open");
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  EXPECT_EQ(0u, Waiting(port));
  Gps().Feed("kept");
  EXPECT_EQ(4u, Waiting(port));
  CloseHandle(port);
  Gps().Feed("after the close");
  port = Open();
  EXPECT_EQ(0u, Waiting(port));
  EXPECT_EQ(0u, device_->LostBytes("COM5:"));
  CloseHandle(port);
  CloseHandle(control);
}

TEST_P(SerialPortTest, WaitCommEventAnswersReceivedCharactersOrANewMask) {
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  DWORD mask = kSentinel;
  SetLastError(kSentinel);
  EXPECT_FALSE(WaitCommEvent(port, &mask, nullptr));  // no mask set: it would wait for nothing
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

  EXPECT_TRUE(QUIETLY(SetCommMask(port, EV_RXCHAR)));
  EXPECT_TRUE(QUIETLY(GetCommMask(port, &mask)));
  EXPECT_EQ(EV_RXCHAR, mask);
  Gps().Feed("$");
  mask = kSentinel;
  EXPECT_TRUE(QUIETLY(WaitCommEvent(port, &mask, nullptr)));
  EXPECT_EQ(EV_RXCHAR, mask);

  struct Wait {
    HANDLE port;
    DWORD mask = kSentinel;
    static DWORD WINAPI Run(LPVOID self) {
      auto* wait = static_cast<Wait*>(self);
      return WaitCommEvent(wait->port, &wait->mask, nullptr);
    }
  } wait{port};
  HANDLE waiter = CreateThread(nullptr, 0, Wait::Run, &wait, 0, nullptr);
  // A SetCommMask ends a wait in progress; repeat it until the waiter has
  // started waiting, which nothing signals; at most 10 s.
  DWORD ended = WAIT_TIMEOUT;
  for (int tries = 0; tries < 1000 && ended == static_cast<DWORD>(WAIT_TIMEOUT); ++tries) {
    ASSERT_TRUE(QUIETLY(SetCommMask(port, EV_RXCHAR)));
    ended = WaitForSingleObject(waiter, 10);
  }
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ended) << "the waiter never ended";
  DWORD result = 0;
  EXPECT_TRUE(GetExitCodeThread(waiter, &result));
  EXPECT_TRUE(result);
  EXPECT_EQ(0u, wait.mask);
  CloseHandle(waiter);
  CloseHandle(port);
}

TEST_P(SerialPortTest, PurgeAndFailuresReachTheCaller) {
  HANDLE port = Open();
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  SetTimeouts(port, MAXDWORD, 0, 0);
  Gps().Feed("stale");
  EXPECT_TRUE(QUIETLY(PurgeComm(port, PURGE_RXCLEAR)));
  EXPECT_EQ(0u, Waiting(port));
  Gps().Feed("new");
  EXPECT_EQ("new", Read(port, 10));

  Gps().Fail(cehost::TestPort::Operation::Read, ERROR_GEN_FAILURE);
  char byte;
  DWORD done = kSentinel;
  SetLastError(kSentinel);
  EXPECT_FALSE(ReadFile(port, &byte, 1, &done, nullptr));
  EXPECT_EQ(ERROR_GEN_FAILURE, GetLastError());
  Gps().Fail(cehost::TestPort::Operation::Read, ERROR_SUCCESS);
  EXPECT_TRUE(QUIETLY(ReadFile(port, &byte, 1, &done, nullptr)));

  Gps().Fail(cehost::TestPort::Operation::Write, ERROR_BROKEN_PIPE);
  SetLastError(kSentinel);
  EXPECT_FALSE(WriteFile(port, "x", 1, &done, nullptr));
  EXPECT_EQ(ERROR_BROKEN_PIPE, GetLastError());
  EXPECT_EQ("", Gps().Written());
  CloseHandle(port);

  Gps().Fail(cehost::TestPort::Operation::Open, ERROR_DEVICE_REMOVED);
  SetLastError(kSentinel);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open());
  EXPECT_EQ(ERROR_DEVICE_REMOVED, GetLastError());
}

CETEST_ON_BOTH_LINKS(SerialPortTest);

// A receiver that takes its time to begin delivering, as a replay opening
// its capture does.
class SlowStartSource : public cehost::TestSource {
 public:
  bool Start(cehost::PortReceiver& receiver) override {
    begin_.get_future().wait();
    return TestSource::Start(receiver);
  }
  void Begin() { begin_.set_value(); }

 private:
  std::promise<void> begin_;
};

// A test that feeds once the port is held must not lose the bytes to a
// source that has not begun.
TEST(SerialPortOpenTest, HeldIsToldOnceTheSourceDelivers) {
  auto owned = std::make_unique<SlowStartSource>();
  SlowStartSource& source = *owned;
  cehost::SerialPort port(std::move(owned));
  auto opening = std::async(std::launch::async, [&] { return port.Open(GENERIC_READ, 0); });
  EXPECT_FALSE(source.WaitHeld(true, 200));
  source.Begin();
  ASSERT_TRUE(source.WaitHeld(true, 10000));
  source.Feed("$GPGGA");
  const DWORD_PTR context = opening.get();
  ASSERT_NE(0u, context);
  COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(port.IOControl(context, IOCTL_SERIAL_SET_TIMEOUTS, reinterpret_cast<BYTE*>(&immediate),
                             sizeof immediate, nullptr, 0, nullptr));
  char bytes[16] = {};
  EXPECT_EQ(6u, port.Read(context, bytes, sizeof bytes));
  EXPECT_EQ("$GPGGA", std::string(bytes, 6));
  EXPECT_TRUE(port.Close(context));
  EXPECT_TRUE(source.WaitHeld(false, 10000));
}

}  // namespace
}  // namespace cetest
