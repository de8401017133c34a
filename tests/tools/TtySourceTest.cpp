// The tty: binding on a pseudo-terminal standing in for a receiver's line.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <windows.h>

#include <fcntl.h>
#include <fstream>
#include <iterator>

#include "ServedDevice.h"
#include "TempDir.h"

namespace cetest {
namespace {

// Standard error into a file for the life of this object.
class CapturedErrors {
 public:
  explicit CapturedErrors(const std::string& path)
      : path_(path), saved_(::dup(2)), file_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
    ::dup2(file_, 2);
  }
  ~CapturedErrors() {
    ::dup2(saved_, 2);
    ::close(saved_);
    ::close(file_);
  }
  std::string Text() const {
    std::ifstream in(path_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
  int saved_;
  int file_;
};

// Reads count bytes as they come: each read returns at its first byte, or
// empty after 10 s without one.
std::string ReadArriving(HANDLE port, size_t count) {
  COMMTIMEOUTS firstByte{MAXDWORD, MAXDWORD, 10000, 0, 0};
  if (!SetCommTimeouts(port, &firstByte)) return "";
  std::string bytes;
  for (;;) {
    char buffer[64];
    DWORD done = 0;
    if (bytes.size() >= count || !ReadFile(port, buffer, sizeof buffer, &done, nullptr) || done == 0) return bytes;
    bytes.append(buffer, done);
  }
}

TEST(TtySourceTest, LineCarriesBytesBothWaysAndTakesTheClientsSettings) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(0, openpty(&master, &slave, name, nullptr, nullptr));
  TempDir dir;
  cehost::BootOptions options;
  options.root = dir.Path();
  options.ports = {std::string("COM5:=tty:") + name};
  std::string error;
  auto device = cehost::InProcessDevice::Boot(options, &error);
  ASSERT_TRUE(device) << error;

  HANDLE port = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  pollfd written{master, POLLIN, 0};
  EXPECT_EQ(0, poll(&written, 1, 0)) << "opening the port wrote to the line";

  const std::string sentence = "$GPGGA,1*00\r\n";
  ASSERT_EQ(static_cast<ssize_t>(sentence.size()), write(master, sentence.data(), sentence.size()));
  EXPECT_EQ(sentence, ReadArriving(port, sentence.size()));
  DWORD done = 0;

  ASSERT_TRUE(WriteFile(port, "$PMTK\r\n", 7, &done, nullptr));
  EXPECT_EQ(7u, done);
  char echoed[16] = {};
  EXPECT_EQ(7, read(master, echoed, sizeof echoed));
  EXPECT_EQ("$PMTK\r\n", std::string(echoed, 7));

  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.BaudRate = 9600;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(SetCommState(port, &dcb));
  // A pseudo-terminal keeps 8 data bits without parity whatever it is told;
  // speed and stop bits show.
  termios line{};
  ASSERT_EQ(0, tcgetattr(slave, &line));
  EXPECT_EQ(static_cast<speed_t>(B9600), cfgetospeed(&line));
  EXPECT_TRUE(line.c_cflag & CSTOPB);
  EXPECT_TRUE(EscapeCommFunction(port, SETDTR));  // a pseudo-terminal has no lines to set

  dcb.BaudRate = 12345;
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(SetCommState(port, &dcb));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  CloseHandle(port);
  device.reset();
  close(slave);
  close(master);
}

// A receiver on a pseudo-terminal reached through a link, as a USB adapter
// is through its device name: unplugged (the pair closed, the link gone)
// and plugged back (a new pair behind the same link), twice. The port reads
// on with the line settings its client gave, and each hang-up is said once.
TEST(TtySourceTest, AReceiverUnpluggedAndPluggedBackIsReadOnWithItsSettings) {
  TempDir dir;
  const std::string link = dir.Path() + "/gps0";
  auto plugIn = [&](int* master) {
    // A raw line at 4800 baud until the device sets it: bytes sent before the
    // device opens it pass as they are.
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B4800);
    int slave = -1;
    char name[128];
    if (openpty(master, &slave, name, &raw, nullptr) != 0) return std::string();
    ::close(slave);  // only the device holds the line
    ::unlink(link.c_str());
    return ::symlink(name, link.c_str()) == 0 ? std::string(name) : std::string();
  };
  int master = -1;
  ASSERT_FALSE(plugIn(&master).empty());
  CapturedErrors errors(dir.Path() + "/stderr");
  cehost::BootOptions options;
  options.root = dir.Path();
  options.ports = {"COM5:=tty:" + link + "@4800"};
  std::string error;
  auto device = cehost::InProcessDevice::Boot(options, &error);
  ASSERT_TRUE(device) << error;

  HANDLE port = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.BaudRate = 9600;
  ASSERT_TRUE(SetCommState(port, &dcb));
  auto receive = [&](const std::string& sentence) {
    EXPECT_EQ(static_cast<ssize_t>(sentence.size()), ::write(master, sentence.data(), sentence.size()));
    return ReadArriving(port, sentence.size());
  };
  EXPECT_EQ("$GPGGA,1*00\r\n", receive("$GPGGA,1*00\r\n"));

  for (int replug = 1; replug <= 2; ++replug) {
    SCOPED_TRACE("plugged back " + std::to_string(replug) + " times");
    ::close(master);
    ::unlink(link.c_str());
    const std::string name = plugIn(&master);
    ASSERT_FALSE(name.empty());
    // What the receiver sends before the line is opened again waits in the pair.
    EXPECT_EQ("$GPRMC,2*00\r\n", receive("$GPRMC,2*00\r\n"));
    const int line = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    EXPECT_EQ(0, tcgetattr(line, &settings));
    EXPECT_EQ(static_cast<speed_t>(B9600), cfgetospeed(&settings)) << "the client's speed again";
    ::close(line);
  }
  CloseHandle(port);
  device.reset();
  ::close(master);
  const std::string said = errors.Text();
  const std::string hungUp = "the receiver on " + link + " hung up; waiting for it to come back\n";
  const std::string back = "the receiver on " + link + " is back\n";
  EXPECT_EQ(hungUp + back + hungUp + back, said);
}

}  // namespace
}  // namespace cetest
