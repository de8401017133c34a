// The device process with real programs: the cedevice commands and client
// programs in processes of their own, on a device served from the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <pkfuncs.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "ServedDevice.h"
#include "TempDir.h"
#include "common/Protocol.h"

namespace cetest {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class DeviceProcessTest : public ::testing::Test {
 protected:
  // A served device with the splitter: relay COM6: over COM5:, tap COM7:.
  void Serve(const std::string& gps) {
    InstallDriver(dir_.Path(), RAVELINK_DLL);
    cehost::BootOptions options;
    options.root = dir_.Path();
    options.ports = {"COM5:=" + gps};
    std::string error;
    device_ = ServedDevice::Start(options, &error);
    ASSERT_TRUE(device_) << error;
    ASSERT_TRUE(WriteRelayKey(6, 5, 7));
    ASSERT_NE(INVALID_HANDLE_VALUE, ActivateDevice(u"Drivers\\BuiltIn\\Ravelink", 0));
  }
  // Starts ce_test_program and waits until it says it is ready.
  pid_t Program(const std::string& command, const std::string& argument, const std::string& out = "") {
    const std::string ready = dir_.Path() + "/ready-" + std::to_string(++programs_);
    const pid_t child = Spawn({TEST_PROGRAM, command, argument, ready}, {"CEDEVICE_ROOT=" + dir_.Path()}, out);
    EXPECT_TRUE(WaitForChange(dir_.Path(), [&] { return FileExists(ready); })) << command;
    readyText_ = ReadFile(ready);
    return child;
  }
  pid_t Cat(const std::string& port, const std::string& out) {
    return Spawn({CEDEVICE_EXE, "cat", "--root", dir_.Path(), port}, {}, out);
  }
  std::string Path(const std::string& name) const { return dir_.Path() + "/" + name; }

