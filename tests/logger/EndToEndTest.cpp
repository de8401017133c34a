// The road of a sentence in one process: a replayed receiver on COM5:, the
// splitter driver relaying it to COM6:, a client reading COM6: as a
// navigation program would, the logger's receive loop on the tap COM7:, and
// logging with the clock set. The track must equal the expected file, with
// the original reading and with the reading of any talker.
#include <ReceiveLoop.h>
#include <TempDir.h>
#include <TrackRuns.h>
#include <TrackWriter.h>
#include <cehost/Device.h>
#include <gtest/gtest.h>
#include <pkfuncs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "LoggerTestSupport.h"
#include "RecordingView.h"

namespace loggertest {
namespace {

constexpr std::chrono::seconds kPatience{60};

void SetDword(HKEY key, const WCHAR* name, DWORD value) {
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
}

void SetText(HKEY key, const WCHAR* name, const std::u16string& value) {
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
            ERROR_SUCCESS);
}

// The relay key as the installer writes it (relay 6 from 5, tap 7), activated.
void ActivateSplitter() {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn\\Ravelink"), 0, NULL, 0, 0, NULL, &key, NULL),
            ERROR_SUCCESS);
  SetText(key, TEXT("Dll"), u"Ravelink.Dll");
  SetText(key, TEXT("Prefix"), u"COM");
  SetDword(key, TEXT("Index"), 6);
  SetDword(key, TEXT("srcIndex"), 5);
  SetDword(key, TEXT("monIndex"), 7);
  RegCloseKey(key);
  ASSERT_NE(ActivateDevice(TEXT("Drivers\\BuiltIn\\Ravelink"), 0), INVALID_HANDLE_VALUE);
}

using Settings = cetest::TrackRun;
using cetest::RmcLines;

// Wendra in its own folder, with the run's settings.
void Configure(LoggerState& state, const Settings& run) {
  wcscpy(state.appDir, TEXT("\\Program Files\\Wendra\\"));
  state.timerId = 1;
  state.settings.interval = run.interval;
  state.settings.writecache = run.writecache;
  state.settings.anytalker = run.anytalker;
  state.settings.signedpos = run.signedpos;
}

// A navigation program reading the relay port COM6: as fast as it can, for
// at most 60 s, until it has read `size` bytes; it holds back at `gate` until
// released.
class RelayClient {
 public:
  RelayClient(size_t size, size_t gate) : thread_([this, size, gate] { Run(size, gate); }) {}
  ~RelayClient() { Join(); }

  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    releasedChanged_.notify_all();
  }
  void Join() {
    Release();
    if (thread_.joinable()) thread_.join();
  }
  size_t Read() const { return read_; }

 private:
  void Run(size_t size, size_t gate) {
    HANDLE relay = CreateFileW(TEXT("COM6:"), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (relay == INVALID_HANDLE_VALUE) return;
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 200, 0, 0};
    SetCommTimeouts(relay, &timeouts);
    char buffer[256];
    size_t total = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (total < size && std::chrono::steady_clock::now() < deadline) {
      if (total == gate) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!releasedChanged_.wait_until(lock, deadline, [this] { return released_; })) break;
      }
      const size_t limit = total < gate ? gate : size;
      DWORD done = 0;
      if (!ReadFile(relay, buffer, static_cast<DWORD>(std::min(sizeof buffer, limit - total)), &done, NULL)) break;
      total += done;
      read_ = total;
    }
    CloseHandle(relay);
  }

  std::mutex mutex_;
  std::condition_variable releasedChanged_;
  bool released_ = false;
  std::atomic<size_t> read_{0};
  std::thread thread_;  // last, so it starts once the members above are made
};

class EndToEndTest : public ::testing::TestWithParam<Settings> {};

TEST_P(EndToEndTest, ReplayedDriveBecomesTheExpectedTrack) {
  const Settings run = GetParam();
  cetest::TempDir root;
  std::string capture = ReadTestData(run.capture);
  std::string replayed = std::string(CE_TEST_DATA) + "/" + run.capture;
  if (run.proprietary) {
    capture = WithProprietarySentences(capture);
    root.Write("mixed.nmea", capture);
    replayed = root.Path() + "/mixed.nmea";
  }
  const std::string expected = *run.expected ? ReadTestData(run.expected) : "";
  // The client holds back after the first GGA with a fix until logging runs,
  // so the log starts at the same sentence on every run.
  ASSERT_NE(capture.find(run.gate), std::string::npos);
  const size_t gate = capture.find("\n", capture.find(run.gate)) + 1;
  const int rmcCount = RmcLines(capture, run.anytalker);

  ResetProcessWide();
  cetest::InstallDriver(root.Path(), RAVELINK_DLL);
  root.Write("Program Files/Wendra/keep", "");
  cehost::BootOptions options;
  options.root = root.Path();
  options.ports = {"COM5:=replay:" + replayed + "@3"};
  options.clock = "2008-03-07T09:05:02";
  std::string error;
  auto device = cehost::InProcessDevice::Boot(options, &error);
  ASSERT_TRUE(device) << error;
  ActivateSplitter();

  RecordingView view;
  LoggerState state(view);
  Configure(state, run);
  ASSERT_TRUE(OpenTapPort(state, TEXT("COM7:")));
  TrackWriter::StartLogging(state);

  RelayClient client(capture.size(), gate);

  ASSERT_TRUE(view.WaitFor([&] { return view.LastText(IDC_FIX_QUALITY) == u"GPS"; }, kPatience));
  const SYSTEMTIME start = {2008, 3, 0, 7, 9, 5, 2, 0};
  SetLocalTime(&start);
  TrackWriter::TimerTick(state, 1);
  EXPECT_TRUE(state.logging);
  client.Release();

  // Every RMC shown, then a poll that found nothing more: the record the last
  // RMC made due has been written by then.
  const auto drained = [&] {
    const std::vector<ViewOp> ops = view.Ops();
    return view.Count("text", IDC_LATITUDE) == rmcCount && !ops.empty() &&
           ops.back() == Show(IDC_RECEIVE_LAMP_IDLE, true);
  };
  EXPECT_TRUE(view.WaitFor(drained, kPatience))
      << "the logger saw " << view.Count("text", IDC_LATITUDE) << " of " << rmcCount << " RMC, the client read "
      << client.Read() << " of " << capture.size() << " bytes";
  client.Join();
  TrackWriter::StopLogging(state);
  CloseTapPort(state);

  EXPECT_EQ(client.Read(), capture.size());
  EXPECT_EQ(device->LostBytes("COM5:"), 0u);
  EXPECT_FALSE(state.writeError);
  EXPECT_EQ(std::u16string(state.logPath), u"\\Program Files\\Wendra\\20080307090502.txt");
  EXPECT_EQ(root.Read("Program Files/Wendra/20080307090502.txt"), expected);
}

INSTANTIATE_TEST_SUITE_P(Tracks, EndToEndTest, ::testing::ValuesIn(cetest::TrackRuns()),
                         [](const ::testing::TestParamInfo<Settings>& info) { return cetest::TrackRunName(info.param); });

}  // namespace
}  // namespace loggertest
