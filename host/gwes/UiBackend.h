// What shows the window model: nothing (headless) or a GTK window. The
// model calls a backend after each change, from the thread that made it and
// without holding the model's lock; the backend reads the model under it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace cehost {

class UiBackend {
 public:
  virtual ~UiBackend() = default;
  // A top-level window's content changed: text, state, images or colours.
  virtual void Changed(HWND) {}
  // Its geometry, stacking or visibility changed.
  virtual void Placed(HWND) {}
  virtual void Foreground(HWND) {}
  virtual void Destroyed(HWND) {}
  virtual void Beep(UINT) {}
  // Shows a modal message box and calls done with the answer, on any thread,
  // once it is dismissed. False when the backend shows none.
  virtual bool ShowMessageBox(HWND, const std::u16string&, const std::u16string&, UINT,
                              std::function<void(int)>) {
    return false;
  }
};

// The backend CE_UI chooses: "gtk", "headless", or unset for the GTK window
// when a display is there. A GTK backend that cannot start falls back to
// headless with a message on stderr.
UiBackend& Backend();

}  // namespace cehost

// The entry of the GTK backend's library, loaded on demand.
extern "C" typedef cehost::UiBackend* (*CeCreateUiBackend)(void);
