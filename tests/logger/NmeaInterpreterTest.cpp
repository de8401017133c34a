#include <NmeaInterpreter.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "LoggerTestSupport.h"
#include "RecordingView.h"

namespace loggertest {
namespace {

const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n";
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,0,08,0.9,545.4,M,46.9,M,,*47\n";
const std::string kGsa = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\n";

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcessWide(); }
  void Feed(const std::string& text) { Interpret(*interpreter, state, text); }

  RecordingView view;
  LoggerState state{view};
  std::unique_ptr<NmeaInterpreter> interpreter = std::make_unique<NmeaInterpreter>();
};

// Everything the interpreter leaves behind, to compare two runs.
struct Outcome {
  std::string fixDate, fixTime;
  double latitude, longitude, speedKmh, altitude, maxSpeed;
  LONG fixQuality, fixMode, cycleCounter;
  std::vector<ViewOp> ops;
  bool operator==(const Outcome& o) const {
    return fixDate == o.fixDate && fixTime == o.fixTime && latitude == o.latitude && longitude == o.longitude &&
           speedKmh == o.speedKmh && altitude == o.altitude && maxSpeed == o.maxSpeed &&
           fixQuality == o.fixQuality && fixMode == o.fixMode && cycleCounter == o.cycleCounter && ops == o.ops;
  }
};

// A fresh interpreter and state fed the chunks in turn. Logging, due
// records blink the lamp but are never written.
Outcome RunChunks(const std::vector<std::string>& chunks, BOOL anytalker = FALSE, BOOL logging = FALSE) {
  ResetProcessWide();
  RecordingView view;
  LoggerState state(view);
  state.settings.anytalker = anytalker;
  state.settings.interval = -1;
  state.logging = logging;
  auto interpreter = std::make_unique<NmeaInterpreter>();
  for (const std::string& chunk : chunks) Interpret(*interpreter, state, chunk);
  const FixData& f = state.fix;
  return {f.fixDate, f.fixTime, f.latitude, f.longitude, f.speedKmh, f.altitude, maxSpeed,
          f.fixQuality, f.fixMode, state.cycleCounter, view.Ops()};
}

TEST_F(InterpreterTest, RmcSampleGivesPositionSpeedDateTimeAndTexts) {
  Feed(kRmc);
  EXPECT_NEAR(state.fix.latitude, 48.1173, 1e-12);
  EXPECT_NEAR(state.fix.longitude, 11.516666666666667, 1e-12);
  EXPECT_NEAR(state.fix.speedKmh, 41.4848, 1e-12);
  EXPECT_STREQ(state.fix.fixDate, "230394");
  EXPECT_STREQ(state.fix.fixTime, "123519");
  EXPECT_EQ(maxSpeed, state.fix.speedKmh);
  EXPECT_EQ(view.Ops(), (std::vector<ViewOp>{Text(IDC_LATITUDE, u"N 48.1173000"), Text(IDC_LONGITUDE, u"E 11.5166667"),
                                             Text(IDC_TOP_SPEED, u"41.5")}))
      << Describe(view.Ops());
  EXPECT_EQ(state.cycleCounter, -1);  // no $GPGGA yet: nothing can fall due
}

TEST_F(InterpreterTest, HemisphereLettersAreShownButKeepTheSign) {
  Feed("$GPRMC,000502.00,A,3339.4874,S,07044.4874,W,0.5,,070308,,,A*00\r\n");
  EXPECT_GT(state.fix.latitude, 33.6);
  EXPECT_GT(state.fix.longitude, 70.7);
  EXPECT_EQ(view.LastText(IDC_LATITUDE), u"S 33.6581233");
  EXPECT_EQ(view.LastText(IDC_LONGITUDE), u"W 70.7414567");
  EXPECT_STREQ(state.fix.fixTime, "000502.00");
}

TEST_F(InterpreterTest, RmcWithoutFixShowsEmptyCoordinates) {
  Feed(Sentence("GPRMC,,V,,,,,,,,,,N"));
  EXPECT_EQ(state.fix.latitude, 0.0);
  EXPECT_EQ(view.LastText(IDC_LATITUDE), u"");  // the empty letter ends the text at once
  EXPECT_EQ(view.LastText(IDC_LONGITUDE), u"");
  EXPECT_STREQ(state.fix.fixDate, "");
  EXPECT_EQ(view.Count("text", IDC_TOP_SPEED), 0);  // 0.0 is no new top speed
}

