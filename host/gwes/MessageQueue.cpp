#include "MessageQueue.h"

#include <algorithm>

namespace cehost {

std::shared_ptr<MessageQueue> MessageQueue::Current() {
  thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>(GetCurrentThreadId());
  return queue;
}

void MessageQueue::Post(const MSG& msg) {
  std::lock_guard<std::mutex> lock(mutex_);
  posted_.push_back(msg);
  changed_.notify_all();
}

LRESULT MessageQueue::Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  sent->sender = Current();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(sent);
    changed_.notify_all();
  }
  // The sender keeps answering what is sent to it, as a thread waiting in
  // SendMessage does, so two threads sending to each other never deadlock.
  MessageQueue& own = *sent->sender;
  for (;;) {
    own.HandleSent();
    std::unique_lock<std::mutex> lock(own.mutex_);
    if (sent->handled) return sent->result;
    if (!own.sent_.empty()) continue;
    own.changed_.wait(lock, [&] { return sent->handled || !own.sent_.empty(); });
  }
}

bool MessageQueue::HandleSent() {
  bool any = false;
  for (;;) {
    std::shared_ptr<SentMessage> sent;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (sent_.empty()) return any;
      sent = sent_.front();
      sent_.pop_front();
    }
    any = true;
    const LRESULT result = CallWindow(sent->hwnd, sent->message, sent->wParam, sent->lParam);
    MessageQueue& sender = *sent->sender;
    std::lock_guard<std::mutex> lock(sender.mutex_);
    sent->result = result;
    sent->handled = true;
    sender.changed_.notify_all();
  }
}

void MessageQueue::Quit(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  quitCode_ = code;
  changed_.notify_all();
}

bool MessageQueue::Invalidate(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  return invalid_.insert(hwnd).second;
}

void MessageQueue::Validate(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  invalid_.erase(hwnd);
}

bool MessageQueue::IsInvalid(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  return invalid_.count(hwnd) != 0;
}

void MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT period, TIMERPROC proc) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Clock::time_point due = Clock::now() + std::chrono::milliseconds(period);
  for (Timer& timer : timers_) {
    if (timer.hwnd == hwnd && timer.id == id) {  // setting it again restarts it
      timer.period = period;
      timer.proc = proc;
      timer.due = due;
      changed_.notify_all();
      return;
    }
  }
  timers_.push_back(Timer{hwnd, id, period, proc, due});
  changed_.notify_all();
}

bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  // A WM_TIMER already taken is not recalled, as on the device; none is queued here.
  return true;
}

void MessageQueue::Forget(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  invalid_.erase(hwnd);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
                timers_.end());
  posted_.erase(std::remove_if(posted_.begin(), posted_.end(), [&](const MSG& m) { return m.hwnd == hwnd; }),
                posted_.end());
}

// What the thread is woken for is in the queue already; the lock is taken
// only to meet a thread about to wait, and let go before the notification,
// so that the woken thread does not wait for it again.
void MessageQueue::Wake() {
  { std::lock_guard<std::mutex> meet(mutex_); }
  changed_.notify_all();
}

bool MessageQueue::Passes(const MSG& msg, HWND hwnd, UINT first, UINT last) {
  if (hwnd && msg.hwnd != hwnd) return false;
  if (first == 0 && last == 0) return true;
  return msg.message >= first && msg.message <= last;
}

void MessageQueue::Next(MSG* msg, HWND hwnd, UINT first, UINT last) {
  for (;;) {
    HandleSent();
    std::unique_lock<std::mutex> lock(mutex_);
    if (!sent_.empty()) continue;

    for (auto it = posted_.begin(); it != posted_.end(); ++it) {
      if (!Passes(*it, hwnd, first, last)) continue;
      *msg = *it;
      posted_.erase(it);
      return;
    }
    if (quit_) {
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, GetTickCount(), {0, 0}};
      quit_ = false;
      return;
    }
    for (HWND invalid : invalid_) {
      const MSG paint{invalid, WM_PAINT, 0, 0, GetTickCount(), {0, 0}};
      if (!Passes(paint, hwnd, first, last)) continue;
      *msg = paint;  // stays until the window is painted
      return;
    }
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (Timer& timer : timers_) {
      const MSG tick{timer.hwnd, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc), GetTickCount(), {0, 0}};
      if (!Passes(tick, hwnd, first, last)) continue;
      if (timer.due <= now) {
        *msg = tick;
        timer.due = now + std::chrono::milliseconds(timer.period);
        return;
      }
      next = std::min(next, timer.due);
    }
    if (next == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, next);
    }
  }
}

}  // namespace cehost