  TempDir dir_;
  std::unique_ptr<ServedDevice> device_;
  int programs_ = 0;
  std::string readyText_;
};

TEST_F(DeviceProcessTest, TapDeliversExactlyWhatTheRelaysClientRead) {
  const std::string capture = std::string(CE_TEST_DATA) + "/drive-tokyo.nmea";
  const std::string expected = ReadFile(capture);
  Serve("replay:" + capture + "@20");
  const pid_t tap = Program("tap-reader", "COM7:", Path("tap.out"));
  const pid_t cat = Cat("COM6:", Path("cat.out"));  // its open starts the replay
  EXPECT_TRUE(WaitForChange(dir_.Path(), [&] { return ReadFile(Path("cat.out")).size() >= expected.size(); }, 30000));
  ::kill(cat, SIGTERM);
  EXPECT_EQ(0, WaitExit(cat, 10000));
  ::kill(tap, SIGTERM);
  EXPECT_EQ(0, WaitExit(tap, 10000));
  EXPECT_EQ(expected, ReadFile(Path("cat.out")));
  EXPECT_EQ(expected, ReadFile(Path("tap.out")));
}

TEST_F(DeviceProcessTest, KilledRelayClientLetsGoOfTheRealPort) {
  Serve("test");
  cehost::TestPort& gps = *device_->Device().Port("COM5:");
  const pid_t first = Cat("COM6:", Path("first.out"));
  // The client's open of the relay opened the real port.
  ASSERT_TRUE(gps.WaitHeld(true, 10000));
  gps.Feed("$GPGGA\r\n");
  EXPECT_TRUE(WaitForChange(dir_.Path(), [&] { return !ReadFile(Path("first.out")).empty(); }));
  ::kill(first, SIGKILL);
  WaitExit(first, 10000);

  // The process-exit notice made the relay close the real port: it can be opened again.
  ASSERT_TRUE(gps.WaitHeld(false, 10000));
  HANDLE port = CreateFileW(u"COM5:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, port);
  CloseHandle(port);
  const pid_t second = Cat("COM6:", Path("second.out"));
  ASSERT_TRUE(gps.WaitHeld(true, 10000));
  gps.Feed("$GPRMC\r\n");
  EXPECT_TRUE(WaitForChange(dir_.Path(), [&] { return !ReadFile(Path("second.out")).empty(); }));
  ::kill(second, SIGTERM);
  EXPECT_EQ(0, WaitExit(second, 10000));
}

TEST_F(DeviceProcessTest, MutexOfAKilledProgramIsFreeAgain) {
  Serve("test");
  const char16_t name[] = u"Wendra@kelbrun<*+~#$>";
  const pid_t holder = Program("hold-mutex", "Wendra@kelbrun<*+~#$>");
  EXPECT_EQ("new", readyText_);
  HANDLE mutex = CreateMutexW(nullptr, TRUE, name);
  ASSERT_TRUE(mutex);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  CloseHandle(mutex);
  ::kill(holder, SIGKILL);
  WaitExit(holder, 10000);
  // The device frees the mutex when it has seen the program end, which
  // nothing outside it signals.
  EXPECT_TRUE(Retry([&] {
    HANDLE again = CreateMutexW(nullptr, TRUE, name);
    const bool fresh = again && GetLastError() != ERROR_ALREADY_EXISTS;
    if (again) CloseHandle(again);
    return fresh;
  }));
}

TEST_F(DeviceProcessTest, BadFramesAndVanishingClientsNeverWedgeTheDevice) {
  Serve("test");
  auto connect = [&] { return cehost::ConnectSocket(dir_.Path()); };
  auto send = [](int fd, const std::string& bytes) { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); };

  int fd = connect();
  send(fd, "garbage that is no frame at all");
  ::close(fd);
  fd = connect();
  send(fd, std::string("\xff\xff\xff\xff", 4));  // a length above the limit
  ::close(fd);
  fd = connect();
  send(fd, std::string("\x02\x00\x00\x00\x01\x00", 6));  // shorter than an operation
  ::close(fd);
  fd = connect();
  cehost::FrameWriter hello(cehost::Op::HelloThread);  // a thread of no announced program
  hello.U32(0);
  hello.U32(1);  // its thread id
  send(fd, hello.Frame());
  ::close(fd);
  fd = connect();
  cehost::FrameWriter unknown(static_cast<cehost::Op>(77));
  unknown.U32(0);
  send(fd, unknown.Frame());
  send(fd, std::string("\x40\x00\x00\x00\x03", 5));  // a frame cut short, then gone
  ::close(fd);

  // A client that vanishes in the middle of a blocking read.
  const pid_t reader = Program("blocking-read", "COM6:");
  ::kill(reader, SIGKILL);
  WaitExit(reader, 10000);

  std::string output;
  EXPECT_EQ(0, RunCommand({CEDEVICE_EXE, "reg", "query", "--root", dir_.Path(), "HKLM\\Drivers\\BuiltIn\\Ravelink"},
                          &output))
      << output;
  EXPECT_NE(std::string::npos, output.find("srcIndex    REG_DWORD    0x5")) << output;
  // The relay lets go of the real port at the reader's exit, and serves a new client.
  cehost::TestPort& gps = *device_->Device().Port("COM5:");
  ASSERT_TRUE(gps.WaitHeld(false, 10000));
  const pid_t cat = Cat("COM6:", Path("cat.out"));
  ASSERT_TRUE(gps.WaitHeld(true, 10000));
  gps.Feed("$GPGSA\r\n");
  EXPECT_TRUE(WaitForChange(dir_.Path(), [&] { return !ReadFile(Path("cat.out")).empty(); }));
  ::kill(cat, SIGTERM);
  EXPECT_EQ(0, WaitExit(cat, 10000));
}

// A free TCP port on the loopback, for a server the test starts.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST_F(DeviceProcessTest, GpsdReadsTheRelayThroughAPseudoTerminal) {
  const std::string gpsd = "/usr/sbin/gpsd";
  const std::string gpspipe = "/usr/bin/gpspipe";
  if (!FileExists(gpsd) || !FileExists(gpspipe)) {
    GTEST_SKIP() << "gpsd and gpspipe are not installed; tools/install-dependencies.sh installs them";
  }
  Serve("sim:nofix=0");
  const std::string link = Path("gps0");
  const pid_t pty = Spawn({CEDEVICE_EXE, "pty", "--root", dir_.Path(), "COM6:", link});
  ASSERT_TRUE(WaitForChange(dir_.Path(), [&] { return FileExists(link); }));
  const std::string port = std::to_string(FreePort());
  const pid_t daemon = Spawn({gpsd, "-N", "-n", "-S", port, link}, {}, Path("gpsd.out"), Path("gpsd.out"));
  std::string reports;
  // gpsd tells no one when it has read a fix: asked until it has one.
  EXPECT_TRUE(Retry(
      [&] {
        return RunCommand({gpspipe, "-w", "-n", "8", "localhost:" + port}, &reports, 20000) == 0 &&
               reports.find("\"class\":\"TPV\"") != std::string::npos;
      },
      30000))
      << reports;
  // The fix of the simulated receiver, at its start position.
  EXPECT_NE(std::string::npos, reports.find("\"lat\":35.658")) << reports;
  ::kill(daemon, SIGTERM);
  WaitExit(daemon, 10000);
  ::kill(pty, SIGTERM);
  EXPECT_EQ(0, WaitExit(pty, 10000));
  EXPECT_FALSE(FileExists(link)) << "the link goes away with the command";
}

class DeviceCommandTest : public ::testing::Test {
 protected:
  int Cedevice(std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), CEDEVICE_EXE);
    return RunCommand(args, output);
  }
  TempDir dir_;
};

