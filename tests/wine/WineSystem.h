// Wine for the tests of the system on Wine: one prefix for the whole test
// binary, made with no display (Wine's null graphics driver), in which the
// system's Windows programs are installed as on a device, and run as the
// device runs them: from \Program Files\Wendra on drive C:, with COREDLL.dll
// beside them and the serial lines of the test as COM ports.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"

namespace winetest {

class WineSystem {
 public:
  // The binary's one prefix, made at the first call; nullptr after a failure
  // that *error tells.
  static WineSystem* Shared(std::string* error);
  ~WineSystem();

  std::string DriveC() const { return prefix_ + "/drive_c"; }
  std::string ProgramDir() const { return DriveC() + "/Program Files/Wendra"; }
  // The Windows path (Z:\...) of a host path, for a program's environment.
  static std::string WindowsPath(const std::string& hostPath);

  // A device as new: no driver keys and no installed driver; Wendra.exe,
  // COREDLL.dll, Ravelink.Dll and the programs of the tests in
  // \Program Files\Wendra, with these settings and no track. False after
  // saying why on *error.
  bool FreshDevice(const std::string& settings, std::string* error);
  // The programs started from now on draw on this X display with Wine's own
  // x11 driver; "" for none (the null driver). False after saying why.
  bool UseDisplay(const std::string& display, std::string* error);
  // Puts a serial line (a tty's host path) behind COMn:.
  bool BindPort(int number, const std::string& line, std::string* error);

  // Wine's reg.exe with these arguments on the prefix's registry: its exit
  // status and what it wrote.
  int Reg(const std::vector<std::string>& args, std::string* output);

  // Starts a program of \Program Files\Wendra with extra environment
  // entries, its output to the file given, from drive C: or the host folder
  // given; its pid.
  pid_t Start(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& environment, const std::string& output,
              const std::string& folder = "");
  // Runs a program of \Program Files\Wendra to its end: its exit status, or
  // -1 when it did not end in time; what it wrote in *output.
  int Run(const std::string& program, const std::vector<std::string>& args, std::string* output,
          int timeoutMs = 60000, const std::vector<std::string>& environment = {}, const std::string& folder = "");

 private:
  WineSystem() = default;
  // Ends the prefix's server and waits for its end; false when it would not end.
  bool EndServer();
  int Wine(const std::vector<std::string>& args, std::string* output, const std::vector<std::string>& environment = {});
  // The start of a command line that runs a Wine program from the folder given.
  std::vector<std::string> Command(const std::string& folder) const;

  cetest::TempDir dir_;
  std::string prefix_;
  std::string display_;
};

// The title of Wendra's main window.
std::string WendraTitle();

// The word size of the programs this run holds (CE_WINE_WORD_SIZE, 64
// unless it says 32), the Wine that runs them (CE_WINE_LOADER), where they
// are (CE_WINE_PROGRAMS) and the driver's file (CE_WINE_DRIVER).
int WordSize();
std::string WineLoader();
std::string WinePrograms();
std::string WineDriver();

}  // namespace winetest