TEST_F(InterpreterTest, TopSpeedOnlyRises) {
  Feed(Sentence("GPRMC,000001,A,3539.4874,N,13944.4874,E,10.0,,070308,,,A"));
  Feed(Sentence("GPRMC,000002,A,3539.4874,N,13944.4874,E,4.0,,070308,,,A"));
  EXPECT_NEAR(state.fix.speedKmh, 7.408, 1e-12);
  EXPECT_NEAR(maxSpeed, 18.52, 1e-12);
  EXPECT_EQ(view.Count("text", IDC_TOP_SPEED), 1);
  EXPECT_EQ(view.LastText(IDC_TOP_SPEED), u"18.5");
  Feed(Sentence("GPRMC,000003,A,3539.4874,N,13944.4874,E,10.5,,070308,,,A"));
  EXPECT_EQ(view.LastText(IDC_TOP_SPEED), u"19.4");
}

TEST_F(InterpreterTest, GgaSetsQualityAltitudeAndCycle) {
  Feed(kGga);
  EXPECT_EQ(state.fix.fixQuality, 0);
  EXPECT_EQ(view.LastText(IDC_FIX_QUALITY), u"NoFix");
  EXPECT_DOUBLE_EQ(state.fix.altitude, 545.4);
  EXPECT_EQ(state.cycleCounter, 2);

  Feed(Sentence("GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
  EXPECT_EQ(view.LastText(IDC_FIX_QUALITY), u"GPS");
  Feed(Sentence("GPGGA,123521,4807.038,N,01131.000,E,2,08,0.9,-12.5,M,46.9,M,,0000"));
  EXPECT_EQ(view.LastText(IDC_FIX_QUALITY), u"DGPS");
  EXPECT_DOUBLE_EQ(state.fix.altitude, -12.5);

  const int texts = view.Count("text", IDC_FIX_QUALITY);
  Feed(Sentence("GPGGA,123522,4807.038,N,01131.000,E,6,08,0.9,545.4,M,46.9,M,,"));
  EXPECT_EQ(state.fix.fixQuality, 6);
  EXPECT_EQ(view.Count("text", IDC_FIX_QUALITY), texts);  // an estimated fix keeps the text
  Feed(Sentence("GPGGA,123523,4807.038,N,01131.000,E,99999999999,08,0.9,545.4,M,46.9,M,,"));
  EXPECT_EQ(state.fix.fixQuality, 2147483647);  // saturates as a 32-bit strtol does
}

TEST_F(InterpreterTest, GsaSetsFixTypeAndCountsDown) {
  Feed(kGga);
  Feed(kGsa);
  EXPECT_EQ(state.fix.fixMode, 3);
  EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"3D");
  EXPECT_EQ(state.cycleCounter, 1);
  Feed(Sentence("GPGSA,A,2,04,05,,,,,,,,,,,3.1,2.2,2.1"));
  EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"2D");
  Feed("$GPGSA,A,1\r\n");  // two fields are enough; the CR ends the number
  EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"NA");
  EXPECT_EQ(state.fix.fixMode, 1);
  Feed(Sentence("GPGSA,A,4"));
  EXPECT_EQ(state.fix.fixMode, 4);
  EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"NA");

  const auto before = view.Ops();
  const LONG counter = state.cycleCounter;
  Feed("$GPGSA,A\n");  // one comma: too short
  EXPECT_EQ(state.fix.fixMode, 4);
  EXPECT_EQ(state.cycleCounter, counter);
  EXPECT_EQ(view.Ops(), before);
}

TEST_F(InterpreterTest, OtherHeadersAndShortSentencesAreIgnored) {
  Feed("$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*74\n");
  Feed("$gprmc,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n");
  Feed("$GPRMC ,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n");
  Feed("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4*00\n");  // 8 commas
  Feed("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9*00\n");        // 8 commas
  Feed("$GPGSV,1,1,00*79\r\n# a comment line\r\n\r\n\n");
  EXPECT_TRUE(view.Ops().empty()) << Describe(view.Ops());
  EXPECT_EQ(state.fix.latitude, 0.0);
  EXPECT_EQ(state.fix.fixQuality, 0);
  EXPECT_EQ(state.cycleCounter, 0);
  EXPECT_EQ(maxSpeed, 0.0);
}

