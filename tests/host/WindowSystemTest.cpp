// The window system's own promises: messages sent across threads, and the
// calls that send one on their way, are handled on the window's thread and
// wait for it; a window thread takes them in its message calls and its
// message-aware wait, never in a plain wait; the shell's execute call fails
// with the platform's errors.
#include <DeviceProcess.h>
#include <ServedDevice.h>
#include <TempDir.h>
#include <cehost/Device.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

namespace {

// A packed template, as the resource compiler lays one out: a popup with
// the title "test" and three controls, a text, a button and a read-only edit.
std::vector<WORD> DialogTemplate() {
  std::vector<WORD> words;
  auto dword = [&](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  auto text = [&](const char16_t* s) {
    while (*s) words.push_back(*s++);
    words.push_back(0);
  };
  auto item = [&](DWORD style, std::initializer_list<short> place, WORD id, WORD atom, const char16_t* title) {
    if (words.size() % 2) words.push_back(0);  // each item starts on a DWORD
    dword(style);
    dword(0);
    for (short v : place) words.push_back(static_cast<WORD>(v));
    words.push_back(id);
    words.insert(words.end(), {0xFFFF, atom});
    text(title);
    words.push_back(0);  // no creation data
  };
  dword(WS_POPUP | WS_BORDER);
  dword(0);
  words.push_back(3);
  for (short v : {4, 8, 100, 60}) words.push_back(static_cast<WORD>(v));
  words.insert(words.end(), {0, 0});  // no menu, no class of its own
  text(u"test");
  item(WS_CHILD | WS_VISIBLE, {10, 10, 40, 10}, 100, 0x0082, u"text");
  item(WS_CHILD | WS_VISIBLE | WS_TABSTOP, {10, 30, 40, 20}, 101, 0x0080, u"press");
  item(WS_CHILD | WS_VISIBLE | ES_READONLY, {60, 10, 30, 10}, 102, 0x0081, u"");
  return words;
}

const std::vector<WORD> kDialog = DialogTemplate();

std::atomic<DWORD> handledOn{0};

// The edit's notices, as the dialog took them: control id, code, thread.
struct Notice {
  WORD id, code;
  DWORD thread;
  bool operator==(const Notice& o) const { return id == o.id && code == o.code && thread == o.thread; }
};
std::mutex noticesMutex;
std::condition_variable noticesChanged;
std::vector<Notice> notices;

INT_PTR CALLBACK Procedure(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_USER) handledOn = GetCurrentThreadId();
  if (message == WM_COMMAND && HIWORD(wParam) != BN_CLICKED) {
    std::lock_guard<std::mutex> lock(noticesMutex);
    notices.push_back({LOWORD(wParam), HIWORD(wParam), GetCurrentThreadId()});
    noticesChanged.notify_all();
  }
  return message == WM_USER;
}

// A window thread of the program: creates the test's dialog; when held, first
// waits for Release() as a window thread waiting for a worker does, in a
// plain wait or in the message-aware one; then handles messages until
// WM_USER + 1 ends the dialog, or, with destroyOnRelease, destroys the dialog
// at once and waits for End() without handling any.
class DialogThread {
 public:
  enum Hold { NONE, PLAIN_WAIT, MESSAGE_WAIT };

  explicit DialogThread(Hold hold = NONE, bool destroyOnRelease = false)
      : release_(hold != NONE ? CreateEventW(NULL, TRUE, FALSE, NULL) : NULL),
        end_(CreateEventW(NULL, TRUE, FALSE, NULL)) {
    std::promise<HWND> created;
    owner_ = std::thread([this, &created, hold, destroyOnRelease] {
      id = GetCurrentThreadId();
      HWND made =
          CreateDialogIndirectParamW(NULL, reinterpret_cast<LPCDLGTEMPLATEW>(kDialog.data()), NULL, Procedure, 0);
      created.set_value(made);
      if (hold == PLAIN_WAIT) waited = WaitForSingleObject(release_, INFINITE);
      if (hold == MESSAGE_WAIT) {
        MSG msg;
        while ((waited = MsgWaitForMultipleObjectsEx(1, &release_, INFINITE, QS_SENDMESSAGE, 0)) == WAIT_OBJECT_0 + 1) {
          PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);
        }
      }
      if (destroyOnRelease) {
        DestroyWindow(made);
        WaitForSingleObject(end_, INFINITE);
        return;
      }
      MSG msg;
      while (IsWindow(made) && GetMessageW(&msg, NULL, 0, 0)) {
        DispatchMessageW(&msg);
        if (msg.message == WM_USER + 1) DestroyWindow(made);
      }
    });
    dialog = created.get_future().get();
  }
  // A test that failed half-way still lets a held thread go and joins it.
  ~DialogThread() {
    Release();
    if (owner_.joinable()) End();
    if (release_) CloseHandle(release_);
    CloseHandle(end_);
  }
  // Lets a held thread go on.
  void Release() {
    if (release_) SetEvent(release_);
  }
  // Ends the dialog from this thread and waits for its thread.
  bool End() {
    const bool posted = PostMessageW(dialog, WM_USER + 1, 0, 0);
    SetEvent(end_);
    owner_.join();
    return posted;
  }

