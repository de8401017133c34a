#include "WineSystem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>

#include "ServedDevice.h"
#include "WendraProcess.h"

namespace winetest {

namespace fs = std::filesystem;

namespace {

// Wine's debug channels stay quiet; its output is then the program's.
std::vector<std::string> Environment(const std::string& prefix, const std::vector<std::string>& extra) {
  std::vector<std::string> environment = {"WINEPREFIX=" + prefix, "WINEDEBUG=-all"};
  environment.insert(environment.end(), extra.begin(), extra.end());
  return environment;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Setting(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

// The 32-bit run skips every case, saying why, on a machine that runs no
// 32-bit program: there is no 32-bit Wine to hold the programs to.
class WordSizeGate : public testing::Environment {
 public:
  void SetUp() override {
    if (WordSize() != 32) return;
    std::string said;
    if (cetest::RunCommand({CE_SOURCE_DIR "/tools/runs-32-bit-programs"}, &said) != 0) {
      GTEST_SKIP() << "32-bit programs do not run here: " << said;
    }
  }
};
testing::Environment* const gate = testing::AddGlobalTestEnvironment(new WordSizeGate);

}  // namespace

int WordSize() { return Setting("CE_WINE_WORD_SIZE", "64") == "32" ? 32 : 64; }

// The 64-bit programs of the wine64 preset unless the run names others: the
// 32-bit ones, with the device-check build's driver.
std::string WineLoader() { return Setting("CE_WINE_LOADER", WINE64_EXE); }
std::string WinePrograms() { return Setting("CE_WINE_PROGRAMS", CE_WINE64_PROGRAMS); }
std::string WineDriver() { return Setting("CE_WINE_DRIVER", WinePrograms() + "/Ravelink.Dll"); }

WineSystem* WineSystem::Shared(std::string* error) {
  static std::unique_ptr<WineSystem> shared;
  static std::string failure;
  if (shared || !failure.empty()) {
    *error = failure;
    return shared.get();
  }
  if (!fs::exists(WineLoader())) {
    failure = *error = "Wine is not installed (" + WineLoader() + "); tools/install-dependencies.sh " +
                       (WordSize() == 32 ? "wine32" : "wine") + " installs it";
    return nullptr;
  }
  for (const std::string& file : {WinePrograms() + "/Wendra.exe", WineDriver()}) {
    if (!fs::exists(file)) {
      failure = *error = file + " is not built; the README's build of the system on Wine makes it";
      return nullptr;
    }
  }
  std::unique_ptr<WineSystem> wine(new WineSystem);
  wine->prefix_ = wine->dir_.Path() + "/prefix";
  std::string said;
  // No display: dialogs, controls, timers and messages work without one. The
  // desktop process takes its driver when it starts, so the prefix's server
  // ends once the setting is made, and the next program starts them afresh.
  // The dialog's face, as a Japanese device has it, is the IPA font the host
  // draws with too (its name is read in UTF-8 from the command line).
  if (wine->Wine({"wineboot", "--init"}, &said) != 0 ||
      wine->Wine({"reg", "add", "HKCU\\Software\\Wine\\Fonts\\Replacements", "/v", "ＭＳ Ｐゴシック", "/d",
                  "IPAPGothic", "/f"},
                 &said, {"LC_ALL=C.UTF-8"}) != 0 ||
      !wine->UseDisplay("", &said)) {
    failure = *error = "cannot make a Wine prefix: " + said;
    return nullptr;
  }
  shared = std::move(wine);
  return shared.get();
}

// The prefix's files are written when its server ends.
WineSystem::~WineSystem() { EndServer(); }

bool WineSystem::EndServer() {
  std::string said;
  cetest::RunCommand({"/usr/bin/env", "WINEPREFIX=" + prefix_, WINESERVER_EXE, "-k"}, &said);
  return cetest::RunCommand({"/usr/bin/env", "WINEPREFIX=" + prefix_, WINESERVER_EXE, "-w"}, &said, 30000) == 0;
}

std::string WineSystem::WindowsPath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Every program of the prefix, its own tools too, reaches the desktop that
// the first one started, on the display in use or on none.
std::vector<std::string> WineSystem::Command(const std::string& folder) const {
  std::vector<std::string> command = {"/usr/bin/env", "-u", "DISPLAY"};
  if (!folder.empty()) command.insert(command.end(), {"-C", folder});
  if (!display_.empty()) command.push_back("DISPLAY=" + display_);
  return command;
}

int WineSystem::Reg(const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> command = {"reg"};
  command.insert(command.end(), args.begin(), args.end());
  return Wine(command, output);
}

int WineSystem::Wine(const std::vector<std::string>& args, std::string* output,
                     const std::vector<std::string>& environment) {
  std::vector<std::string> command = Command("");
  for (const std::string& entry : Environment(prefix_, environment)) command.push_back(entry);
  command.push_back(WineLoader());
  command.insert(command.end(), args.begin(), args.end());
  return cetest::RunCommand(command, output, 120000);
}

bool WineSystem::FreshDevice(const std::string& settings, std::string* error) {
  std::string said;
  // A key that is not there answers 1: the device is as new either way.
  Wine({"reg", "delete", "HKLM\\Drivers", "/f"}, &said);
  std::error_code failed;
  fs::remove(DriveC() + "/windows/Ravelink.Dll", failed);
  fs::remove_all(ProgramDir(), failed);
  fs::create_directories(ProgramDir(), failed);
  for (const char* file : {"Wendra.exe", "COREDLL.dll", "ce-send.exe", "ravelink-conformance.exe"}) {
    if (!failed) fs::copy_file(WinePrograms() + "/" + file, ProgramDir() + "/" + file, failed);
  }
  if (!failed) fs::copy_file(WineDriver(), ProgramDir() + "/Ravelink.Dll", failed);
  if (failed) {
    *error = "cannot install the programs: " + failed.message();
    return false;
  }
  std::ofstream(ProgramDir() + "/Wendra.cfg", std::ios::binary) << settings;
  return true;
}

// The desktop takes its driver when it starts: the server ends after the
// change. The change is made by a Wine on the display in use, whose desktop
// a busy machine can keep from starting it in time ("could not be started");
// it is tried again on a fresh server then, three times at the most.
bool WineSystem::UseDisplay(const std::string& display, std::string* error) {
  std::string said;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (Wine({"reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d",
              display.empty() ? "null" : "x11", "/f"},
             &said) == 0) {
      if (!EndServer()) break;
      display_ = display;
      return true;
    }
    EndServer();
  }
  *error = "cannot change Wine's graphics driver: " + said;
  return false;
}

bool WineSystem::BindPort(int number, const std::string& line, std::string* error) {
  const std::string com = "COM" + std::to_string(number);
  const std::string link = prefix_ + "/dosdevices/com" + std::to_string(number);
  std::error_code failed;
  fs::remove(link, failed);
  fs::create_symlink(line, link, failed);
  if (failed) {
    *error = "cannot bind " + com + ": " + failed.message();
    return false;
  }
  // The device's registry lists the port as one of its serial driver's.
  const std::string file = dir_.Path() + "/serial.reg";
  std::ofstream(file, std::ios::binary) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial"
                                        << number << "]\r\n\"Dll\"=\"Serial.Dll\"\r\n\"Prefix\"=\"COM\"\r\n"
                                        << "\"Index\"=dword:" << std::setw(8) << std::setfill('0') << std::hex << number
                                        << "\r\n";
  std::string said;
  if (Wine({"regedit", "/S", "Z:" + file}, &said) != 0) {
    *error = "cannot list " + com + " in the device's registry: " + said;
    return false;
  }
  return true;
}

// From drive C:, so that device paths (\Windows, \Program Files) are C:'s.
// Without DISPLAY unless one is in use: Wine's null graphics driver then
// makes the windows, which a DISPLAY that is set, even empty, keeps it from
// doing.
pid_t WineSystem::Start(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<std::string>& environment, const std::string& output,
                        const std::string& folder) {
  std::vector<std::string> command = Command(folder.empty() ? DriveC() : folder);
  command.push_back(WineLoader());
  command.push_back("C:\\Program Files\\Wendra\\" + program);
  command.insert(command.end(), args.begin(), args.end());
  return cetest::Spawn(command, Environment(prefix_, environment), output, output);
}

int WineSystem::Run(const std::string& program, const std::vector<std::string>& args, std::string* output,
                    int timeoutMs, const std::vector<std::string>& environment, const std::string& folder) {
  const std::string file = dir_.Path() + "/run.out";
  const int status = cetest::WaitExit(Start(program, args, environment, file, folder), timeoutMs);
  *output = ReadAll(file);
  return status;
}

std::string WendraTitle() {
  const std::u16string title = loggertest::WindowTitle(u"Wendra");
  return std::string(title.begin(), title.end());  // ASCII
}

}  // namespace winetest
