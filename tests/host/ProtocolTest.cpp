// Frames on a connection: however the bytes come, in pieces or several
// frames at once, each is taken whole and in order, and a frame that cannot
// be one ends the connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/Protocol.h"

namespace {

using cehost::FrameReceiver;
using cehost::FrameWriter;
using cehost::Op;

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends_)); }
  void TearDown() override {
    for (int fd : ends_) {
      if (fd >= 0) ::close(fd);
    }
  }
  void Send(const std::string& bytes) { ASSERT_TRUE(cehost::SendFrame(ends_[0], bytes)); }
  static std::string Frame(uint32_t value, size_t filler = 0) {
    FrameWriter frame(Op::GetLocalTime);
    frame.U32(value);
    if (filler) frame.Bytes(std::string(filler, 'x').data(), static_cast<uint32_t>(filler));
    return frame.Frame();
  }
  int ends_[2] = {-1, -1};
};

TEST_F(ProtocolTest, FramesAreTakenWholeHoweverTheBytesCome) {
  FrameReceiver frames(ends_[1]);
  const std::string first = Frame(1), second = Frame(2), third = Frame(3);
  const std::string large = Frame(4, 100000);  // more than a connection keeps room for

  // Two frames and the head of a third in one piece, the rest later.
  Send(first + second + third.substr(0, 6));
  std::string body;
  ASSERT_TRUE(frames.Receive(&body));
  EXPECT_EQ(body, first.substr(4));
  ASSERT_TRUE(frames.Receive(&body));
  EXPECT_EQ(body, second.substr(4));
  std::thread rest([&] { Send(third.substr(6) + large); });
  ASSERT_TRUE(frames.Receive(&body, true));
  EXPECT_EQ(body, third.substr(4));
  ASSERT_TRUE(frames.Receive(&body));
  EXPECT_EQ(body, large.substr(4));
  rest.join();

  // After the large one, the buffer serves small frames again.
  Send(first);
  ASSERT_TRUE(frames.Receive(&body));
  EXPECT_EQ(body, first.substr(4));
}

TEST_F(ProtocolTest, AFrameThatCannotBeOneOrAGonePeerEndsTheConnection) {
  std::string body;
  {
    FrameReceiver frames(ends_[1]);
    Send(std::string("\x02\0\0\0\0\0", 6));  // shorter than its operation
    EXPECT_FALSE(frames.Receive(&body));
  }
  {
    FrameReceiver frames(ends_[1]);
    Send(std::string("\xff\xff\xff\x7f", 4));  // beyond the largest frame
    EXPECT_FALSE(frames.Receive(&body));
  }
  // A frame cut off by the peer's end.
  FrameReceiver frames(ends_[1]);
  Send(Frame(5).substr(0, 7));
  ::shutdown(ends_[0], SHUT_WR);
  EXPECT_FALSE(frames.Receive(&body));
}

}  // namespace
