// The track writer on an in-process device whose clock reads 2008-03-07
// 09:05:02, with helpers that feed it sentence cycles and read the track.
#pragma once

#include <TempDir.h>
#include <TrackWriter.h>
#include <cehost/Device.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "LoggerTestSupport.h"
#include "RecordingView.h"

namespace loggertest {

inline const std::u16string kCannotWrite = u"ログ書込不可";

class TrackWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessWide();
    root.Write("Program Files/Wendra/Wendra.cfg", "");
    cehost::BootOptions options;
    options.root = root.Path();
    options.clock = "2008-03-07T09:05:02";
    std::string error;
    device = cehost::InProcessDevice::Boot(options, &error);
    ASSERT_TRUE(device) << error;
    wcscpy(state.appDir, TEXT("\\Program Files\\Wendra\\"));
    state.timerId = 1;
  }

  void TearDown() override { TrackWriter::FinishOnShutdown(state); }

  static void SetClock(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    const SYSTEMTIME time = {year, month, 0, day, hour, minute, second, 0};
    ASSERT_TRUE(SetLocalTime(&time));
  }

  // Start, then the tick that finds a fix at 2008-03-07 09:05:02.
  void StartLog() {
    TrackWriter::StartLogging(state);
    state.fix.fixQuality = 1;
    SetClock(2008, 3, 7, 9, 5, 2);
    TrackWriter::TimerTick(state, 1);
    ASSERT_TRUE(state.logging);
    view.Clear();
  }

  // Stop, then a new log whose file is named after 09:06:second.
  void Restart(WORD second) {
    TrackWriter::StopLogging(state);
    TrackWriter::StartLogging(state);
    SetClock(2008, 3, 7, 9, 6, second);
    TrackWriter::TimerTick(state, 1);
    ASSERT_TRUE(state.logging);
    view.Clear();
  }

  // One completed sentence cycle with these fix values.
  void Cycle(double latitude, double longitude, double speedKmh = 20.0, LONG quality = 1, const char* date = "070308",
             const char* time = "000502.00") {
    state.fix.latitude = latitude;
    state.fix.longitude = longitude;
    state.fix.speedKmh = speedKmh;
    state.fix.altitude = 45.3;
    state.fix.fixQuality = quality;
    std::snprintf(state.fix.fixDate, sizeof state.fix.fixDate, "%s", date);
    std::snprintf(state.fix.fixTime, sizeof state.fix.fixTime, "%s", time);
    TrackWriter::DueRecord(state);
  }

  // Moving cycles; the second of each record tells which cycle wrote it.
  void MovingCycles(int from, int to) {
    for (int i = from; i <= to; ++i) {
      char time[16];
      std::snprintf(time, sizeof time, "0005%02d", i);
      Cycle(35.0 + i * 0.001, 139.0 + i * 0.001, 20.0, 1, "070308", time);
    }
  }

  std::string HostPath(const std::u16string& devicePath) const {
    std::string path = root.Path();
    for (char16_t c : devicePath) path += c == u'\\' ? '/' : static_cast<char>(c);  // ASCII paths
    return path;
  }
  std::string Track() const { return root.Read(HostPath(state.logPath).substr(root.Path().size() + 1)); }
  bool TrackExists() const { return ::access(HostPath(state.logPath).c_str(), F_OK) == 0; }
  // No handle of this program holds the file: an exclusive open succeeds.
  bool TrackIsClosed() const {
    HANDLE file = CreateFileW(state.logPath, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }
  // The lines of the track that carry these times, in order.
  std::string Seconds() const {
    std::string seconds;
    const std::string track = Track();
    for (size_t at = track.find(":05:"); at != std::string::npos; at = track.find(":05:", at + 1)) {
      seconds += track.substr(at + 4, 2) + " ";
    }
    return seconds;
  }

  cetest::TempDir root;
  std::unique_ptr<cehost::InProcessDevice> device;
  RecordingView view;
  LoggerState state{view};
};

}  // namespace loggertest
