// Arguments of the cedevice commands, and the connection of a command to
// the device it names.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "coredll/RemoteDevice.h"

namespace cedevice {

struct CommandLine {
  std::map<std::string, std::vector<std::string>> options;  // --name value, repeatable
  std::vector<std::string> flags;                           // --name alone
  std::vector<std::string> positional;

  // valued: the options that take a value; the others are flags.
  bool Parse(int argc, char** argv, int first, const std::vector<std::string>& valued, std::string* error);
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  bool Flag(const std::string& name) const;
};

// The absolute path of the root given with --root; an error when missing.
bool RootOption(const CommandLine& line, std::string* root, std::string* error);

// Makes this program a program of the device at root; nullptr after printing
// "no device running at ROOT".
std::shared_ptr<cehost::RemoteDevice> ConnectTo(const std::string& root);

// The device process ends on SIGINT and SIGTERM: both are blocked in every
// thread, then one thread of its own waits for them and calls stop.
// SIGPIPE is ignored, since programs may go away while answers are sent.
void StopOnSignals(std::function<void()> stop);
void BlockStopSignals();

// Copies a built file into the device, for its owner alone; false with the
// reason in failure.
bool InstallFile(const std::string& from, const std::string& to, std::error_code& failure);

// Puts the built Wendra, Ravelink.Dll and Wendra.cfg into the folder
// \Program Files\Wendra of the device whose root is set, answering its host path. A
// settings file already there is the user's and stays; a new one starts
// logging at once when startLogging. False with the reason in error.
bool InstallWendra(bool startLogging, std::string* programDir, std::string* error);

// A command: answers the process's exit status.
int Start(int argc, char** argv);
int Stop(int argc, char** argv);
int Install(int argc, char** argv);
int Reg(int argc, char** argv);
int Cat(int argc, char** argv);
int Pty(int argc, char** argv);
int Run(int argc, char** argv);
int Windows(int argc, char** argv);
int Send(int argc, char** argv);

}  // namespace cedevice
