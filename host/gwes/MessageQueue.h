// A thread's message queue: messages sent to it from other threads, posted
// messages, the quit request, windows waiting to be painted and timers. It
// is made when the thread first needs one.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace cehost {

// A message another thread sends; its sender waits until handled is set.
struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool handled = false;
  std::shared_ptr<class MessageQueue> sender;
};

class MessageQueue {
 public:
  typedef std::chrono::steady_clock Clock;

  explicit MessageQueue(DWORD thread) : thread_(thread) {}

  // This thread's queue.
  static std::shared_ptr<MessageQueue> Current();

  DWORD Thread() const { return thread_; }

  void Post(const MSG& msg);
  // Queues a message for this queue's thread and waits until it is handled,
  // handling meanwhile what other threads send to the calling thread.
  LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Quit(int code);
  // Marks the window for painting; true when it was not marked yet, and the
  // queue's thread is to be woken (Wake).
  bool Invalidate(HWND hwnd);
  void Validate(HWND hwnd);
  bool IsInvalid(HWND hwnd);
  void SetTimer(HWND hwnd, UINT_PTR id, UINT period, TIMERPROC proc);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  // Forgets what belongs to a window that is gone.
  void Forget(HWND hwnd);
  // Wakes the thread, for a change it has to look at.
  void Wake();

  // On the queue's own thread: handles what other threads sent, then waits
  // for and takes the next message that passes the filter (hwnd NULL: any).
  // A WM_QUIT is taken as msg->message WM_QUIT.
  void Next(MSG* msg, HWND hwnd, UINT first, UINT last);
  // Handles what other threads sent to this thread; true when it handled any.
  bool HandleSent();

 private:
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT period;
    TIMERPROC proc;
    Clock::time_point due;
  };
  static bool Passes(const MSG& msg, HWND hwnd, UINT first, UINT last);

  const DWORD thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  std::deque<MSG> posted_;
  bool quit_ = false;
  int quitCode_ = 0;
  std::set<HWND> invalid_;
  std::vector<Timer> timers_;
  friend struct SentMessage;
};

// Calls the window's procedure on the calling thread.
LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace cehost
