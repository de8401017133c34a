// cedevice install: puts the built Wendra, Ravelink.Dll and a default
// Wendra.cfg into the device's \Program Files\Wendra\. A settings file that
// is already there is the user's and stays.
#include <cstdio>
#include <filesystem>

#include "CommandLine.h"
#include "common/DeviceRoot.h"

namespace cedevice {

namespace fs = std::filesystem;

bool InstallFile(const std::string& from, const std::string& to, std::error_code& failure) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, failure);
  if (failure) return false;
  // The owner's alone, as every file of the device; a program stays runnable.
  const bool program = (fs::status(from, failure).permissions() & fs::perms::owner_exec) != fs::perms::none;
  fs::permissions(to, program ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write, failure);
  return !failure;
}

int Install(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error)) {
    std::fprintf(stderr, "cedevice install: %s\n", error.c_str());
    return 2;
  }
  std::error_code failure;
  const bool made = cehost::PrepareDeviceRoot(root, &error);
  cehost::SetDeviceRoot(root);
  std::string programDir;
  DWORD unmapped = ERROR_SUCCESS;  // every path here is a plain one under the root
  if (!made || !cehost::ResolveDevicePath(u"\\Program Files\\Wendra", &programDir, &unmapped) ||
      !cehost::MakePrivateDirectories(programDir, &error)) {
    std::fprintf(stderr, "cedevice install: cannot create \\Program Files\\Wendra in %s: %s\n", root.c_str(),
                 error.c_str());
    return 1;
  }
  struct Item {
    const char* built;
    const char16_t* name;
    bool keepExisting;
  };
  const Item items[] = {
      {CE_WENDRA_EXE, u"Wendra", false},
      {CE_RAVELINK_DLL, u"Ravelink.Dll", false},
      {CE_WENDRA_CFG, u"Wendra.cfg", true},
  };
  for (const Item& item : items) {
    std::string target;
    cehost::ResolveDevicePath(std::u16string(u"\\Program Files\\Wendra\\") + item.name, &target, &unmapped);
    if (item.keepExisting && fs::exists(target)) continue;
    if (!*item.built || !fs::exists(item.built)) {
      std::fprintf(stderr, "cedevice install: %s has not been built\n", *item.built ? item.built : "Wendra");
      return 1;
    }
    if (!InstallFile(item.built, target, failure)) {
      std::fprintf(stderr, "cedevice install: cannot write %s: %s\n", target.c_str(), failure.message().c_str());
      return 1;
    }
  }
  std::printf("installed into %s\n", programDir.c_str());
  return 0;
}

}  // namespace cedevice