TEST_F(DeviceCommandTest, RegistryPersistsAcrossStopAndStart) {
  std::string out;
  const std::string root = dir_.Path() + "/device";
  ASSERT_EQ(0, Cedevice({"start", "--root", root}, &out)) << out;
  EXPECT_EQ(0, Cedevice({"reg", "add", "--root", root, "HKLM\\Drivers\\BuiltIn\\Ravelink", "/v", "srcIndex", "/t",
                         "REG_DWORD", "/d", "5"},
                        &out))
      << out;
  EXPECT_EQ(0, Cedevice({"reg", "add", "--root", root, "HKLM\\Software\\Test", "/v", "名前", "/d", "値 \"quoted\""},
                        &out))
      << out;
  EXPECT_EQ(0, Cedevice({"stop", "--root", root}, &out)) << out;
  const std::string file = dir_.Read("device/registry.reg");
  EXPECT_EQ(0u, file.find("REGEDIT4\n")) << file;
  EXPECT_NE(std::string::npos, file.find("\"srcIndex\"=dword:00000005")) << file;

  ASSERT_EQ(0, Cedevice({"start", "--root", root}, &out)) << out;
  EXPECT_EQ(0, Cedevice({"reg", "query", "--root", root, "HKLM\\Software\\Test", "/v", "名前"}, &out));
  EXPECT_NE(std::string::npos, out.find("名前    REG_SZ    値 \"quoted\"")) << out;
  EXPECT_EQ(0, Cedevice({"stop", "--root", root}, &out)) << out;
}

TEST_F(DeviceCommandTest, KilledDeviceLeavesAWholeRegistry) {
  std::string out;
  const std::string root = dir_.Path() + "/device";
  ASSERT_EQ(0, Cedevice({"start", "--root", root}, &out)) << out;
  const std::string pidText = out.substr(out.find("(process ") + 9);
  const pid_t device = static_cast<pid_t>(std::atoi(pidText.c_str()));
  const std::string ready = dir_.Path() + "/ready";
  const pid_t writer = Spawn({TEST_PROGRAM, "reg-writer", "100000", ready}, {"CEDEVICE_ROOT=" + root});
  EXPECT_TRUE(WaitForChange(root, [&] { return dir_.Read("device/registry.reg").find("\"n20\"") != std::string::npos; }));
  ::kill(device, SIGKILL);
  WaitExit(writer, 10000);
  // The file is whole: the device boots from it, with every value up to the last written.
  ASSERT_TRUE(WaitGone(device, 10000));
  EXPECT_EQ(0, Cedevice({"start", "--root", root}, &out)) << out;
  EXPECT_EQ(0, Cedevice({"reg", "query", "--root", root, "HKLM\\Test", "/v", "n20"}, &out)) << out;
  EXPECT_EQ(0, Cedevice({"stop", "--root", root}, &out)) << out;
}

TEST_F(DeviceCommandTest, BadArgumentsAreRefusedWithAClearMessage) {
  std::string out;
  const std::string root = dir_.Path() + "/device";
  EXPECT_EQ(1, Cedevice({"start", "--root", root, "--port", "COM5:=bogus"}, &out));
  EXPECT_NE(std::string::npos, out.find("unknown port binding 'bogus'")) << out;
  EXPECT_EQ(1, Cedevice({"start", "--root", root, "--port", "COM5:=replay:/nonexistent.nmea"}, &out));
  EXPECT_NE(std::string::npos, out.find("cannot read the capture")) << out;
  EXPECT_EQ(1, Cedevice({"start", "--root", root, "--port", "COM5:=tty:/dev/nonexistent"}, &out));
  EXPECT_NE(std::string::npos, out.find("is not a serial device")) << out;
  EXPECT_EQ(1, Cedevice({"start", "--root", root, "--port", "COM5:=sim", "--port", "com5:=test"}, &out));
  EXPECT_NE(std::string::npos, out.find("given twice")) << out;
  EXPECT_EQ(2, Cedevice({"start", "--root", root, "--clock", "2008-13-01T00:00:00"}, &out));
  dir_.Write("file", "not a directory");
  EXPECT_EQ(1, Cedevice({"start", "--root", dir_.Path() + "/file"}, &out));
  EXPECT_EQ(1, Cedevice({"stop", "--root", root}, &out));
  EXPECT_NE(std::string::npos, out.find("no device running at " + root)) << out;

  ASSERT_EQ(0, Cedevice({"start", "--root", root}, &out)) << out;
  EXPECT_EQ(1, Cedevice({"start", "--root", root}, &out));
  EXPECT_NE(std::string::npos, out.find("a device is already running at " + root)) << out;
  EXPECT_EQ(0, Cedevice({"stop", "--root", root}, &out)) << out;
}

}  // namespace
}  // namespace cetest
