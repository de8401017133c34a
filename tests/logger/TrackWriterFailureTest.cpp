// What the track writer does when a record cannot be made or written.
#include <FileSizeLimit.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TrackWriterTest.h"

namespace loggertest {
namespace {

TEST_F(TrackWriterTest, ShortDateOrTimeWritesNothingAndKeepsTheCount) {
  state.settings.interval = 3;
  StartLog();
  MovingCycles(1, 2);
  Cycle(7.0, 7.0, 20.0, 1, "", "000503");  // $GPRMC without a date
  EXPECT_EQ(Track(), "");
  EXPECT_EQ(state.lastLatitude, 0.0);
  MovingCycles(4, 4);  // the next complete cycle writes
  EXPECT_EQ(Seconds(), "04 ");
  MovingCycles(5, 6);
  Cycle(8.0, 8.0, 20.0, 1, "070308", "0005");  // a cut time
  Cycle(8.0, 8.0, 20.0, 1, "07030", "000508");  // a cut date
  EXPECT_EQ(Seconds(), "04 ");
  EXPECT_DOUBLE_EQ(state.lastLatitude, 35.004);
  MovingCycles(9, 9);
  EXPECT_EQ(Seconds(), "04 09 ");
  EXPECT_FALSE(state.writeError);
}

TEST_F(TrackWriterTest, UnopenableFileStopsTheLogAtTheFirstRecord) {
  struct Case {
    std::u16string logdir;
    LONG writecache;
  };
  // A path too long for logPath is not cut to another name: it is left empty.
  for (const Case& c : {Case{u"\\No Such Dir", 1}, Case{u"\\" + std::u16string(300, u'd'), 0}}) {
    ResetProcessWide();
    RecordingView view;
    LoggerState state(view);
    state.timerId = 1;
    state.settings.interval = 1;
    state.settings.writecache = c.writecache;
    wcscpy(state.settings.logdir, c.logdir.c_str());
    TrackWriter::StartLogging(state);
    state.fix.fixQuality = 1;
    TrackWriter::TimerTick(state, 1);
    ASSERT_TRUE(state.logging) << "a failed open is not reported at the start";
    view.Clear();

    state.fix.latitude = 1.0;
    std::snprintf(state.fix.fixDate, sizeof state.fix.fixDate, "070308");
    std::snprintf(state.fix.fixTime, sizeof state.fix.fixTime, "000502");
    TrackWriter::DueRecord(state);
    EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Show(IDC_LOG_LAMP_BLINK, true), Show(IDC_LOG_LAMP_STEADY, false),
                                               Show(IDC_LOG_LAMP_BLINK, false), Show(IDC_LOG_LAMP_STEADY, true),
                                               Text(IDC_START, kCannotWrite), Enable(IDC_STOP, false), Redraw(),
                                               Exclamation()}))
        << Describe(view.Ops());
    EXPECT_TRUE(state.writeError);
    EXPECT_FALSE(state.logging);
    EXPECT_EQ(state.logFile, INVALID_HANDLE_VALUE);

    view.Clear();
    state.fix.latitude = 2.0;
    TrackWriter::DueRecord(state);
    EXPECT_TRUE(view.Ops().empty());
    // A Stop already queued when the error stop ran leaves both commands disabled.
    TrackWriter::StopLogging(state);
    EXPECT_EQ(view.Ops(), std::vector<ViewOp>{Beep()}) << Describe(view.Ops());
  }
}

TEST_F(TrackWriterTest, FailedWriteOrFlushStopsTheLog) {
  state.settings.interval = 1;
  auto expectErrorStop = [&](const char* what) {
    EXPECT_TRUE(state.writeError) << what;
    EXPECT_FALSE(state.logging) << what;
    EXPECT_EQ(view.LastText(IDC_START), kCannotWrite) << what;
    EXPECT_EQ(view.Count("exclamation"), 1) << what;
    EXPECT_EQ(state.logFile, INVALID_HANDLE_VALUE) << what;
  };
  auto restart = [&](LONG writecache) {
    ResetProcessWide();
    state.settings.writecache = writecache;
    state.writeError = FALSE;
    StartLog();
  };

  // /dev/full refuses every write; /dev/null takes them but cannot be flushed.
  for (const char* target : {"/dev/full", "/dev/null"}) {
    restart(0);
    ASSERT_EQ(::symlink(target, HostPath(state.logPath).c_str()), 0);
    MovingCycles(1, 1);
    expectErrorStop(target);
    ::unlink(HostPath(state.logPath).c_str());
  }

  // writecache 2: the flush when the fix is lost.
  restart(2);
  Cycle(1.0, 1.0, 1.0);  // slow: flushed and closed
  ASSERT_EQ(::unlink(HostPath(state.logPath).c_str()), 0);
  ASSERT_EQ(::symlink("/dev/null", HostPath(state.logPath).c_str()), 0);
  Cycle(2.0, 1.0, 30.0);  // opens the file again and keeps it
  EXPECT_FALSE(state.writeError);
  Cycle(2.0, 1.0, 30.0, 0);
  expectErrorStop("lost fix");
}

TEST_F(TrackWriterTest, FullCardLeavesWholeRecordsOnly) {
  state.settings.interval = 1;
  for (LONG writecache : {0, 1, 2}) {
    SCOPED_TRACE("writecache " + std::to_string(writecache));
    ResetProcessWide();
    state.settings.writecache = writecache;
    state.writeError = FALSE;
    TrackWriter::StartLogging(state);
    state.fix.fixQuality = 1;
    SetClock(2008, 3, 7, 9, 7, static_cast<WORD>(writecache));  // a file of its own
    TrackWriter::TimerTick(state, 1);
    ASSERT_TRUE(state.logging);
    view.Clear();
    {
      // Records of 54 bytes: three fit, the fourth is cut after 38.
      cetest::FileSizeLimit card(200);
      ASSERT_TRUE(card.Ok());
      MovingCycles(1, 6);
    }
    EXPECT_TRUE(state.writeError);
    EXPECT_FALSE(state.logging);
    EXPECT_EQ(view.LastText(IDC_START), kCannotWrite);
    EXPECT_EQ(view.Count("exclamation"), 1);
    EXPECT_EQ(Track(),
              "2008-03-07,00:05:01,35.0010000,139.0010000,45.3,20.0\r\n"
              "2008-03-07,00:05:02,35.0020000,139.0020000,45.3,20.0\r\n"
              "2008-03-07,00:05:03,35.0030000,139.0030000,45.3,20.0\r\n");
  }
}

}  // namespace
}  // namespace loggertest