TEST_F(InterpreterTest, CaptureSplitAtEveryByteGivesTheSameOutcome) {
  const std::string capture = ReadTestData("drive-tokyo.nmea");
  const Outcome whole = RunChunks({capture});
  ASSERT_STREQ(whole.fixTime.c_str(), "000523.00");
  ASSERT_GT(whole.ops.size(), 100u);
  for (size_t at = 1; at < capture.size(); ++at) {
    ASSERT_TRUE(RunChunks({capture.substr(0, at), capture.substr(at)}) == whole) << "split at " << at;
  }
  // Three chunks at places that cut a header, a number and a line end.
  const size_t header = capture.find("$GPRMC,000503") + 3;
  const size_t number = capture.find("3539.4946") + 6;
  const size_t lineEnd = capture.find("\r\n", number) + 1;
  EXPECT_TRUE(RunChunks({capture.substr(0, header), capture.substr(header, number - header), capture.substr(number)}) ==
              whole);
  EXPECT_TRUE(RunChunks({capture.substr(0, lineEnd - 1), capture.substr(lineEnd - 1, 1), capture.substr(lineEnd)}) ==
              whole);
}

// Bursts of today's receivers, each sent for three seconds: the original
// reading finds no cycle in any; with anytalker the first GSA after a GGA
// counts and the others are ignored. RMC first in a burst completes the
// previous burst's cycle, so three bursts give two records.
TEST_F(InterpreterTest, AnyTalkerCountsOneGsaPerCycle) {
  struct Shape {
    const char* name;
    std::vector<std::string> bodies;  // {T}: the burst's time
    int original, anyTalker;          // due records in three bursts
  };
  const std::string rmc = "RMC,{T},A,3327.0000,S,07040.0000,W,10.0,90.0,150124,,,A";
  const std::string gga = "GGA,{T},3327.0000,S,07040.0000,W,1,12,0.8,570.0,M,29.0,M,,";
  const std::string gsa = "GSA,A,3,02,05,12,15,,,,,,,,,1.5,0.8,1.2";
  const Shape shapes[] = {
      {"GN, RMC first, two systems", {"GN" + rmc, "GN" + gga, "GN" + gsa, "GN" + gsa}, 0, 2},
      {"GN, GGA first, four systems", {"GN" + gga, "GN" + gsa, "GN" + gsa, "GN" + gsa, "GN" + gsa, "GN" + rmc}, 0, 3},
      {"two GGA in a burst", {"GN" + rmc, "GP" + gga, "GL" + gga, "GN" + gsa, "GN" + gsa}, 0, 2},
      {"mixed talkers", {"GN" + rmc, "GN" + gga, "GP" + gsa, "BD" + gsa}, 0, 2},
      {"GPS alone", {"GP" + gga, "GP" + gsa, "GP" + rmc}, 3, 3},
      {"GPS alone, two GSA", {"GP" + gga, "GP" + gsa, "GP" + gsa, "GP" + rmc}, 0, 3},
      {"no GSA", {"GN" + rmc, "GN" + gga, "GPGSV,1,1,00"}, 0, 0},
      {"no GGA", {"GN" + rmc, "GN" + gsa, "GN" + gsa}, 0, 0},
      {"headers that are no sentence of ours",
       {"GN" + gga, "GN" + gsa, "gn" + rmc, "GN" + rmc.substr(0, 3) + " " + rmc.substr(3), "G1" + rmc,
        "GN" + rmc.substr(0, 3) + "X" + rmc.substr(3), "GNRM,{T}"},
       0, 0},
  };
  for (const Shape& shape : shapes) {
    for (BOOL anytalker : {FALSE, TRUE}) {
      ResetProcessWide();
      RecordingView view;
      LoggerState state(view);
      state.settings.anytalker = anytalker;
      state.settings.interval = -1;  // due records blink the lamp but never write
      state.logging = TRUE;
      NmeaInterpreter interpreter;
      for (const char* time : {"120001.00", "120002.00", "120003.00"}) {
        std::string burst;
        for (std::string body : shape.bodies) {
          if (body.find("{T}") != std::string::npos) body.replace(body.find("{T}"), 3, time);
          burst += Sentence(body);
        }
        Interpret(interpreter, state, burst);
      }
      EXPECT_EQ(view.Count("show", IDC_LOG_LAMP_BLINK), anytalker ? shape.anyTalker : shape.original)
          << shape.name << (anytalker ? ", anytalker" : "");
      // What the receiver's own RMC says is shown whenever an RMC is read.
      if (anytalker && shape.anyTalker > 0) {
        EXPECT_EQ(view.LastText(IDC_LATITUDE), u"S 33.4500000") << shape.name;
        EXPECT_EQ(view.LastText(IDC_LONGITUDE), u"W 70.6666667") << shape.name;
        EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"3D") << shape.name;
        EXPECT_EQ(state.fix.latitudeHemisphere, 'S') << shape.name;
      }
    }
  }
}