  std::atomic<DWORD> id{0};
  std::atomic<DWORD> waited{WAIT_FAILED};  // what the held thread's wait answered
  HWND dialog = NULL;

 private:
  const HANDLE release_;
  const HANDLE end_;
  std::thread owner_;
};

// A call from another thread still waiting after this long is taken to wait
// for the window's thread: one that does not wait is done long before.
constexpr auto kWaiting = std::chrono::milliseconds(100);
// A call the window's thread takes is done within this, however busy the machine.
constexpr auto kDone = std::chrono::seconds(20);

// Run with the device in the test's process, and in a process of its own
// reached through the socket.
class WindowSystemTest : public ::testing::TestWithParam<cetest::Link> {
 protected:
  void SetUp() override { Boot(GetParam()); }
  void Boot(cetest::Link link) {
    setenv("CE_UI", "headless", 1);
    cehost::BootOptions options;
    options.root = dir_.Path();
    std::string error;
    device_ = cetest::BootDevice(link, options, &error);
    ASSERT_TRUE(device_) << error;
  }
  cetest::TempDir dir_;
  std::unique_ptr<cetest::BootedDevice> device_;
};

// A window of this program as other programs reach it: through the device
// process, which carries their messages here.
class WindowDeliveryTest : public WindowSystemTest {
 protected:
  void SetUp() override { Boot(cetest::Link::Socket); }
  // What a cedevice command, another program of the device, prints.
  std::string Cedevice(const std::string& command, const std::vector<std::string>& arguments = {},
                       int status = 0) {
    std::vector<std::string> argv = {CEDEVICE_EXE, command, "--root", dir_.Path()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(status, cetest::RunCommand(argv, &output)) << output;
    return output;
  }
};

TEST_P(WindowSystemTest, GeometryAndTextAreReadFromAnyThreadAndOnlyTheOwnerDestroys) {
  DialogThread window(DialogThread::PLAIN_WAIT);
  const HWND dialog = window.dialog;
  ASSERT_NE(dialog, HWND(NULL));
  HWND text = GetDlgItem(dialog, 100);
  // Geometry in pixels: 7/4 across, 3/2 down, inside a one-pixel border.
  RECT rect;
  ASSERT_TRUE(GetWindowRect(text, &rect));
  EXPECT_EQ(rect.left, 7 + 1 + 18);
  EXPECT_EQ(rect.right - rect.left, 70);
  EXPECT_EQ(rect.bottom - rect.top, 15);
  WCHAR buffer[16];
  EXPECT_EQ(GetWindowTextW(text, buffer, 16), 4);
  EXPECT_EQ(std::u16string(buffer), u"text");
  EXPECT_EQ(GetWindowTextW(text, buffer, 4), 3) << "at most size - 1 characters";
  EXPECT_TRUE(InvalidateRect(text, NULL, TRUE)) << "never waits";
  EXPECT_TRUE(PostMessageW(dialog, WM_USER, 0, 0)) << "never waits";
  // Only the window's thread destroys it.
  EXPECT_FALSE(DestroyWindow(dialog));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  window.Release();
  ASSERT_TRUE(window.End());
  EXPECT_FALSE(IsWindow(dialog));
}

// Each call that sends a message on its way waits, from another thread,
// while the window's thread is blocked in a plain wait, and is made once
// that thread takes it: on the window's thread.
TEST_P(WindowSystemTest, AnotherThreadsCallWaitsUntilTheWindowsThreadHasTakenIt) {
  struct Call {
    const char* name;
    std::function<LRESULT(HWND dialog)> make;
    std::function<bool(HWND dialog)> made;  // its effect, once taken
  };
  const Call calls[] = {
      {"SendMessageW", [](HWND d) { return SendMessageW(d, WM_GETTEXTLENGTH, 0, 0); },
       [](HWND) { return true; }},
      {"SetWindowTextW", [](HWND d) { return LRESULT(SetWindowTextW(GetDlgItem(d, 102), u"changed")); },
       [](HWND d) { return GetWindowTextLengthW(GetDlgItem(d, 102)) == 7; }},
      {"ShowWindow", [](HWND d) { return LRESULT(ShowWindow(GetDlgItem(d, 100), SW_HIDE)); },
       [](HWND d) { return !IsWindowVisible(GetDlgItem(d, 100)); }},
      {"ShowWindow of the shown", [](HWND d) { return LRESULT(ShowWindow(GetDlgItem(d, 100), SW_SHOW)); },
       [](HWND) { return true; }},
      {"EnableWindow", [](HWND d) { return LRESULT(EnableWindow(GetDlgItem(d, 101), FALSE)); },
       [](HWND d) { return !IsWindowEnabled(GetDlgItem(d, 101)); }},
      {"UpdateWindow",
       [](HWND d) {
         InvalidateRect(GetDlgItem(d, 100), NULL, TRUE);
         return LRESULT(UpdateWindow(GetDlgItem(d, 100)));
       },
       [](HWND) { return true; }},
  };
  const LRESULT answers[] = {4, TRUE, TRUE, TRUE, FALSE, TRUE};
  for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
    const Call& call = calls[i];
    SCOPED_TRACE(call.name);
    DialogThread window(DialogThread::PLAIN_WAIT);
    ASSERT_NE(window.dialog, HWND(NULL));
    auto answer = std::async(std::launch::async, [&] { return call.make(window.dialog); });
    EXPECT_EQ(answer.wait_for(kWaiting), std::future_status::timeout) << "did not wait for the window's thread";
    window.Release();
    ASSERT_EQ(answer.wait_for(kDone), std::future_status::ready);
    EXPECT_EQ(answer.get(), answers[i]);
    EXPECT_TRUE(call.made(window.dialog));
    EXPECT_EQ(window.waited, WAIT_OBJECT_0);
    EXPECT_TRUE(window.End());
  }
}

