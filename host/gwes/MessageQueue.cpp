#include "MessageQueue.h"

#include <algorithm>

namespace cehost {

namespace {

// A thread's queue, closed when the thread ends, so that nothing sent to it waits for ever.
struct OwnQueue {
  std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>(GetCurrentThreadId());
  ~OwnQueue() { queue->Close(); }
};

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::Current() {
  thread_local OwnQueue own;
  return own.queue;
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
    if (closed_) return 0;
    sent_.push_back(sent);
  }
  // Told after the lock is let go, so the woken thread does not wait for it again.
  changed_.notify_all();
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
    Answer(*sent, CallWindow(sent->hwnd, sent->message, sent->wParam, sent->lParam));
  }
}

void MessageQueue::Answer(SentMessage& sent, LRESULT result) {
  MessageQueue& sender = *sent.sender;  // kept by the message, which the caller keeps
  {
    std::lock_guard<std::mutex> lock(sender.mutex_);
    sent.result = result;
    sent.handled = true;
  }
  sender.changed_.notify_all();
}

bool MessageQueue::WaitForSent(const std::atomic<bool>& alarm, DWORD milliseconds, bool sentEnds) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto ready = [&] { return (sentEnds && !sent_.empty()) || alarm; };
  if (milliseconds == INFINITE) {
    changed_.wait(lock, ready);
  } else {
    changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
  }
  return sentEnds && !sent_.empty();
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
  std::vector<std::shared_ptr<SentMessage>> unanswered;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sent_.begin(); it != sent_.end();) {
      if ((*it)->hwnd == hwnd) {
        unanswered.push_back(*it);
        it = sent_.erase(it);
      } else {
        ++it;
      }
    }
    invalid_.erase(hwnd);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
                  timers_.end());
    posted_.erase(std::remove_if(posted_.begin(), posted_.end(), [&](const MSG& m) { return m.hwnd == hwnd; }),
                  posted_.end());
  }
  for (const auto& sent : unanswered) Answer(*sent, 0);
}

void MessageQueue::Close() {
  std::deque<std::shared_ptr<SentMessage>> unanswered;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    unanswered.swap(sent_);
  }
  for (const auto& sent : unanswered) Answer(*sent, 0);
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

bool MessageQueue::TakeLocked(MSG* msg, HWND hwnd, UINT first, UINT last, bool remove, Clock::time_point* next) {
  for (auto it = posted_.begin(); it != posted_.end(); ++it) {
    if (!Passes(*it, hwnd, first, last)) continue;
    *msg = *it;
    if (remove) posted_.erase(it);
    return true;
  }
  if (quit_) {
    *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, GetTickCount(), {0, 0}};
    if (remove) quit_ = false;
    return true;
  }
  for (HWND invalid : invalid_) {
    const MSG paint{invalid, WM_PAINT, 0, 0, GetTickCount(), {0, 0}};
    if (!Passes(paint, hwnd, first, last)) continue;
    *msg = paint;  // stays until the window is painted
    return true;
  }
  const Clock::time_point now = Clock::now();
  *next = Clock::time_point::max();
  for (Timer& timer : timers_) {
    const MSG tick{timer.hwnd, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc), GetTickCount(), {0, 0}};
    if (!Passes(tick, hwnd, first, last)) continue;
    if (timer.due <= now) {
      *msg = tick;
      if (remove) timer.due = now + std::chrono::milliseconds(timer.period);
      return true;
    }
    *next = std::min(*next, timer.due);
  }
  return false;
}

void MessageQueue::Next(MSG* msg, HWND hwnd, UINT first, UINT last) {
  for (;;) {
    HandleSent();
    std::unique_lock<std::mutex> lock(mutex_);
    if (!sent_.empty()) continue;
    Clock::time_point next;
    if (TakeLocked(msg, hwnd, first, last, true, &next)) return;
    if (next == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, next);
    }
  }
}

bool MessageQueue::Peek(MSG* msg, HWND hwnd, UINT first, UINT last, bool remove) {
  HandleSent();
  std::lock_guard<std::mutex> lock(mutex_);
  Clock::time_point next;
  return TakeLocked(msg, hwnd, first, last, remove, &next);
}

}  // namespace cehost
