// The device's directory of top-level windows: their titles, their owning
// programs and their stacking order. Top-most windows stay above the others.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/DeviceService.h"

namespace cehost {

class WindowDirectory {
 public:
  // How a program is reached: a message sent to one of its windows, handled
  // on the window's thread; and the news that another program made one of
  // its windows the foreground window, so that it brings it to the front.
  struct Delivery {
    std::function<BOOL(DWORD window, UINT message, WPARAM, LPARAM, LRESULT*)> send;
    std::function<void(DWORD window)> foreground;
  };

  DWORD Create(ProcessId owner, const std::u16string& title);
  BOOL Destroy(ProcessId owner, DWORD window);
  BOOL SetTitle(ProcessId owner, DWORD window, const std::u16string& title);
  BOOL GetTitle(DWORD window, std::u16string* title) const;
  std::vector<DWORD> List() const;
  BOOL Place(ProcessId owner, DWORD window, DWORD placement);
  // The caller's own window is brought to the front by the caller; another
  // program's by that program, told before this answers.
  BOOL SetForeground(ProcessId caller, DWORD window);
  BOOL Send(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  void SetDelivery(ProcessId owner, Delivery delivery);
  // Forgets the program's windows and its delivery.
  void ProcessExited(ProcessId owner);

 private:
  struct Entry {
    DWORD window;
    ProcessId owner;
    std::u16string title;
    bool topMost;
  };
  std::vector<Entry>::iterator Find(DWORD window);
  void Insert(Entry entry, bool atBottom);

  mutable std::mutex mutex_;
  DWORD next_ = 0x10;
  std::vector<Entry> order_;  // top first
  std::map<ProcessId, Delivery> deliveries_;
};

}  // namespace cehost