// A window thread in the message-aware wait takes what other threads send
// and goes on waiting: the sender is done while the thread still waits.
TEST_P(WindowSystemTest, TheMessageAwareWaitTakesSentMessagesAndWaitsOn) {
  {
    std::lock_guard<std::mutex> lock(noticesMutex);
    notices.clear();
  }
  DialogThread window(DialogThread::MESSAGE_WAIT);
  ASSERT_NE(window.dialog, HWND(NULL));
  const HWND edit = GetDlgItem(window.dialog, 102);
  auto answer = std::async(std::launch::async, [&] { return SetWindowTextW(edit, u"N 35.6581000"); });
  ASSERT_EQ(answer.wait_for(kDone), std::future_status::ready);
  EXPECT_TRUE(answer.get());
  EXPECT_EQ(GetWindowTextLengthW(edit), 12);
  {
    std::lock_guard<std::mutex> lock(noticesMutex);
    const std::vector<Notice> expected = {{102, EN_UPDATE, window.id}, {102, EN_CHANGE, window.id}};
    EXPECT_EQ(expected, notices) << "made on the window's thread, inside its wait";
  }
  EXPECT_NE(window.waited, WAIT_OBJECT_0) << "the wait is not over";
  window.Release();
  EXPECT_TRUE(window.End());
  EXPECT_EQ(window.waited, WAIT_OBJECT_0);
}

// The wait answers the first signalled object, its time, or the input it was
// asked for; it refuses what it cannot wait for.
TEST_P(WindowSystemTest, TheMessageAwareWaitAnswersAsThePlatformDocuments) {
  HANDLE events[2] = {CreateEventW(NULL, FALSE, FALSE, NULL), CreateEventW(NULL, TRUE, FALSE, NULL)};
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, events, 0, QS_SENDMESSAGE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, events, 10, QS_SENDMESSAGE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(events[1]);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, events, 10000, QS_SENDMESSAGE, 0), WAIT_OBJECT_0 + 1);
  SetEvent(events[0]);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(2, events, 10000, QS_SENDMESSAGE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, events, 0, QS_SENDMESSAGE, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "an auto-reset event is taken by the wait that it ends";
  // An event set by another thread while the wait is on.
  std::thread setter([&] { SetEvent(events[0]); });
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, events, 10000, QS_SENDMESSAGE, 0), WAIT_OBJECT_0);
  setter.join();

  const HANDLE bad = reinterpret_cast<HANDLE>(0x7FFFFF00);
  SetLastError(0);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &bad, 0, QS_SENDMESSAGE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(MAXIMUM_WAIT_OBJECTS, events, 0, QS_SENDMESSAGE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  for (HANDLE event : events) CloseHandle(event);
}

// A message sent to a window that its thread destroys before taking it
// answers 0, though that thread never takes a message again.
TEST_P(WindowSystemTest, AMessageSentToAWindowDestroyedMeanwhileAnswersZero) {
  DialogThread window(DialogThread::PLAIN_WAIT, true);
  ASSERT_NE(window.dialog, HWND(NULL));
  auto answer = std::async(std::launch::async, [&] { return SendMessageW(window.dialog, WM_GETTEXTLENGTH, 0, 0); });
  EXPECT_EQ(answer.wait_for(kWaiting), std::future_status::timeout);
  window.Release();
  ASSERT_EQ(answer.wait_for(kDone), std::future_status::ready);
  EXPECT_EQ(answer.get(), 0);
  EXPECT_FALSE(IsWindow(window.dialog));
  window.End();
}

