// The device process's side of the link, as programs in processes of their
// own meet it: each program announces itself once, and when a program ends,
// however it ends, every driver it left open hears of it before its close.
#include <signal.h>
#include <unistd.h>

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
    ASSERT_TRUE(WaitUntil([&] { return dir_.Exists("ready"); }));
    ASSERT_EQ(0, ::kill(program, signal));
    WaitExit(program, 10000);
    EXPECT_TRUE(WaitUntil([] { return Calls().find(u"close") != std::u16string::npos; })) << "no close";
    const std::string pid = std::to_string(program);
    EXPECT_EQ(u"open,notify " + std::u16string(pid.begin(), pid.end()) + u",close", Calls());
  }
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

}  // namespace
}  // namespace cetest
