#include <cstdio>
#include <string>
#include <vector>

#include "TrackWriterTest.h"

namespace loggertest {
namespace {

TEST_F(TrackWriterTest, StartWaitsForAFixAndASetClock) {
  TrackWriter::StartLogging(state);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Beep(), Timer(1, 1000), Enable(IDC_START, false), Enable(IDC_STOP, true),
                                             Tile()}))
      << Describe(view.Ops());
  EXPECT_TRUE(state.waitingForFix);
  view.Clear();

  TrackWriter::TimerTick(state, 2);  // another timer
  TrackWriter::TimerTick(state, 1);  // no fix yet
  state.fix.fixQuality = 1;
  SetClock(2003, 1, 1, 0, 0, 5);  // a clock never set
  TrackWriter::TimerTick(state, 1);
  EXPECT_TRUE(view.Ops().empty()) << Describe(view.Ops());
  EXPECT_TRUE(state.waitingForFix);
  EXPECT_FALSE(state.logging);

  SetClock(2008, 3, 7, 9, 5, 2);
  TrackWriter::TimerTick(state, 1);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{KillTimer(1), Redraw()})) << Describe(view.Ops());
  EXPECT_FALSE(state.waitingForFix);
  EXPECT_TRUE(state.logging);
  EXPECT_EQ(std::u16string(state.logPath), u"\\Program Files\\Wendra\\20080307090502.txt");
  EXPECT_TRUE(TrackExists());  // writecache 1 opens the file at once
  EXPECT_EQ(Track(), "");

  TrackWriter::StopLogging(state);
  state.settings.autominimize = FALSE;
  view.Clear();
  TrackWriter::StartLogging(state);
  EXPECT_EQ(view.Count("tile"), 0);
}

TEST_F(TrackWriterTest, LogPathFollowsLogdir) {
  root.Write("Storage Card/GPS/keep", "");
  wcscpy(state.settings.logdir, TEXT("\\Storage Card\\GPS"));
  StartLog();
  EXPECT_EQ(std::u16string(state.logPath), u"\\Storage Card\\GPS\\20080307090502.txt");
  EXPECT_TRUE(root.Exists("Storage Card/GPS/20080307090502.txt"));
  TrackWriter::StopLogging(state);

  wcscpy(state.settings.logdir, TEXT("\\Storage Card\\GPS\\"));  // the backslash is added all the same
  state.waitingForFix = FALSE;
  TrackWriter::StartLogging(state);
  SetClock(2009, 12, 31, 23, 59, 58);
  TrackWriter::TimerTick(state, 1);
  EXPECT_EQ(std::u16string(state.logPath), u"\\Storage Card\\GPS\\\\20091231235958.txt");
  EXPECT_TRUE(root.Exists("Storage Card/GPS/20091231235958.txt"));
}

TEST_F(TrackWriterTest, RecordLayoutIsExact) {
  state.settings.interval = 1;
  state.settings.writecache = 0;
  StartLog();
  root.Write(HostPath(state.logPath).substr(root.Path().size() + 1), "earlier\r\n");  // kept, records go after it
  Cycle(35.6581233, 139.7414567, 12.6, 1, "070308", "000502.00");
  Cycle(5.5, 0.25, 0.04, 2, "311299", "235959");
  EXPECT_EQ(Track(),
            "earlier\r\n"
            "2008-03-07,00:05:02,35.6581233,139.7414567,45.3,12.6\r\n"
            "2099-12-31,23:59:59,5.5000000,0.2500000,45.3,0.0\r\n");
}

