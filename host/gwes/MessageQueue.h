// A thread's message queue: messages sent to it from other threads, posted
// messages, the quit request, windows waiting to be painted and timers. It
// is made when the thread first needs one.
#pragma once

#include <windows.h>

#include <atomic>
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
  // handling meanwhile what other threads send to the calling thread. A
  // message whose window goes, or whose thread ends, before it is handled
  // answers 0.
  LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Quit(int code);
  // Marks the window for painting; true when it was not marked yet, and the
  // queue's thread is to be woken (Wake).
  bool Invalidate(HWND hwnd);
  void Validate(HWND hwnd);
  bool IsInvalid(HWND hwnd);
  void SetTimer(HWND hwnd, UINT_PTR id, UINT period, TIMERPROC proc);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  // Forgets what belongs to a window that is gone; what was sent to it answers 0.
  void Forget(HWND hwnd);
  // The thread has ended: what was sent to it answers 0, and so does what is sent later.
  void Close();
  // Wakes the thread, for a change it has to look at.
  void Wake();

  // On the queue's own thread: handles what other threads sent, then waits
  // for and takes the next message that passes the filter (hwnd NULL: any).
  // A WM_QUIT is taken as msg->message WM_QUIT.
  void Next(MSG* msg, HWND hwnd, UINT first, UINT last);
  // On the queue's own thread: handles what other threads sent, then takes
  // (with remove) or reads the next message that passes the filter, if any.
  bool Peek(MSG* msg, HWND hwnd, UINT first, UINT last, bool remove);
  // Handles what other threads sent to this thread; true when it handled any.
  bool HandleSent();
  // On the queue's own thread: waits until alarm is set, until another
  // thread has sent a message (when sentEnds), or for the milliseconds
  // (INFINITE: no end); true when a sent message ends it.
  bool WaitForSent(const std::atomic<bool>& alarm, DWORD milliseconds, bool sentEnds);

 private:
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT period;
    TIMERPROC proc;
    Clock::time_point due;
  };
  static bool Passes(const MSG& msg, HWND hwnd, UINT first, UINT last);
  // Under the lock: the next message that passes the filter; otherwise false
  // and *next the time the next timer is due (max when none).
  bool TakeLocked(MSG* msg, HWND hwnd, UINT first, UINT last, bool remove, Clock::time_point* next);
  // Gives the sender its answer.
  static void Answer(SentMessage& sent, LRESULT result);

  const DWORD thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  std::deque<MSG> posted_;
  bool quit_ = false;
  bool closed_ = false;
  int quitCode_ = 0;
  std::set<HWND> invalid_;
  std::vector<Timer> timers_;
  friend struct SentMessage;
};

// The host's own messages, as Wine has its own: a window call that the
// platform makes by a message on its way, made on a window of another
// thread, is sent to that thread as one of these and made there.
constexpr UINT kShowWindowMessage = 0x80000001u;    // wParam: the show command
constexpr UINT kEnableWindowMessage = 0x80000002u;  // wParam: enable
constexpr UINT kUpdateWindowMessage = 0x80000003u;

// Calls the window's procedure on the calling thread; the host's own
// messages make their call.
LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The queue of the window's thread when that is another thread than the
// caller's; nullptr for a window of the calling thread, or none.
std::shared_ptr<MessageQueue> OtherThreadsQueue(HWND hwnd);

}  // namespace cehost
