// Wendra on Wine, an independent Win32, through a real serial line: each
// known run of a capture (the end-to-end test's) gives, byte for byte, the
// track the host gives; and the window shows, control by control, the steps
// the host's window shows for the same capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "LoggerTestSupport.h"
#include "RecordingView.h"
#include "PseudoLine.h"
#include "TrackRuns.h"
#include "WendraProcess.h"
#include "WineSystem.h"

namespace winetest {
namespace {

namespace fs = std::filesystem;
using loggertest::TraceEntry;

// The line's rate three times over, as the end-to-end test replays.
constexpr size_t kBytesPerTenth = 144;

// The capture of a run, with its proprietary sentences when it has them.
std::string Capture(const cetest::TrackRun& run) {
  const std::string capture = loggertest::ReadTestData(run.capture);
  return run.proprietary ? loggertest::WithProprietarySentences(capture) : capture;
}

// The bytes up to and with the line of the run's gate.
size_t Gate(const std::string& capture, const cetest::TrackRun& run) {
  return capture.find('\n', capture.find(run.gate)) + 1;
}

// How many texts each read-out shows once the capture is read up to each of
// the ends given, in order: the interpreter's own reading of it.
std::map<size_t, std::map<int, int>> TextsUpTo(const std::string& capture, BOOL anytalker,
                                               const std::vector<size_t>& ends) {
  loggertest::ResetProcessWide();
  loggertest::RecordingView view;
  LoggerState state(view);
  state.settings.anytalker = anytalker;
  NmeaInterpreter interpreter;
  std::map<size_t, std::map<int, int>> texts;
  size_t read = 0;
  for (size_t end : ends) {
    loggertest::Interpret(interpreter, state, capture.substr(read, end - read));
    read = end;
    for (int id = IDC_LATITUDE; id <= IDC_FIX_QUALITY; ++id) texts[end][id] = view.Count("text", id);
  }
  loggertest::ResetProcessWide();
  return texts;
}

std::map<int, int> TextsOfTheCapture(const std::string& capture, BOOL anytalker) {
  return TextsUpTo(capture, anytalker, {capture.size()})[capture.size()];
}

// The texts each read-out of a trace has shown, read on as the trace grows.
class ShownTexts {
 public:
  explicit ShownTexts(std::string trace) : trace_(std::move(trace)) {}
  // Whether every read-out has shown at least as many texts as given.
  bool Reached(const std::map<int, int>& texts) {
    ReadOn();
    return std::all_of(texts.begin(), texts.end(), [&](const auto& t) { return shown_[t.first] >= t.second; });
  }
  const std::map<int, int>& Shown() const { return shown_; }

 private:
  void ReadOn() {
    std::ifstream in(trace_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(read_));
    std::string line;
    // A line without its end is still being written: read again next time.
    while (std::getline(in, line) && !in.eof()) {
      read_ += line.size() + 1;
      const auto entry = nlohmann::json::parse(line, nullptr, false);
      if (entry.is_object() && entry.value("op", "") == "text" && entry.contains("id") &&
          entry["id"].is_number_integer()) {
        ++shown_[entry["id"].get<int>()];
      }
    }
  }

  std::string trace_;
  size_t read_ = 0;
  std::map<int, int> shown_;
};

// The receiver's pace: after each part it sends, it waits until Wendra has
// shown what the part adds, so no more than one part ever waits in the port
// or in the tap, however slow a busy machine makes Wendra. (The tap keeps
// 1200 bytes and drops what comes beyond.)
class Pace {
 public:
  Pace(const std::string& capture, BOOL anytalker, const std::vector<size_t>& ends, const std::string& trace)
      : texts_(TextsUpTo(capture, anytalker, ends)), shown_(trace), folder_(fs::path(trace).parent_path().string()) {}
  // After a wait that ran out the receiver keeps the line's rate alone: the
  // comparison at the end tells what was shown.
  void Sent(size_t bytes) {
    if (late_) return;
    const auto& texts = texts_.at(bytes);
    late_ = !cetest::WaitForChange(folder_, [&] { return shown_.Reached(texts); }, 30000);
    // Not a failure by itself: it says where a slow run began, for whoever reads the log.
    if (late_) {
      std::cerr << "receiver: after " << bytes << " bytes the texts did not come within 30 s; control: wanted/shown";
      for (const auto& [id, count] : texts) std::cerr << " " << id << ": " << count << "/" << shown_.Shown().at(id);
      std::cerr << "\n";
    }
  }

