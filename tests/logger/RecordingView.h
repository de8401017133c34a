// A LoggerView that records every operation, for tests. Safe to call from the
// receive thread and the test thread at once.
#pragma once

#include <LoggerView.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace loggertest {

struct ViewOp {
  std::string kind;  // text, enable, show, redraw, timer, killtimer, beep, exclamation, tile, errorbox
  int id = 0;
  std::u16string text;
  bool flag = false;
  UINT period = 0;

  bool operator==(const ViewOp& other) const {
    return kind == other.kind && id == other.id && text == other.text && flag == other.flag &&
           period == other.period;
  }
};

inline ViewOp Text(int id, const std::u16string& text) { return {"text", id, text}; }
inline ViewOp Enable(int id, bool enabled) { return {"enable", id, {}, enabled}; }
inline ViewOp Show(int id, bool shown) { return {"show", id, {}, shown}; }
inline ViewOp Redraw() { return {"redraw"}; }
inline ViewOp Timer(UINT id, UINT period) { return {"timer", static_cast<int>(id), {}, false, period}; }
inline ViewOp KillTimer(UINT id) { return {"killtimer", static_cast<int>(id)}; }
inline ViewOp Beep() { return {"beep"}; }
inline ViewOp Exclamation() { return {"exclamation"}; }
inline ViewOp Tile() { return {"tile"}; }
inline ViewOp ErrorBox(const std::u16string& text) { return {"errorbox", 0, text}; }

std::string Describe(const ViewOp& op);
std::string Describe(const std::vector<ViewOp>& ops);

class RecordingView : public LoggerView {
 public:
  void SetControlText(int id, LPCWSTR text) override { Add(Text(id, text)); }
  void EnableControl(int id, BOOL enable) override { Add(Enable(id, enable != FALSE)); }
  void ShowControl(int id, BOOL show) override { Add(Show(id, show != FALSE)); }
  void RedrawStatusBox() override { Add(Redraw()); }
  void StartTimer(UINT id, UINT periodMs) override { Add(Timer(id, periodMs)); }
  void StopTimer(UINT id) override { Add(KillTimer(id)); }
  void DefaultBeep() override { Add(Beep()); }
  void ExclamationBeep() override { Add(Exclamation()); }
  void EnterCompactTile() override { Add(Tile()); }
  void ShowErrorBox(LPCWSTR text) override { Add(ErrorBox(text)); }

  std::vector<ViewOp> Ops() const;
  void Clear();
  // Operations of one kind (and id, when given).
  int Count(const std::string& kind, int id = -1) const;
  int Count(const ViewOp& op) const;
  // The text last set on a control; "<none>" when it never was.
  std::u16string LastText(int id) const;
  bool Shown(int id) const;  // as last shown or hidden; false when never
  // Waits until the condition on the view holds, looking again after each
  // operation; false when it still does not at the limit.
  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) const;

 private:
  void Add(const ViewOp& op);

  mutable std::mutex mutex_;
  mutable std::condition_variable added_;
  std::vector<ViewOp> ops_;
  unsigned long long addedCount_ = 0;  // every operation ever added, cleared or not
};

// A view whose lamp steps are messages sent to a window of another thread,
// as the receive thread's control updates are on the platform: each waits
// until that window's thread takes it. sending is set as one is sent.
class SendingView : public RecordingView {
 public:
  explicit SendingView(HWND window) : window_(window) {}
  ~SendingView() override { CloseHandle(sending); }
  void ShowControl(int id, BOOL show) override {
    SetEvent(sending);
    SendMessageW(window_, WM_USER, static_cast<WPARAM>(id), show);
    RecordingView::ShowControl(id, show);
  }
  const HANDLE sending = CreateEventW(NULL, TRUE, FALSE, NULL);

 private:
  const HWND window_;
};

// A dialog of the calling thread with no controls, for SendingView.
HWND CreateEmptyDialog(DLGPROC procedure);

}  // namespace loggertest
