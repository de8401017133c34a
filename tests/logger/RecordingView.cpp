#include "RecordingView.h"

#include <sstream>

#include "LoggerTestSupport.h"

namespace loggertest {

std::string Describe(const ViewOp& op) {
  std::ostringstream out;
  out << op.kind;
  if (op.kind == "text" || op.kind == "enable" || op.kind == "show" || op.kind == "timer" || op.kind == "killtimer") {
    out << ' ' << op.id;
  }
  if (op.kind == "text" || op.kind == "errorbox") out << " \"" << Printable(op.text) << '"';
  if (op.kind == "enable" || op.kind == "show") out << ' ' << (op.flag ? "on" : "off");
  if (op.kind == "timer") out << ' ' << op.period;
  return out.str();
}

std::string Describe(const std::vector<ViewOp>& ops) {
  std::string all;
  for (const ViewOp& op : ops) all += Describe(op) + "\n";
  return all;
}

void RecordingView::Add(const ViewOp& op) {
  std::lock_guard<std::mutex> lock(mutex_);
  ops_.push_back(op);
  ++addedCount_;
  added_.notify_all();
}

bool RecordingView::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    unsigned long long seen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen = addedCount_;
    }
    // The condition reads the view, so it runs without the lock.
    if (condition()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!added_.wait_until(lock, deadline, [&] { return addedCount_ != seen; })) return false;
  }
}

std::vector<ViewOp> RecordingView::Ops() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ops_;
}

void RecordingView::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  ops_.clear();
}

int RecordingView::Count(const std::string& kind, int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const ViewOp& op : ops_) n += op.kind == kind && (id < 0 || op.id == id);
  return n;
}

int RecordingView::Count(const ViewOp& op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const ViewOp& each : ops_) n += each == op;
  return n;
}

std::u16string RecordingView::LastText(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = ops_.rbegin(); it != ops_.rend(); ++it) {
    if (it->kind == "text" && it->id == id) return it->text;
  }
  return u"<none>";
}

bool RecordingView::Shown(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = ops_.rbegin(); it != ops_.rend(); ++it) {
    if (it->kind == "show" && it->id == id) return it->flag;
  }
  return false;
}

HWND CreateEmptyDialog(DLGPROC procedure) {
  // A popup, no controls, no menu, class or title.
  static const WORD form[] = {LOWORD(WS_POPUP), HIWORD(WS_POPUP), 0, 0, 0, 0, 0, 40, 40, 0, 0, 0};
  return CreateDialogIndirectParamW(NULL, reinterpret_cast<LPCDLGTEMPLATEW>(form), NULL, procedure, 0);
}

}  // namespace loggertest