 private:
  bool late_ = false;
  const std::map<size_t, std::map<int, int>> texts_;
  ShownTexts shown_;
  const std::string folder_;
};

// Where each part that the receiver sends ends: every tenth of a second the
// line's rate, and one part ends at the gate.
std::vector<size_t> PartEnds(size_t size, size_t gate) {
  std::vector<size_t> ends;
  for (size_t at = 0; at < size;) {
    at = std::min(at < gate ? gate : size, at + kBytesPerTenth);
    ends.push_back(at);
  }
  return ends;
}

// Every sentence of the capture shown, then a poll that found nothing more:
// the record the last RMC made due has been written by then.
bool WaitDrained(const std::string& trace, const std::map<int, int>& texts) {
  return cetest::WaitForChange(
      fs::path(trace).parent_path().string(),
      [&] {
        std::map<int, int> shown;
        bool all = false;
        for (const TraceEntry& e : loggertest::ReadTrace(trace)) {
          if (e.op == "text") ++shown[static_cast<int>(e.Int("id"))];
          if (!all) {
            all = std::all_of(texts.begin(), texts.end(), [&](const auto& t) { return shown[t.first] >= t.second; });
          } else if (e.op == "show" && e.Int("id") == IDC_RECEIVE_LAMP_IDLE && e.Get("shown") == "true") {
            return true;
          }
        }
        return false;
      },
      90000);
}

// What a user saw each control show, in order: the texts of the read-outs and
// whether each LOG lamp was shown, whose steps follow from the sentences
// alone, and the colours of the status box, its background only where it is
// painted (OPAQUE): behind a transparent one lies the face, whose system
// colour differs. A step that shows what the control shows already is no
// step: how often a text is set again to itself depends on when each poll
// came. (The receive lamp follows the polls, whose timing differs.)
std::map<int, std::vector<std::string>> Steps(const std::vector<TraceEntry>& trace) {
  std::map<int, std::vector<std::string>> steps;
  auto step = [&](int id, const std::string& shown) {
    if (steps[id].empty() || steps[id].back() != shown) steps[id].push_back(shown);
  };
  for (const TraceEntry& e : trace) {
    const int id = static_cast<int>(e.Int("id"));
    if (e.op == "text" && id >= IDC_LATITUDE && id <= IDC_FIX_QUALITY) step(id, e.Get("text"));
    if (e.op == "show" && (id == IDC_LOG_LAMP_STEADY || id == IDC_LOG_LAMP_BLINK)) step(id, e.Get("shown"));
    if (e.op == "paint" && id == IDC_STATUS_BOX) {
      step(id, "fg=" + e.Get("fg") + " mode=" + e.Get("mode") + (e.Int("mode") == OPAQUE ? " bg=" + e.Get("bg") : ""));
    }
  }
  return steps;
}

// The receive thread's first pass has set the lamp (a call the trace keeps
// when it keeps every call), so Wendra's tap is open: what the relay's client
// reads before that is copied nowhere, and the receiver must not begin earlier.
bool TapOpen(const TraceEntry& e) { return e.op == "show" && e.Int("id") == IDC_RECEIVE_LAMP_IDLE; }

// The one track file of the run in a folder, or "" when it wrote none.
std::string TrackFile(const std::string& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".txt") return entry.path().string();
  }
  return "";
}

class WineTrackTest : public ::testing::TestWithParam<cetest::TrackRun> {
 protected:
  void SetUp() override {
    std::string error;
    wine_ = WineSystem::Shared(&error);
    ASSERT_TRUE(wine_) << error;
  }

  // Wendra on Wine, fed the run's capture through COM5:, with the relay's
  // client holding back at the gate until logging has begun. Its trace.
  std::vector<TraceEntry> RunOnWine(const cetest::TrackRun& run) {
    const std::string capture = Capture(run);
    std::string error;
    PseudoLine line;
    EXPECT_TRUE(line.Open());
    if (!wine_->FreshDevice(cetest::TrackRunSettings(run), &error) || !wine_->BindPort(5, line.Path(), &error)) {
      ADD_FAILURE() << error;
      return {};
    }
    const std::string trace = dir_.Path() + "/wine-trace.jsonl";
    const pid_t wendra = wine_->Start("Wendra.exe", {},
                                      {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace),
                                       "CE_RELAY_CLIENT=COM6:", "CE_RELAY_GATE=" + std::to_string(Gate(capture, run))},
                                      dir_.Path() + "/wendra.out");
    std::vector<size_t> ends;
    for (size_t at = kBytesPerTenth; at < capture.size() + kBytesPerTenth; at += kBytesPerTenth) {
      ends.push_back(std::min(at, capture.size()));
    }
    Pace pace(capture, run.anytalker, ends, trace);
    line.SendWhenOpened(
        capture, kBytesPerTenth, [&](size_t sent) { pace.Sent(sent); },
        [&] {
          if (loggertest::WaitForEntry(trace, TapOpen) < 0) ADD_FAILURE() << "Wendra's tap did not open";
        });
    EXPECT_TRUE(WaitDrained(trace, TextsOfTheCapture(capture, run.anytalker))) << dir_.Read("wendra.out");
    std::string said;
    EXPECT_EQ(0, wine_->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &said))
        << said;
    EXPECT_EQ(0, cetest::WaitExit(wendra, 30000)) << dir_.Read("wendra.out");
    return loggertest::ReadTrace(trace);
  }

  WineSystem* wine_ = nullptr;
  cetest::TempDir dir_;
};

