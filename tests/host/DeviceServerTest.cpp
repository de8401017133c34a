// The device process's side of the link, as programs in processes of their
// own meet it: each program announces itself once, and when a program ends,
// however it ends, every driver it left open hears of it before its close.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "HostTest.h"
#include "ServedDevice.h"
#include "common/Protocol.h"

namespace cetest {
namespace {

class DeviceServerTest : public DeviceTest {
 protected:
  DeviceServerTest() : DeviceTest(Link::Socket) {}

  // Recorder.Dll as the built-in device REC1:.
  void BootWithRecorder() {
    std::filesystem::create_directories(dir_.Path() + "/Windows");
    std::filesystem::copy_file(RECORDER_DLL, dir_.Path() + "/Windows/Recorder.Dll");
    dir_.Write("registry.reg",
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Recorder]\n\"Dll\"=\"Recorder.Dll\"\n"
               "\"Prefix\"=\"REC\"\n\"Index\"=dword:00000001\n");
    Boot();
  }
  static std::u16string Calls() { return Query(u"Recorder", u"Calls").Text(); }
};

TEST_F(DeviceServerTest, AProgramsEndReachesItsDriversBeforeTheirClose) {
  BootWithRecorder();
  for (const int signal : {SIGTERM, SIGKILL}) {  // a program that ends, and one that is killed
    SCOPED_TRACE(signal == SIGTERM ? "ended" : "killed");
    HKEY key = CreateKey(u"Recorder");
    RegDeleteValueW(key, u"Calls");
    RegCloseKey(key);
    const std::string ready = dir_.Path() + "/ready";
    ::unlink(ready.c_str());
    const pid_t program = Spawn({TEST_PROGRAM, "hold-open", "REC1:", ready}, {"CEDEVICE_ROOT=" + dir_.Path()});
    ASSERT_TRUE(WaitForChange(dir_.Path(), [&] { return dir_.Exists("ready"); }));
    ASSERT_EQ(0, ::kill(program, signal));
    WaitExit(program, 10000);
    EXPECT_TRUE(WaitForChange(dir_.Path(), [] { return Calls().find(u"close") != std::u16string::npos; }))
        << "no close";
    const std::string pid = std::to_string(program);
    EXPECT_EQ(u"open,notify " + std::u16string(pid.begin(), pid.end()) + u",close", Calls());
  }
}

// Room for what a driver reads starts zeroed: one that claims bytes it never
// wrote hands the program zeros, never what the device's memory held, such as
// the bytes of the read before.
TEST_F(DeviceServerTest, BytesADriverClaimsButNeverWroteReachTheProgramAsZeros) {
  BootWithRecorder();
  HANDLE recorder = CreateFileW(u"REC1:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, recorder);
  std::string bytes(600, '\xAA');
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(recorder, bytes.data(), 600, &done, nullptr));
  EXPECT_EQ(std::string(600, 'Z'), bytes);
  ASSERT_TRUE(DeviceIoControl(recorder, 0x00220001, nullptr, 0, nullptr, 0, nullptr, nullptr));
  bytes.assign(600, '\xAA');
  ASSERT_TRUE(ReadFile(recorder, bytes.data(), 600, &done, nullptr));
  EXPECT_EQ(600u, done);
  EXPECT_EQ(std::string(600, '\0'), bytes);
  CloseHandle(recorder);
}

// A control request larger than a frame can carry, counting the declared
// size of a buffer that is absent, fails alone: the program's link to its
// device stays up.
TEST_F(DeviceServerTest, AControlRequestTooLargeForAFrameFailsAloneAndTheLinkStays) {
  BootWithRecorder();
  HANDLE recorder = CreateFileW(u"REC1:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, recorder);
  std::vector<BYTE> in(cehost::kMaxTransfer / 2 + 1), out(cehost::kMaxTransfer / 2 + 1);
  DWORD returned = kSentinel;
  SetLastError(kSentinel);
  EXPECT_FALSE(DeviceIoControl(recorder, 0x1234, nullptr, 0, nullptr, 0xFFFFFFF0u, &returned, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(kSentinel);
  EXPECT_FALSE(DeviceIoControl(recorder, 0x1234, in.data(), static_cast<DWORD>(in.size()), out.data(),
                               static_cast<DWORD>(out.size()), &returned, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  // The same thread's next calls reach the device.
  EXPECT_TRUE(QUIETLY(DeviceIoControl(recorder, 0x1234, in.data(), static_cast<DWORD>(in.size()), out.data(),
                                      static_cast<DWORD>(out.size() - 2), &returned, nullptr)));
  EXPECT_EQ(ERROR_SUCCESS, Query(u"Recorder", u"Calls").result);
  CloseHandle(recorder);
}

TEST_F(DeviceServerTest, AProgramAnnouncesItselfOnce) {
  Boot();  // the test is a program of the device now
  const int again = cehost::ConnectSocket(dir_.Path());
  ASSERT_GE(again, 0);
  cehost::FrameWriter hello(cehost::Op::HelloProcess);
  hello.U32(kSentinel);
  ASSERT_TRUE(cehost::SendFrame(again, hello.Frame()));
  cehost::FrameReceiver frames(again);
  std::string welcome;
  EXPECT_FALSE(frames.Receive(&welcome)) << "a second announcement is answered";
  ::close(again);

  // Its calls go on as before.
  SetLastError(kSentinel);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2000);
  EXPECT_EQ(kSentinel, GetLastError());
}

// A thread's connection serves only a program that announced itself: one
// from another process that did not is refused.
TEST_F(DeviceServerTest, AThreadOfAProgramThatNeverAnnouncedItselfIsRefused) {
  Boot();
  cehost::FrameWriter hello(cehost::Op::HelloThread);
  hello.U32(kSentinel);
  hello.U32(1);  // its thread id
  const std::string frame = hello.Frame();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = cehost::SocketPath(dir_.Path());
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // The child makes system calls only: its welcome's status becomes its exit status.
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
      ::_exit(100);
    }
    unsigned char welcome[12];
    size_t got = 0;
    for (ssize_t n; got < sizeof welcome && (n = ::read(fd, welcome + got, sizeof welcome - got)) > 0;) got += n;
    if (got < sizeof welcome) ::_exit(101);
    ::_exit(welcome[8] == ERROR_ACCESS_DENIED ? 0 : welcome[8] == ERROR_SUCCESS ? 102 : 103);
  }
  ASSERT_GT(child, 0);
  EXPECT_EQ(0, WaitExit(child, 10000)) << "100: no connection, 101: no welcome, 102: welcomed";
}

}  // namespace
}  // namespace cetest