// The GSA that counts is the first after the GGA: a second one with another
// fix type changes nothing, even the text shown. Before any GGA the first
// GSA counts as if one had come.
TEST_F(InterpreterTest, AnyTalkerIgnoresEveryGsaAfterTheFirstUntilTheNextGga) {
  state.settings.anytalker = TRUE;
  Feed(Sentence("GNGSA,A,2,02,05,,,,,,,,,,,1.5,0.8,1.2,1"));
  EXPECT_EQ(state.fix.fixMode, 2);
  EXPECT_EQ(state.cycleCounter, -1);
  Feed(Sentence("GLGSA,A,3,66,67,,,,,,,,,,,1.5,0.8,1.2,2"));
  EXPECT_EQ(state.fix.fixMode, 2);
  EXPECT_EQ(view.Count("text", IDC_FIX_TYPE), 1);
  EXPECT_EQ(state.cycleCounter, -1);

  Feed(Sentence("GNGGA,120001.00,3327.0000,S,07040.0000,W,1,12,0.8,570.0,M,29.0,M,,"));
  Feed("$GNGSA,A\r\n");  // too short: not handled, so not the first either
  EXPECT_EQ(state.cycleCounter, 2);
  Feed(Sentence("GNGSA,A,3,02,05,,,,,,,,,,,1.5,0.8,1.2,1"));
  Feed(Sentence("GNGSA,A,1,,,,,,,,,,,,,1.5,0.8,1.2,2"));
  EXPECT_EQ(state.fix.fixMode, 3);
  EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"3D");
  EXPECT_EQ(state.cycleCounter, 1);

  // Logging started and stopped in between changes nothing of the cycle.
  state.logging = TRUE;
  state.logging = FALSE;
  Feed(Sentence("BDGSA,A,2,,,,,,,,,,,,,1.5,0.8,1.2,4"));
  EXPECT_EQ(state.cycleCounter, 1);
  EXPECT_EQ(state.fix.fixMode, 3);
}

TEST_F(InterpreterTest, CombinedTalkerCaptureSplitAtEveryByteGivesTheSameOutcome) {
  const std::string capture = ReadTestData("gnss-santiago.nmea");
  const Outcome whole = RunChunks({capture}, TRUE);
  ASSERT_GT(whole.ops.size(), 50u);
  ASSERT_STREQ(whole.fixTime.c_str(), "120020.00");
  for (size_t at = 1; at < capture.size(); ++at) {
    ASSERT_TRUE(RunChunks({capture.substr(0, at), capture.substr(at)}, TRUE) == whole) << "split at " << at;
  }
  // The original reading takes none of its sentences but the few $GP ones.
  const Outcome original = RunChunks({capture});
  EXPECT_EQ(original.latitude, 0.0);
  EXPECT_EQ(original.maxSpeed, 0.0);
}

// A proprietary sentence begins with "$P" and names no talker: one whose
// name ends in RMC, GGA or GSA is no position, with anytalker on or off.
TEST_F(InterpreterTest, ProprietarySentencesAreIgnoredWhateverTheirNames) {
  const std::string capture = ReadTestData("gnss-santiago.nmea");
  const std::string mixed = WithProprietarySentences(capture);
  ASSERT_NE(mixed.find("$PGRMC,"), std::string::npos);
  ASSERT_NE(mixed.find("$PXGGA,"), std::string::npos);
  for (BOOL anytalker : {FALSE, TRUE}) {
    const Outcome clean = RunChunks({capture}, anytalker, TRUE);
    EXPECT_TRUE(RunChunks({mixed}, anytalker, TRUE) == clean) << "anytalker " << anytalker;
    if (anytalker) {
      EXPECT_GT(std::count(clean.ops.begin(), clean.ops.end(), Show(IDC_LOG_LAMP_BLINK, true)), 5);
    }
  }
  // A proprietary sentence alone changes nothing.
  state.settings.anytalker = TRUE;
  Feed(Sentence("PGRMC,A,218.8,100,6378137.000,298.257223563,0.0,0.0,0.0,A,3,1,1,4,30") +
       Sentence("PXGGA,235959.00,0100.0000,N,00100.0000,E,2,04,9.9,999.9,M,0.0,M,,") +
       Sentence("PXGSA,A,3,,,,,,,,,,,,,99.9,99.9,99.9"));
  EXPECT_TRUE(view.Ops().empty()) << Describe(view.Ops());
  EXPECT_EQ(state.cycleCounter, 0);
}

