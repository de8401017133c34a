// Requests through their frames: what a program's stub writes, the device's
// dispatch reads, and the answer back, without a socket between them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/RequestCodec.h"
#include "device/RequestDispatch.h"

namespace {

using cehost::FrameReader;
using cehost::FrameWriter;
using cehost::Op;

// Answers every request with its result type's zero.
class QuietDevice : public cehost::DeviceService {
 public:
#define QUIET_REQUEST(name, result, parameters, arguments, ...) \
  result name parameters override {                      \
    static_cast<void>(std::forward_as_tuple arguments);   \
    return result();                                      \
  }
  CEHOST_REQUESTS(QUIET_REQUEST)
#undef QUIET_REQUEST
};

// A written frame's body, read in place.
FrameReader BodyOf(const std::string& frame) { return FrameReader(frame.data() + 4, frame.size() - 4); }

// The answer to a request made from the arguments, as the program's stub
// would read it; the last error the device left goes to lastError.
template <Op op, typename R, typename... A>
R RoundTrip(cehost::DeviceService& device, DWORD* lastError, A... args) {
  const auto call = std::forward_as_tuple(args...);
  FrameWriter request(op);
  request.U32(ERROR_SUCCESS);
  cehost::codec::PutRequest<op>(request, call);
  FrameReader served = BodyOf(request.Frame());
  FrameWriter reply(Op::HelloThread);
  bool shutdown = false;
  EXPECT_TRUE(cehost::DispatchRequest(device, served, &reply, &shutdown));
  FrameReader answer = BodyOf(reply.Frame());
  EXPECT_EQ(answer.Operation(), op);
  EXPECT_TRUE(answer.U32(lastError));
  if constexpr (std::is_void_v<R>) {
    EXPECT_TRUE(cehost::codec::TakeAnswer<op>(answer, call, static_cast<void*>(nullptr)));
    EXPECT_TRUE(answer.Done());
  } else {
    R result{};
    EXPECT_TRUE(cehost::codec::TakeAnswer<op>(answer, call, &result));
    EXPECT_TRUE(answer.Done());
    return result;
  }
}

// Checks the parameters it is given and answers what a pointer points to.
class AnsweringDevice : public QuietDevice {
 public:
  LONG RegEnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                    std::vector<BYTE>* data) override {
    EXPECT_EQ(key, u"Drivers\\Active");
    EXPECT_EQ(index, 7u);
    *name = u"名前";
    *type = REG_BINARY;
    *data = {1, 2, 3};
    SetLastError(ERROR_MORE_DATA);
    return ERROR_MORE_DATA;
  }
  LONG RegSetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data,
                   DWORD size) override {
    EXPECT_EQ(key, u"Key");
    EXPECT_EQ(name, u"Value");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    given.assign(data, data + size);
    return ERROR_SUCCESS;
  }
  BOOL SendWindowMessage(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    EXPECT_EQ(window, 0x14u);
    EXPECT_EQ(message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(wParam, static_cast<WPARAM>(0x1234567890ABCDEFull));
    EXPECT_EQ(lParam, static_cast<LPARAM>(-2));
    *result = -3;
    return TRUE;
  }
  std::vector<DWORD> ListWindows() override { return {0x10, 0x14, 0x18}; }
  void GetLocalTime(SYSTEMTIME* time) override { *time = SYSTEMTIME{2008, 3, 5, 7, 9, 5, 2, 0}; }
  std::vector<BYTE> given;
};

TEST(RequestCodecTest, ParametersTravelInOrderAndOutputsComeBackAfterTheResult) {
  AnsweringDevice device;
  DWORD error = 0;

  std::u16string key = u"Drivers\\Active", name;
  DWORD index = 7, type = 0;
  std::vector<BYTE> data;
  EXPECT_EQ((RoundTrip<Op::RegEnumValue, LONG>(device, &error, key, index, &name, &type, &data)), ERROR_MORE_DATA);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(name, u"名前");
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(data, (std::vector<BYTE>{1, 2, 3}));

  // A buffer goes with its size, which is not sent again.
  std::u16string setKey = u"Key", setName = u"Value";
  DWORD setType = REG_DWORD;
  const BYTE bytes[] = {9, 8, 7, 6};
  const BYTE* given = bytes;
  DWORD size = 3;
  EXPECT_EQ((RoundTrip<Op::RegSetValue, LONG>(device, &error, setKey, setName, setType, given, size)),
            ERROR_SUCCESS);
  EXPECT_EQ(device.given, (std::vector<BYTE>{9, 8, 7}));

  // Pointer-sized message parameters keep their high halves and signs.
  DWORD window = 0x14;
  UINT message = WM_COMMAND;
  WPARAM wParam = static_cast<WPARAM>(0x1234567890ABCDEFull);
  LPARAM lParam = -2;
  LRESULT result = 0;
  EXPECT_TRUE((RoundTrip<Op::SendWindowMessage, BOOL>(device, &error, window, message, wParam, lParam, &result)));
  EXPECT_EQ(result, -3);

  EXPECT_EQ((RoundTrip<Op::ListWindows, std::vector<DWORD>>(device, &error)), (std::vector<DWORD>{0x10, 0x14, 0x18}));

  SYSTEMTIME time{};
  SYSTEMTIME* out = &time;
  RoundTrip<Op::GetLocalTime, void>(device, &error, out);
  EXPECT_EQ(time.wYear, 2008);
  EXPECT_EQ(time.wDay, 7);
  EXPECT_EQ(time.wSecond, 2);
}

TEST(RequestCodecTest, AReadNeverAnswersMoreBytesThanItAskedRoomFor) {
  // A driver that claims more than it was given room for.
  class Device : public QuietDevice {
   public:
    BOOL ReadDevice(DWORD, void* buffer, DWORD count, DWORD* done) override {
      std::memset(buffer, 'x', count);
      *done = count + 100;
      return TRUE;
    }
  } device;
  DWORD error = 0, file = 9, count = 16, done = 0;
  char room[16 + 1] = {};
  void* buffer = room;
  EXPECT_TRUE((RoundTrip<Op::ReadDevice, BOOL>(device, &error, file, buffer, count, &done)));
  EXPECT_EQ(done, 16u);
  EXPECT_EQ(std::string(room), std::string(16, 'x'));
}

TEST(RequestCodecTest, ARequestWithFieldsMissingOrLeftOverIsRefused) {
  QuietDevice device;
  FrameWriter reply(Op::HelloThread);
  bool shutdown = false;
  auto refused = [&](FrameWriter& request) {
    FrameReader served = BodyOf(request.Frame());
    return !cehost::DispatchRequest(device, served, &reply, &shutdown);
  };
  FrameWriter noIndex(Op::RegEnumValue);
  noIndex.U32(0).Text(u"Key");
  EXPECT_TRUE(refused(noIndex));
  FrameWriter leftOver(Op::RegEnumValue);
  leftOver.U32(0).Text(u"Key").U32(1).U32(2);
  EXPECT_TRUE(refused(leftOver));
  FrameWriter shortTime(Op::SetLocalTime);
  const BYTE halfATime[8] = {};
  shortTime.U32(0).Bytes(halfATime, sizeof halfATime);
  EXPECT_TRUE(refused(shortTime));
  FrameWriter tooLargeARead(Op::ReadDevice);
  tooLargeARead.U32(0).U32(9).U32(cehost::kMaxTransfer + 1);
  EXPECT_TRUE(refused(tooLargeARead));
  FrameWriter unknown(static_cast<Op>(99));
  unknown.U32(0);
  EXPECT_TRUE(refused(unknown));
  EXPECT_FALSE(shutdown);
}

}  // namespace