// South and west become a minus sign only with signedpos, from the letters
// that came with the values; 0 is written without a sign either way.
TEST_F(TrackWriterTest, SignedPositionsFollowTheHemisphereLetters) {
  state.settings.interval = 1;
  struct Place {
    double latitude, longitude;
    char ns, ew;
  };
  const Place places[] = {
      {33.4489, 70.6693, 'S', 'W'},  // south-west
      {35.6581233, 139.7414567, 'N', 'E'},
      {0.0, 0.0, 'S', 'W'},  // on the equator and the meridian
      {0.5, 0.0, 's', 'W'},  // only a capital letter counts
      {12.0, 8.0, '\0', 'W'},  // no letter: no sign
  };
  std::string tracks[2];
  for (BOOL signedpos : {FALSE, TRUE}) {
    state.settings.signedpos = signedpos;
    if (signedpos) {
      Restart(1);
    } else {
      StartLog();
    }
    int second = 0;
    for (const Place& place : places) {
      state.fix.latitudeHemisphere = place.ns;
      state.fix.longitudeHemisphere = place.ew;
      char time[16];
      std::snprintf(time, sizeof time, "0005%02d", second++);
      Cycle(place.latitude, place.longitude, 20.0, 1, "070308", time);
    }
    tracks[signedpos] = Track();
  }
  EXPECT_EQ(tracks[FALSE],
            "2008-03-07,00:05:00,33.4489000,70.6693000,45.3,20.0\r\n"
            "2008-03-07,00:05:01,35.6581233,139.7414567,45.3,20.0\r\n"
            "2008-03-07,00:05:02,0.0000000,0.0000000,45.3,20.0\r\n"
            "2008-03-07,00:05:03,0.5000000,0.0000000,45.3,20.0\r\n"
            "2008-03-07,00:05:04,12.0000000,8.0000000,45.3,20.0\r\n");
  EXPECT_EQ(tracks[TRUE],
            "2008-03-07,00:05:00,-33.4489000,-70.6693000,45.3,20.0\r\n"
            "2008-03-07,00:05:01,35.6581233,139.7414567,45.3,20.0\r\n"
            "2008-03-07,00:05:02,0.0000000,0.0000000,45.3,20.0\r\n"
            "2008-03-07,00:05:03,0.5000000,0.0000000,45.3,20.0\r\n"
            "2008-03-07,00:05:04,12.0000000,-8.0000000,45.3,20.0\r\n");
  // The duplicate rule compares the values as read: the same numbers across
  // the equator are not written again.
  state.fix.latitudeHemisphere = 'N';
  Cycle(12.0, 8.0, 20.0, 1, "070308", "000505");
  EXPECT_EQ(Track(), tracks[TRUE]);
}

TEST_F(TrackWriterTest, IntervalCountsDueCyclesWithAFix) {
  state.settings.interval = 5;
  StartLog();
  MovingCycles(1, 12);
  EXPECT_EQ(Seconds(), "05 10 ");

  Cycle(1.0, 1.0, 20.0, 0);  // cycles without a fix do not count
  Cycle(1.0, 1.0, 20.0, 0);
  MovingCycles(13, 15);
  EXPECT_EQ(Seconds(), "05 10 15 ");

  for (LONG interval : {1, 0}) {
    state.settings.interval = interval;
    Restart(static_cast<WORD>(10 + interval));
    MovingCycles(20, 22);
    EXPECT_EQ(Seconds(), "20 21 22 ") << "interval " << interval;
  }

  state.settings.interval = -1;  // compared unsigned: never reached
  Restart(20);
  MovingCycles(30, 40);
  EXPECT_EQ(Track(), "");
  EXPECT_EQ(view.Count("show", IDC_LOG_LAMP_BLINK), 11);  // the lamp blinks all the same
}

TEST_F(TrackWriterTest, StationaryReceiverWritesOnceAndRestartsTheCount) {
  state.settings.interval = 3;
  StartLog();
  for (int i = 1; i <= 6; ++i) Cycle(35.5, 139.5, 0.0, 1, "070308", i == 3 ? "000503" : "000506");
  EXPECT_EQ(Seconds(), "03 ");
  Cycle(35.6, 139.5, 1.0, 1, "070308", "000507");
  Cycle(35.6, 139.5, 1.0, 1, "070308", "000508");
  EXPECT_EQ(Seconds(), "03 ");  // the count started again at the unchanged position
  Cycle(35.6, 139.5, 1.0, 1, "070308", "000509");
  EXPECT_EQ(Seconds(), "03 09 ");
}

