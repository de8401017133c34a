#include "WindowDirectory.h"

#include <algorithm>

namespace cehost {

std::vector<WindowDirectory::Entry>::iterator WindowDirectory::Find(DWORD window) {
  return std::find_if(order_.begin(), order_.end(), [&](const Entry& e) { return e.window == window; });
}

void WindowDirectory::Insert(Entry entry, bool atBottom) {
  // The top-most band comes first; a window goes to the top or the bottom of its band.
  auto bandEnd = std::find_if(order_.begin(), order_.end(), [](const Entry& e) { return !e.topMost; });
  if (entry.topMost) {
    order_.insert(atBottom ? bandEnd : order_.begin(), std::move(entry));
  } else {
    order_.insert(atBottom ? order_.end() : bandEnd, std::move(entry));
  }
}

DWORD WindowDirectory::Create(ProcessId owner, const std::u16string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Window numbers are multiples of 4 below 0x40000000; programs number their
  // child windows above it.
  const DWORD window = next_;
  next_ = next_ + 4 < 0x40000000u ? next_ + 4 : 0x10;
  Insert(Entry{window, owner, title, false}, false);
  return window;
}

BOOL WindowDirectory::Destroy(ProcessId owner, DWORD window) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = Find(window);
  if (it == order_.end() || it->owner != owner) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  order_.erase(it);
  return TRUE;
}

BOOL WindowDirectory::SetTitle(ProcessId owner, DWORD window, const std::u16string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = Find(window);
  if (it == order_.end() || it->owner != owner) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  it->title = title;
  return TRUE;
}

BOOL WindowDirectory::GetTitle(DWORD window, std::u16string* title) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : order_) {
    if (entry.window == window) {
      *title = entry.title;
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

std::vector<DWORD> WindowDirectory::List() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<DWORD> windows;
  for (const auto& entry : order_) windows.push_back(entry.window);
  return windows;
}

BOOL WindowDirectory::Place(ProcessId owner, DWORD window, DWORD placement) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = Find(window);
  if (it == order_.end() || it->owner != owner || placement > kPlaceBottom) {
    SetLastError(it == order_.end() || it->owner != owner ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Entry entry = *it;
  order_.erase(it);
  if (placement == kPlaceTopMost) entry.topMost = true;
  if (placement == kPlaceNotTopMost) entry.topMost = false;
  Insert(std::move(entry), placement == kPlaceBottom);
  return TRUE;
}

BOOL WindowDirectory::SetForeground(ProcessId caller, DWORD window) {
  std::function<void(DWORD)> tell;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = Find(window);
    if (it == order_.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    Entry entry = *it;
    order_.erase(it);
    if (entry.owner != caller) {
      auto found = deliveries_.find(entry.owner);
      if (found != deliveries_.end()) tell = found->second.foreground;
    }
    Insert(std::move(entry), false);
  }
  // Told without the directory's lock: the owner may list or place windows meanwhile.
  if (tell) tell(window);
  return TRUE;
}

BOOL WindowDirectory::Send(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  std::function<BOOL(DWORD, UINT, WPARAM, LPARAM, LRESULT*)> send;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = Find(window);
    if (it != order_.end()) {
      auto found = deliveries_.find(it->owner);
      if (found != deliveries_.end()) send = found->second.send;
    }
  }
  if (!send) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // Delivered without the directory's lock: the handler may list or place windows.
  return send(window, message, wParam, lParam, result);
}

void WindowDirectory::SetDelivery(ProcessId owner, Delivery delivery) {
  std::lock_guard<std::mutex> lock(mutex_);
  deliveries_[owner] = std::move(delivery);
}

void WindowDirectory::ProcessExited(ProcessId owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  order_.erase(std::remove_if(order_.begin(), order_.end(), [&](const Entry& e) { return e.owner == owner; }),
               order_.end());
  deliveries_.erase(owner);
}

}  // namespace cehost