TEST_F(InterpreterTest, ChunkWithTwoAndAHalfSentencesKeepsTheHalf) {
  Feed(kGga + kGsa + kRmc.substr(0, 30));
  EXPECT_EQ(state.cycleCounter, 1);
  EXPECT_EQ(state.fix.latitude, 0.0);
  EXPECT_EQ(view.Count("text"), 2);
  Feed(kRmc.substr(30));
  EXPECT_NEAR(state.fix.latitude, 48.1173, 1e-12);
  EXPECT_EQ(state.cycleCounter, 0);
  EXPECT_EQ(view.Count("text"), 5);
}

TEST_F(InterpreterTest, RecordFallsDueOnlyAfterOneGgaAndOneGsa) {
  state.logging = TRUE;
  state.settings.interval = -1;  // due records blink the lamp but never write
  const std::string gga = Sentence("GPGGA,000001,3539.4874,N,13944.4874,E,1,08,1.0,45.3,M,39.4,M,,");
  const std::string gsa = Sentence("GPGSA,A,3,02,04,09,12,,,,,,,,,2.0,1.0,1.7");
  const std::string rmc = Sentence("GPRMC,000001,A,3539.4874,N,13944.4874,E,0.0,,070308,,,A");
  auto dueRecords = [&] { return view.Count("show", IDC_LOG_LAMP_BLINK); };

  Feed(rmc);  // before any $GPGGA
  EXPECT_EQ(dueRecords(), 0);
  Feed(gga + gsa + rmc);
  EXPECT_EQ(dueRecords(), 1);
  Feed(gga + rmc);
  EXPECT_EQ(dueRecords(), 1);
  Feed(gga + gsa + gsa + rmc);
  EXPECT_EQ(dueRecords(), 1);
  Feed(gga + gsa + Sentence("GPGSV,1,1,00") + rmc + rmc);  // a repeated $GPRMC does not complete another cycle
  EXPECT_EQ(dueRecords(), 2);

  // $GPRMC first in the burst: each $GPRMC after a $GPGGA and a $GPGSA completes one.
  Feed(rmc + gga + gsa + rmc + gga + gsa + rmc + gga + gsa);
  EXPECT_EQ(dueRecords(), 4);

  state.logging = FALSE;
  Feed(gga + gsa + rmc);
  EXPECT_EQ(dueRecords(), 4);
  EXPECT_EQ(state.cycleCounter, 0);  // counted all the same
}

TEST_F(InterpreterTest, OverlongLinesAndFieldsStayInsideTheBuffers) {
  const std::string gga = Sentence("GPGGA,000001,3539.4874,N,13944.4874,E,1,08,1.0,45.3,M,39.4,M,,");
  // A line of 4095 characters fits; one more and it is dropped.
  std::string fits = "$GPGSA,A,2," + std::string(4095 - 11, '7');
  ASSERT_EQ(fits.size(), NmeaInterpreter::LINE_SIZE - 1);
  Feed(fits + "\n");
  EXPECT_EQ(state.fix.fixMode, 2);
  Feed("$GPGSA,A,3," + std::string(4096 - 11, '7') + "\n");
  EXPECT_EQ(state.fix.fixMode, 2);
  // An endless line over many chunks is dropped; the next line reads normally.
  Feed("$GPGGA,000001,3539.4874,N,13944.4874,E,6,08,1.0,45.3,M,39.4,M,,");
  for (int i = 0; i < 20; ++i) Feed(std::string(1199, 'x'));
  Feed("\r\n" + gga);
  EXPECT_EQ(state.fix.fixQuality, 1);
  EXPECT_EQ(view.Count("text", IDC_FIX_QUALITY), 1);

  // More than 99 fields: the surplus is dropped, the sentence still counts.
  Feed("$GPGSA,A,3" + std::string(300, ',') + "\r\n");
  EXPECT_EQ(state.fix.fixMode, 3);
  std::string many = "$GPRMC,235959,A,3539.4874,N,13944.4874,E,1.0,0.0,311299";
  for (int i = 10; i < 250; ++i) many += "," + std::to_string(i);
  Feed(many + "\r\n");
  EXPECT_STREQ(state.fix.fixDate, "311299");
}

TEST_F(InterpreterTest, LongDateAndTimeFieldsAreCut) {
  Feed(Sentence("GPRMC,123519.1234567890123456789,A,4807.038,N,01131.000,E,0.0,0.0,23039400000000000000000,,"));
  EXPECT_STREQ(state.fix.fixTime, "123519.123456789");
  EXPECT_EQ(std::strlen(state.fix.fixTime), static_cast<size_t>(FIX_TIME_CHARS));
  EXPECT_STREQ(state.fix.fixDate, "23039400000000");
  EXPECT_EQ(std::strlen(state.fix.fixDate), static_cast<size_t>(FIX_DATE_CHARS));
}

}  // namespace
}  // namespace loggertest