TEST_F(TrackWriterTest, WriteCacheZeroOpensTheFileForEachRecord) {
  state.settings.interval = 1;
  state.settings.writecache = 0;
  StartLog();
  EXPECT_FALSE(TrackExists());
  MovingCycles(1, 1);
  EXPECT_TRUE(TrackExists());
  EXPECT_EQ(state.logFile, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(TrackIsClosed());
  MovingCycles(2, 2);
  EXPECT_EQ(Seconds(), "01 02 ");
  EXPECT_TRUE(TrackIsClosed());
}

TEST_F(TrackWriterTest, WriteCacheOneKeepsTheFileOpenUntilStop) {
  state.settings.interval = 1;
  StartLog();
  MovingCycles(1, 3);
  Cycle(9.0, 9.0, 1.0);  // slow, and
  Cycle(9.0, 9.0, 1.0, 0);  // the fix lost: still open
  EXPECT_NE(state.logFile, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(TrackIsClosed());
  TrackWriter::StopLogging(state);
  EXPECT_EQ(state.logFile, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(TrackIsClosed());
  EXPECT_EQ(Seconds(), "01 02 03 02 ");
}

TEST_F(TrackWriterTest, WriteCacheTwoClosesBelowWalkingSpeedAndOnALostFix) {
  state.settings.interval = 1;
  state.settings.writecache = 2;
  StartLog();
  EXPECT_FALSE(TrackIsClosed());
  Cycle(1.0, 1.0, 3.6);
  EXPECT_FALSE(TrackIsClosed());
  Cycle(2.0, 1.0, 3.5);
  EXPECT_TRUE(TrackIsClosed());
  EXPECT_EQ(state.logFile, INVALID_HANDLE_VALUE);
  Cycle(3.0, 1.0, 50.0);  // opens it again
  EXPECT_FALSE(TrackIsClosed());
  Cycle(3.0, 1.0, 50.0, 0);
  EXPECT_TRUE(TrackIsClosed());
  EXPECT_EQ(Track(),
            "2008-03-07,00:05:02,1.0000000,1.0000000,45.3,3.6\r\n"
            "2008-03-07,00:05:02,2.0000000,1.0000000,45.3,3.5\r\n"
            "2008-03-07,00:05:02,3.0000000,1.0000000,45.3,50.0\r\n");
}

TEST_F(TrackWriterTest, LostAndRegainedFixDriveTheLampAndStatusBoxOnce) {
  state.settings.interval = 1;
  StartLog();
  MovingCycles(1, 2);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Show(IDC_LOG_LAMP_BLINK, true), Show(IDC_LOG_LAMP_STEADY, false),
                                             Show(IDC_LOG_LAMP_BLINK, false), Show(IDC_LOG_LAMP_STEADY, true)}))
      << Describe(view.Ops());
  view.Clear();
  Cycle(0.0, 0.0, 0.0, 0);
  Cycle(0.0, 0.0, 0.0, 0);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Redraw(), Show(IDC_LOG_LAMP_BLINK, false), Show(IDC_LOG_LAMP_STEADY, true)}))
      << Describe(view.Ops());
  view.Clear();
  MovingCycles(3, 4);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Redraw(), Show(IDC_LOG_LAMP_BLINK, true), Show(IDC_LOG_LAMP_STEADY, false),
                                             Show(IDC_LOG_LAMP_BLINK, false), Show(IDC_LOG_LAMP_STEADY, true)}))
      << Describe(view.Ops());
  EXPECT_EQ(Seconds(), "01 02 03 04 ");
}

TEST_F(TrackWriterTest, StopWhileWaitingKillsTheTimerAndWritesNothing) {
  TrackWriter::StartLogging(state);
  view.Clear();
  TrackWriter::StopLogging(state);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Beep(), KillTimer(1), Redraw(), Enable(IDC_STOP, false),
                                             Enable(IDC_START, true), Show(IDC_LOG_LAMP_BLINK, false),
                                             Show(IDC_LOG_LAMP_STEADY, true)}))
      << Describe(view.Ops());
  EXPECT_FALSE(state.waitingForFix);

  // A tick that was already queued when the timer died starts nothing.
  view.Clear();
  state.fix.fixQuality = 1;
  TrackWriter::TimerTick(state, 1);
  EXPECT_FALSE(state.logging);
  EXPECT_TRUE(view.Ops().empty());
  EXPECT_EQ(std::u16string(state.logPath), u"");
}

TEST_F(TrackWriterTest, StopWhileLoggingClosesTheFileAndAStartBeginsAnother) {
  state.settings.interval = 1;
  StartLog();
  MovingCycles(1, 2);
  view.Clear();
  TrackWriter::StopLogging(state);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Beep(), Redraw(), Enable(IDC_STOP, false), Enable(IDC_START, true),
                                             Show(IDC_LOG_LAMP_BLINK, false), Show(IDC_LOG_LAMP_STEADY, true)}))
      << Describe(view.Ops());
  EXPECT_FALSE(state.logging);
  EXPECT_TRUE(TrackIsClosed());
  MovingCycles(3, 3);  // nothing after Stop
  EXPECT_EQ(Seconds(), "01 02 ");

  const std::u16string first = state.logPath;
  TrackWriter::StartLogging(state);
  SetClock(2008, 3, 7, 10, 0, 0);
  TrackWriter::TimerTick(state, 1);
  EXPECT_EQ(std::u16string(state.logPath), u"\\Program Files\\Wendra\\20080307100000.txt");
  MovingCycles(4, 4);
  EXPECT_EQ(Seconds(), "04 ");
  EXPECT_NE(first, std::u16string(state.logPath));
}

TEST_F(TrackWriterTest, FinishOnShutdownKillsTheTimerAndClosesTheFile) {
  TrackWriter::FinishOnShutdown(state);  // before anything started
  EXPECT_EQ(view.Ops(), std::vector<ViewOp>{KillTimer(1)});
  view.Clear();

  state.settings.interval = 1;
  state.settings.writecache = 2;
  StartLog();
  MovingCycles(1, 1);
  view.Clear();
  TrackWriter::FinishOnShutdown(state);
  EXPECT_EQ(view.Ops(), std::vector<ViewOp>{KillTimer(1)});
  EXPECT_FALSE(state.logging);
  EXPECT_TRUE(TrackIsClosed());
  EXPECT_EQ(Seconds(), "01 ");
}

}  // namespace
}  // namespace loggertest