TEST_P(WineTrackTest, ReplayedDriveBecomesTheHostsTrack) {
  const cetest::TrackRun run = GetParam();
  const auto trace = RunOnWine(run);
  ASSERT_FALSE(trace.empty());
  // A run without records may leave no file, or an empty one, as on the host.
  const std::string track = TrackFile(wine_->ProgramDir());
  std::ifstream in(track, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(*run.expected ? loggertest::ReadTestData(run.expected) : "", written) << track;
}

INSTANTIATE_TEST_SUITE_P(Tracks, WineTrackTest, ::testing::ValuesIn(cetest::TrackRuns()),
                         [](const ::testing::TestParamInfo<cetest::TrackRun>& info) {
                           return cetest::TrackRunName(info.param);
                         });

// The relay's client of a host run: it reads the relay all the time.
class RelayClient {
 public:
  RelayClient() : thread_([this] { Run(); }) {}
  ~RelayClient() { Join(); }
  void Join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Opened() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return opened_; });
  }

 private:
  void Run() {
    HANDLE relay = INVALID_HANDLE_VALUE;
    // The relay comes when Wendra has installed and activated the driver,
    // which nothing outside Wendra signals.
    cetest::Retry([&] {
      relay = CreateFileW(u"COM6:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      return relay != INVALID_HANDLE_VALUE;
    }, 30000);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      opened_ = relay != INVALID_HANDLE_VALUE;
      changed_.notify_all();
    }
    if (relay == INVALID_HANDLE_VALUE) return;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 200, 0, 0};
    SetCommTimeouts(relay, &timeouts);
    char buffer[256];
    DWORD done = 0;
    while (!stop_ && ReadFile(relay, buffer, sizeof buffer, &done, nullptr)) {
    }
    CloseHandle(relay);
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool opened_ = false;
  std::thread thread_;  // last, so it starts once the members above are made
};

// The host's run of the same capture: Wendra as a program of the host's
// device, the receiver a test port fed at the same pace. The receiver holds
// back after the gate until the trace shows that logging began, as the
// relay's client on Wine does: what waits meanwhile waits in the receiver,
// never in the port's queue.
std::vector<TraceEntry> RunOnHost(const cetest::TrackRun& run) {
  const std::string capture = Capture(run);
  loggertest::WendraDevice device;
  device.Install("Wendra", cetest::TrackRunSettings(run));
  // Every call traced: the receiver's pace and the drain count the texts
  // set, as the interpreter sets them and as the stand-in on Wine traces them.
  const pid_t wendra = device.Start("Wendra", 0, "", 0, loggertest::kEveryCall);
  const std::string trace = device.Trace();
  {
    RelayClient client;
    EXPECT_TRUE(client.Opened());
    EXPECT_GE(loggertest::WaitForEntry(trace, TapOpen), 0);
    const size_t gate = Gate(capture, run);
    const std::vector<size_t> ends = PartEnds(capture.size(), gate);
    Pace pace(capture, run.anytalker, ends, trace);
    size_t at = 0;
    for (size_t end : ends) {
      if (at == gate) {
        EXPECT_GE(loggertest::WaitForEntry(trace, [](const TraceEntry& e) { return e.op == "killtimer"; }), 0);
      }
      const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);  // the line's rate
      device.Receiver().Feed(capture.substr(at, end - at));
      pace.Sent(end);
      at = end;
      std::this_thread::sleep_until(next);
    }
    EXPECT_TRUE(WaitDrained(trace, TextsOfTheCapture(capture, run.anytalker)));
  }
  SendMessageW(loggertest::FindTitle(loggertest::WindowTitle(u"Wendra")), WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED),
               0);
  EXPECT_EQ(0, cetest::WaitExit(wendra, 30000));
  return loggertest::ReadTrace(trace);
}

class WineWindowStepsTest : public WineTrackTest {};

// Seen control by control, Wine's window and the host's take the same steps
// for the same capture.
TEST_P(WineWindowStepsTest, EachControlShowsWhatTheHostsShows) {
  const cetest::TrackRun run = GetParam();
  const auto onWine = Steps(RunOnWine(run));
  const auto onHost = Steps(RunOnHost(run));
  ASSERT_GT(onHost.count(IDC_LATITUDE), 0u);
  ASSERT_GT(onHost.count(IDC_STATUS_BOX), 0u);
  for (const auto& [id, steps] : onHost) {
    EXPECT_EQ(steps, onWine.count(id) ? onWine.at(id) : std::vector<std::string>()) << "control " << id;
  }
  EXPECT_EQ(onHost.size(), onWine.size());
}

INSTANTIATE_TEST_SUITE_P(Captures, WineWindowStepsTest,
                         ::testing::Values(cetest::TrackRuns()[2], cetest::TrackRuns()[5]),
                         [](const ::testing::TestParamInfo<cetest::TrackRun>& info) {
                           return cetest::TrackRunName(info.param);
                         });

}  // namespace
}  // namespace winetest
