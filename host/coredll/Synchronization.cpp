// Events, threads, waiting and sleeping: local to the program, as on the
// device.
#include <cxxabi.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Kernel.h"

namespace cehost {

namespace {

constexpr DWORD kStillActive = 259;

// Counts the forks of this process: a thread id asked before a fork is
// another thread's in the child.
std::atomic<unsigned> forks{0};
[[maybe_unused]] const bool countingForks = pthread_atfork(nullptr, nullptr, [] { ++forks; }) == 0;

// The thread takes the name of its start routine, as a debugger on the
// device names a thread; only a routine the program exports has one here.
void NameAfter(LPTHREAD_START_ROUTINE start) {
  Dl_info info;
  // dladdr answers the nearest symbol below an address it has none for.
  if (!dladdr(reinterpret_cast<void*>(start), &info) || !info.dli_sname ||
      info.dli_saddr != reinterpret_cast<void*>(start)) {
    return;
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : info.dli_sname;
  std::free(demangled);
  name = name.substr(0, name.find('('));  // "ns::Routine(void*)": "Routine"
  if (const size_t colon = name.rfind(':'); colon != std::string::npos) name.erase(0, colon + 1);
  // The kernel keeps 15 bytes of a thread's name.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

// Waits on a condition with the platform's time-out: INFINITE, or milliseconds.
template <typename Predicate>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD milliseconds,
             Predicate ready) {
  if (milliseconds == INFINITE) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

// The alarms of the threads that wait on an object beside others; under the object's lock.
class Watchers {
 public:
  void Add(WaitAlarm* alarm) { alarms_.push_back(alarm); }
  void Remove(WaitAlarm* alarm) {
    for (auto it = alarms_.begin(); it != alarms_.end(); ++it) {
      if (*it == alarm) {
        alarms_.erase(it);
        return;
      }
    }
  }
  void Ring() {
    for (WaitAlarm* alarm : alarms_) alarm->Ring();
  }

 private:
  std::vector<WaitAlarm*> alarms_;
};

class EventObject : public KernelObject {
 public:
  EventObject(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}

  void Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = true;
    if (manualReset_) {
      changed_.notify_all();
    } else {
      changed_.notify_one();
    }
    watchers_.Ring();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = false;
  }
  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!WaitFor(changed_, lock, milliseconds, [this] { return signaled_; })) return WAIT_TIMEOUT;
    if (!manualReset_) signaled_ = false;
    return WAIT_OBJECT_0;
  }
  DWORD TakeOrWatch(WaitAlarm* alarm) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (signaled_) {
      if (!manualReset_) signaled_ = false;
      return WAIT_OBJECT_0;
    }
    watchers_.Add(alarm);
    return WAIT_TIMEOUT;
  }
  void Unwatch(WaitAlarm* alarm) override {
    std::lock_guard<std::mutex> lock(mutex_);
    watchers_.Remove(alarm);
  }

 private:
  const bool manualReset_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signaled_;
  Watchers watchers_;
};

// A thread's object is signalled when the thread ends; it outlives its handle.
class ThreadObject : public KernelObject {
 public:
  void RunBody(LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    NameAfter(start);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      id_ = GetCurrentThreadId();
      changed_.notify_all();
    }
    const DWORD code = start(parameter);
    std::lock_guard<std::mutex> lock(mutex_);
    exitCode_ = code;
    ended_ = true;
    changed_.notify_all();
    watchers_.Ring();
  }
  // The thread's id, known once it has started.
  DWORD Id() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return id_ != 0; });
    return id_;
  }
  DWORD ExitCode() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_ ? exitCode_ : kStillActive;
  }
  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(mutex_);
    return WaitFor(changed_, lock, milliseconds, [this] { return ended_; }) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }
  DWORD TakeOrWatch(WaitAlarm* alarm) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return WAIT_OBJECT_0;
    watchers_.Add(alarm);
    return WAIT_TIMEOUT;
  }
  void Unwatch(WaitAlarm* alarm) override {
    std::lock_guard<std::mutex> lock(mutex_);
    watchers_.Remove(alarm);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
  DWORD id_ = 0;
  DWORD exitCode_ = kStillActive;
  Watchers watchers_;
};

}  // namespace

}  // namespace cehost

using namespace cehost;

extern "C" {

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  if (lpName) {  // named events are not used by this system
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return InsertHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
  auto event = LookupHandleAs<EventObject>(hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto event = LookupHandleAs<EventObject>(hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  event->Reset();
  return TRUE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwCreationFlags & CREATE_SUSPENDED) {  // nothing here resumes a thread
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  try {
    std::thread([thread, lpStartAddress, lpParameter] { thread->RunBody(lpStartAddress, lpParameter); }).detach();
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (lpThreadId) *lpThreadId = thread->Id();
  return InsertHandle(thread);
}

// The host's scheduler decides; a priority is accepted and has no effect.
BOOL SetThreadPriority(HANDLE hThread, int) {
  if (!LookupHandleAs<ThreadObject>(hThread)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = LookupHandleAs<ThreadObject>(hThread);
  if (!thread || !lpExitCode) return Fail(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  *lpExitCode = thread->ExitCode();
  return TRUE;
}

// Asked of the kernel once per thread (and again after a fork).
DWORD GetCurrentThreadId(void) {
  thread_local unsigned asked = ~0u;
  thread_local DWORD id = 0;
  if (asked != forks.load(std::memory_order_relaxed)) {
    asked = forks.load(std::memory_order_relaxed);
    id = static_cast<DWORD>(::syscall(SYS_gettid));
  }
  return id;
}

DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  lpCriticalSection->LockObject = new std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  delete static_cast<std::recursive_mutex*>(lpCriticalSection->LockObject);
  lpCriticalSection->LockObject = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  static_cast<std::recursive_mutex*>(lpCriticalSection->LockObject)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  static_cast<std::recursive_mutex*>(lpCriticalSection->LockObject)->unlock();
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto object = LookupHandle(hHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(dwMilliseconds);
}

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }

DWORD GetTickCount(void) {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // extern "C"
