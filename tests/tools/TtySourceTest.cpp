// The tty: binding on a pseudo-terminal standing in for a receiver's line.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <windows.h>

#include "ServedDevice.h"
#include "TempDir.h"

namespace cetest {
namespace {

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
  EXPECT_TRUE(WaitUntil([&] {
    COMSTAT status{};
    return ClearCommError(port, nullptr, &status) && status.cbInQue == sentence.size();
  }));
  COMMTIMEOUTS now{MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &now));
  char buffer[64] = {};
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(sentence, std::string(buffer, done));

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

}  // namespace
}  // namespace cetest