// A single-line edit tells its dialog of a text set, EN_UPDATE then
// EN_CHANGE, as the platform documents; a text set from another thread
// tells it on the window's thread.
TEST_P(WindowSystemTest, AnEditTellsItsDialogOfEveryTextSet) {
  {
    std::lock_guard<std::mutex> lock(noticesMutex);
    notices.clear();
  }
  DialogThread window;
  ASSERT_NE(window.dialog, HWND(NULL));
  const HWND edit = GetDlgItem(window.dialog, 102);
  ASSERT_NE(edit, HWND(NULL));
  EXPECT_TRUE(SetWindowTextW(edit, u"N 35.6581000"));
  EXPECT_TRUE(SetWindowTextW(GetDlgItem(window.dialog, 100), u"a static text tells nothing"));
  const DWORD windowThread = window.id;
  const std::vector<Notice> expected = {{102, EN_UPDATE, windowThread}, {102, EN_CHANGE, windowThread}};
  std::unique_lock<std::mutex> lock(noticesMutex);
  EXPECT_TRUE(noticesChanged.wait_for(lock, std::chrono::seconds(10), [&] { return notices.size() >= 2; }));
  EXPECT_EQ(expected, notices);
  lock.unlock();
  EXPECT_TRUE(window.End());
}

TEST_P(WindowSystemTest, ShellExecuteFailsWithThePlatformsErrors) {
  const std::string windows = dir_.Path() + "/Windows/";
  std::ofstream(windows + "plain.txt") << "not a program\n";
  std::ofstream(windows + "noformat.exe") << "not a program either\n";
  ::chmod((windows + "noformat.exe").c_str(), 0755);
  std::ofstream(windows + "ok.sh") << "#!/bin/sh\necho \"$1\" > \"$CEDEVICE_ROOT/ran\"\n";
  ::chmod((windows + "ok.sh").c_str(), 0755);
  struct Case {
    const char16_t* file;
    DWORD error;
  };
  const Case cases[] = {{u"\\Windows\\missing.exe", ERROR_FILE_NOT_FOUND},
                        {u"\\Nowhere\\missing.exe", ERROR_PATH_NOT_FOUND},
                        {u"\\Windows\\plain.txt", ERROR_ACCESS_DENIED},
                        {u"\\Windows", ERROR_ACCESS_DENIED},
                        {u"\\Windows\\noformat.exe", ERROR_BAD_EXE_FORMAT},
                        {u"\\Windows\\ok.sh", ERROR_SUCCESS}};
  for (const Case& c : cases) {
    SHELLEXECUTEINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = u"open";
    info.lpFile = c.file;
    info.lpParameters = u"\"a b\"";
    info.nShow = SW_SHOWNORMAL;
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(ShellExecuteEx(&info), c.error == ERROR_SUCCESS ? TRUE : FALSE);
    if (c.error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_LE(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
    } else {
      EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string line;
  while (line.empty() && std::chrono::steady_clock::now() < deadline) {
    std::ifstream ran(dir_.Path() + "/ran");
    std::getline(ran, line);
    if (line.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(line, "a b");
}

INSTANTIATE_TEST_SUITE_P(Links, WindowSystemTest, ::testing::Values(cetest::Link::InProcess, cetest::Link::Socket),
                         [](const ::testing::TestParamInfo<cetest::Link>& info) { return cetest::LinkName(info.param); });

TEST_F(WindowDeliveryTest, AnotherProgramsMessageIsHandledOnTheWindowsThreadAndAnswered) {
  DialogThread window;
  const HWND dialog = window.dialog;
  ASSERT_NE(dialog, HWND(NULL));

  char listed[32];
  std::snprintf(listed, sizeof listed, "0x%08lx test\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(dialog)));
  EXPECT_EQ(listed, Cedevice("windows"));
  // The answer comes back whole: the title's length, as the window's own thread gave it.
  EXPECT_EQ("4\n", Cedevice("send", {"test", "WM_GETTEXTLENGTH", "0", "0"}));
  const LRESULT local = SendMessageW(dialog, WM_USER, 0, 0);
  handledOn = 0;
  EXPECT_EQ(std::to_string(local) + "\n", Cedevice("send", {"test", "WM_USER", "0", "0"}));
  EXPECT_EQ(handledOn, window.id);

  ASSERT_TRUE(window.End());
  Cedevice("send", {"test", "WM_USER", "0", "0"}, 1);  // no window is titled so any more
}

}  // namespace
