#include "UiBackend.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace cehost {

namespace {

// Nothing on screen: the trace alone shows the windows; message boxes are answered OK.
class Headless : public UiBackend {};

// The GTK backend lives in a library of its own beside this one, so that
// programs without a screen never load GTK.
UiBackend* LoadGtk(std::string* error) {
  Dl_info self{};
  if (!::dladdr(reinterpret_cast<void*>(&LoadGtk), &self) || !self.dli_fname) {
    *error = "cannot find the host library";
    return nullptr;
  }
  std::string path = self.dli_fname;
  path = path.substr(0, path.rfind('/') + 1) + "libcehost_gtk.so";
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    *error = ::dlerror();
    return nullptr;
  }
  auto create = reinterpret_cast<CeCreateUiBackend>(::dlsym(library, "CeCreateGtkBackend"));
  UiBackend* backend = create ? create() : nullptr;
  if (!backend) *error = "no display could be opened";
  return backend;
}

UiBackend* Choose() {
  const char* ui = std::getenv("CE_UI");
  const std::string wanted = ui && *ui ? ui : "";
  const bool display = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
  if (wanted == "gtk" || (wanted.empty() && display)) {
    std::string error;
    if (UiBackend* gtk = LoadGtk(&error)) return gtk;
    std::fprintf(stderr, "windows: the GTK window cannot be shown (%s); running headless\n", error.c_str());
  } else if (!wanted.empty() && wanted != "headless") {
    std::fprintf(stderr, "windows: CE_UI=%s is neither gtk nor headless; running headless\n", wanted.c_str());
  }
  return new Headless;
}

}  // namespace

// Chosen once and kept for the life of the process.
UiBackend& Backend() {
  static UiBackend* backend = Choose();
  return *backend;
}

}  // namespace cehost
