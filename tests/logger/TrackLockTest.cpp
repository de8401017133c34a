// Stop, Start and the timer tick on the window thread while the receive
// thread writes records: no record may go into a closed file, no handle may
// be closed twice or leak, and every file must hold whole records only.
#include <TempDir.h>
#include <TrackWriter.h>
#include <cehost/Device.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <regex>
#include <thread>

#include "LoggerTestSupport.h"
#include "RecordingView.h"

namespace loggertest {
namespace {

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* entry = ::readdir(d)) {
      if (std::string(entry->d_name).size() > 4) names.push_back(entry->d_name);
    }
    ::closedir(d);
  }
  return names;
}

// Every track file holds whole records only, and no handle holds it open;
// answers how many records they hold.
int WholeRecordsInClosedTracks(const cetest::TempDir& root) {
  const std::regex record(R"(2008-03-07,00:05:02,35\.1[0-9]{6},139\.1[0-9]{6},45\.3,(1\.9|37\.0)\r)");
  int records = 0;
  for (const std::string& name : FilesIn(root.Path() + "/Program Files/Wendra")) {
    if (name == "keep") continue;
    const std::string track = root.Read("Program Files/Wendra/" + name);
    EXPECT_EQ(track.empty() || track.back() == '\n', true) << name;
    size_t start = 0;
    for (size_t end = track.find('\n'); end != std::string::npos; start = end + 1, end = track.find('\n', start)) {
      EXPECT_TRUE(std::regex_match(track.substr(start, end - start), record)) << name << ": " << track.substr(start, end - start);
      ++records;
    }
    const std::u16string path = u"\\Program Files\\Wendra\\" + std::u16string(name.begin(), name.end());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << name << " is still held open";
    CloseHandle(file);
  }
  return records;
}

// A device in this process with the application directory and its clock at 2008-03-07 09:05:02.
std::unique_ptr<cehost::InProcessDevice> BootDevice(const cetest::TempDir& root) {
  root.Write("Program Files/Wendra/keep", "");
  cehost::BootOptions options;
  options.root = root.Path();
  options.clock = "2008-03-07T09:05:02";
  std::string error;
  auto device = cehost::InProcessDevice::Boot(options, &error);
  EXPECT_TRUE(device) << error;
  return device;
}

class TrackLockTest : public ::testing::TestWithParam<LONG> {};

TEST_P(TrackLockTest, StopAndStartRaceWithRecordWriting) {
  ResetProcessWide();
  cetest::TempDir root;
  auto device = BootDevice(root);
  ASSERT_TRUE(device);

  RecordingView view;
  LoggerState state(view);
  wcscpy(state.appDir, TEXT("\\Program Files\\Wendra\\"));
  state.timerId = 1;
  state.settings.interval = 1;
  state.settings.writecache = GetParam();

  // The receive thread: bursts that each complete a cycle at a new position,
  // walking and driving in turn so writecache 2 closes and reopens the file.
  // Both sides go on until each has done its share, so they overlap.
  constexpr int kBursts = 1500;
  constexpr int kRounds = 300;
  std::atomic<int> rounds{0};
  std::atomic<int> bursts{0};
  std::atomic<bool> received{false};
  std::thread receiver([&] {
    NmeaInterpreter interpreter;
    for (int i = 0; i < kBursts || rounds < kRounds; ++i) {
      char minutes[16];
      std::snprintf(minutes, sizeof minutes, "%07.4f", 10.0 + i % 1500 * 0.001);
      const std::string position = std::string("35") + minutes + ",N,139" + minutes + ",E";
      Interpret(interpreter, state,
                Sentence("GPGGA,000502.00," + position + ",1,08,1.0,45.3,M,39.4,M,,") +
                    Sentence("GPGSA,A,3,02,04,09,12,,,,,,,,,2.0,1.0,1.7") +
                    Sentence("GPRMC,000502.00,A," + position + (i % 2 ? ",1.0" : ",20.0") + ",48.0,070308,,,A"));
      ++bursts;
    }
    received = true;
  });

  // The window thread: Start, the tick, Stop after a few bursts, over and over.
  int logs = 0;
  while (!received) {
    TrackWriter::StartLogging(state);
    TrackWriter::TimerTick(state, 1);
    logs += state.logging ? 1 : 0;
    const int until = bursts + rounds % 4;
    while (bursts < until && !received) std::this_thread::yield();
    TrackWriter::StopLogging(state);
    ++rounds;
  }
  receiver.join();
  TrackWriter::FinishOnShutdown(state);

  EXPECT_GT(logs, 0);
  EXPECT_FALSE(state.writeError) << "a record met a closed or foreign handle";
  EXPECT_EQ(view.Count("exclamation"), 0);
  EXPECT_GT(WholeRecordsInClosedTracks(root), 0);
}

INSTANTIATE_TEST_SUITE_P(WriteCache, TrackLockTest, ::testing::Values(0, 1, 2));

INT_PTR CALLBACK Taking(HWND, UINT message, WPARAM, LPARAM) { return message == WM_USER; }

DWORD WINAPI RunDueRecord(LPVOID state) {
  TrackWriter::DueRecord(*static_cast<LoggerState*>(state));
  return 0;
}

// The receive thread's blink waits for the window thread, which presses Stop
// meanwhile: Stop finds the track lock free, as no window call is made under
// it, and the lamp ends steady once the blink is taken.
TEST(TrackLockWindowTest, StopWhileARecordsBlinkWaitsForTheWindowThread) {
  ResetProcessWide();
  cetest::TempDir root;
  auto device = BootDevice(root);
  ASSERT_TRUE(device);

  // This thread is the window thread.
  const HWND window = CreateEmptyDialog(Taking);
  ASSERT_NE(window, HWND(NULL));
  SendingView view(window);
  LoggerState state(view);
  wcscpy(state.appDir, TEXT("\\Program Files\\Wendra\\"));
  state.timerId = 1;
  state.settings.interval = 1;
  TrackWriter::StartLogging(state);
  state.fix.fixQuality = 1;
  TrackWriter::TimerTick(state, 1);
  ASSERT_TRUE(state.logging);
  strcpy(state.fix.fixDate, "070308");
  strcpy(state.fix.fixTime, "000502");
  state.fix.latitude = 35.1;
  state.fix.longitude = 139.1;
  state.fix.altitude = 45.3;
  state.fix.speedKmh = 37.0;
  ResetEvent(view.sending);

  const HANDLE receiver = CreateThread(NULL, 0, RunDueRecord, &state, 0, NULL);
  ASSERT_NE(receiver, HANDLE(NULL));
  ASSERT_EQ(WaitForSingleObject(view.sending, 20000), WAIT_OBJECT_0) << "the blink is sent";
  {
    Watchdog watchdog("Stop while the receive thread's blink waits", std::chrono::seconds(20));
    TrackWriter::StopLogging(state);
    // The blink and what follows it, taken here until the receive thread is done.
    MSG msg;
    while (MsgWaitForMultipleObjectsEx(1, &receiver, INFINITE, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0 + 1) {
      PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);
    }
  }
  CloseHandle(receiver);
  EXPECT_FALSE(state.logging);
  EXPECT_FALSE(view.Shown(IDC_LOG_LAMP_BLINK)) << Describe(view.Ops());
  EXPECT_TRUE(view.Shown(IDC_LOG_LAMP_STEADY)) << "no logging goes on: the lamp ends steady";
  EXPECT_EQ(WholeRecordsInClosedTracks(root), 1) << "the record decided before Stop is written";
  DestroyWindow(window);
}

}  // namespace
}  // namespace loggertest
