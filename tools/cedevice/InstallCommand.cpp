// cedevice install: puts the built Wendra, Ravelink.Dll and a default
// Wendra.cfg into the device's \Program Files\Wendra\. A settings file that
// is already there is the user's and stays. cedevice run installs the same
// way into a fresh device.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CommandLine.h"
#include "common/DeviceRoot.h"

namespace cedevice {

namespace fs = std::filesystem;

namespace {

// The built settings file, with logging started at once when asked.
bool BuiltSettings(bool startLogging, std::string* text) {
  std::ifstream in(CE_WENDRA_CFG, std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  if (!in) return false;
  *text = read.str();
  if (!startLogging) return true;
  std::istringstream lines(*text);
  std::string out;
  bool set = false;
  for (std::string line; std::getline(lines, line);) {
    const size_t key = line.find_first_not_of("# \t");
    if (!set && key != std::string::npos && line.compare(key, 9, "autostart") == 0) {
      out += "autostart=1\n";
      set = true;
    } else {
      out += line + "\n";
    }
  }
  if (!set) out += "autostart=1\n";
  *text = out;
  return true;
}

// The host path of a file of \Program Files\Wendra\.
std::string ProgramFile(const char16_t* name) {
  std::string path;
  DWORD unmapped = ERROR_SUCCESS;  // every path here is a plain one under the root
  cehost::ResolveDevicePath(std::u16string(u"\\Program Files\\Wendra\\") + name, &path, &unmapped);
  return path;
}

}  // namespace

bool InstallFile(const std::string& from, const std::string& to, std::error_code& failure) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, failure);
  if (failure) return false;
  // The owner's alone, as every file of the device; a program stays runnable.
  const bool program = (fs::status(from, failure).permissions() & fs::perms::owner_exec) != fs::perms::none;
  fs::permissions(to, program ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write, failure);
  return !failure;
}

bool InstallWendra(bool startLogging, std::string* programDir, std::string* error) {
  DWORD unmapped = ERROR_SUCCESS;
  if (!cehost::ResolveDevicePath(u"\\Program Files\\Wendra", programDir, &unmapped) ||
      !cehost::MakePrivateDirectories(*programDir, error)) {
    *error = "cannot create \\Program Files\\Wendra: " + *error;
    return false;
  }
  for (const char* built : {CE_WENDRA_EXE, CE_RAVELINK_DLL, CE_WENDRA_CFG}) {
    if (!*built || !fs::exists(built)) {
      *error = std::string(*built ? built : "Wendra") + " has not been built";
      return false;
    }
  }
  std::error_code failure;
  for (const auto& [built, name] : {std::pair{CE_WENDRA_EXE, u"Wendra"}, {CE_RAVELINK_DLL, u"Ravelink.Dll"}}) {
    const std::string target = ProgramFile(name);
    if (!InstallFile(built, target, failure)) {
      *error = "cannot write " + target + ": " + failure.message();
      return false;
    }
  }
  const std::string settings = ProgramFile(u"Wendra.cfg");
  if (fs::exists(settings)) return true;
  std::string text;
  if (!BuiltSettings(startLogging, &text)) {
    *error = std::string("cannot read ") + CE_WENDRA_CFG;
    return false;
  }
  std::ofstream out(settings, std::ios::binary);
  out << text;
  out.close();
  fs::permissions(settings, fs::perms::owner_read | fs::perms::owner_write, failure);
  if (!out || failure) {
    *error = "cannot write " + settings + (failure ? ": " + failure.message() : "");
    return false;
  }
  return true;
}

int Install(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error)) {
    std::fprintf(stderr, "cedevice install: %s\n", error.c_str());
    return 2;
  }
  if (!cehost::PrepareDeviceRoot(root, &error)) {
    std::fprintf(stderr, "cedevice install: %s\n", error.c_str());
    return 1;
  }
  cehost::SetDeviceRoot(root);
  std::string programDir;
  if (!InstallWendra(false, &programDir, &error)) {
    std::fprintf(stderr, "cedevice install: %s\n", error.c_str());
    return 1;
  }
  std::printf("installed into %s\n", programDir.c_str());
  return 0;
}

}  // namespace cedevice
