// cedevice: the device process of the host, and the commands that use it.
#include <cstdio>
#include <cstring>

#include "CommandLine.h"

namespace {

const char kUsage[] =
    "usage: cedevice COMMAND --root DIR [...]\n"
    "  start --root DIR [--port COMn:=BINDING]... [--clock YYYY-MM-DDThh:mm:ss] [--foreground]\n"
    "        boots the device; BINDING is sim[:options], replay:FILE[@SPEED] or tty:DEVICE[@BAUD]\n"
    "  stop --root DIR                       shuts the device down\n"
    "  install --root DIR                    puts Wendra, Ravelink.Dll and Wendra.cfg into \\Program Files\\Wendra\n"
    "  reg query|add|delete --root DIR KEY [/v NAME] [/t TYPE] [/d DATA] [/f]\n"
    "  cat --root DIR COMn:                  reads a port as a navigation program does, to standard output\n"
    "  pty --root DIR COMn: LINK             shows a port to Linux programs as a pseudo-terminal at LINK\n"
    "  windows --root DIR                    lists the top-level windows, top first\n"
    "  send --root DIR TITLE MSG WPARAM LPARAM\n"
    "        sends a message to the window with that title and prints the answer;\n"
    "        MSG is a number or a name such as WM_COMMAND (WM_COMMAND 1000 0 presses Start)\n"

    "  run [--root DIR] [--gps sim|replay:FILE[@SPEED]|tty:DEVICE[@BAUD]] [--pty LINK] [--seconds N]\n"
    "      [--ui auto|gtk|headless]           the whole device: the GPS, a client of the relay and Wendra\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "start") return cedevice::Start(argc, argv);
  if (command == "stop") return cedevice::Stop(argc, argv);
  if (command == "install") return cedevice::Install(argc, argv);
  if (command == "reg") return cedevice::Reg(argc, argv);
  if (command == "cat") return cedevice::Cat(argc, argv);
  if (command == "pty") return cedevice::Pty(argc, argv);
  if (command == "windows") return cedevice::Windows(argc, argv);
  if (command == "send") return cedevice::Send(argc, argv);
  if (command == "run") return cedevice::Run(argc, argv);
  std::fprintf(stderr, "cedevice: unknown command '%s'\n%s", command.c_str(), kUsage);
  return 2;
}
