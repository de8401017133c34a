// The console line of cedevice run, read from Wendra's window trace and its
// track files.
#include <TempDir.h>
#include <gtest/gtest.h>

#include <ctime>

#include "cedevice/WendraStatus.h"

namespace {

TEST(WendraStatusTest, LineShowsTheReadOutsAndCountsTheRecords) {
  cetest::TempDir dir;
  dir.Write("trace", "");
  cedevice::WendraStatus status(dir.Path() + "/trace", {dir.Path() + "/track"}, std::time(nullptr) - 60);
  status.Update();
  EXPECT_EQ(status.Line(), "RCV   -- --  - -  top 0.0 km/h  0 records  (no track yet)");

  dir.Write("trace",
            "{\"ms\":1,\"op\":\"text\",\"id\":1015,\"text\":\"N 35.6581000\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":1016,\"text\":\"E139.7421733\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":1017,\"text\":\"12.5\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":1018,\"text\":\"3D\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":1019,\"text\":\"GPS\"}\n"
            "{\"ms\":2,\"op\":\"show\",\"id\":1011,\"shown\":true}\n");
  dir.Write("track/20081207090502.txt", "2008-03-07,00:05:02,35.6581000,139.7421733,45.3,12.5\r\n");
  status.Update();
  const std::string track = dir.Path() + "/track/20081207090502.txt";
  EXPECT_EQ(status.Line(), "RCV*  3D GPS  N 35.6581000 E139.7421733  top 12.5 km/h  1 record  " + track);

  dir.Write("track/20081207090502.txt",
            "2008-03-07,00:05:02,35.6581000,139.7421733,45.3,12.5\r\n"
            "2008-03-07,00:05:07,35.6582000,139.7421733,45.3,12.5\r\n");
  EXPECT_EQ(status.Line(), "RCV*  3D GPS  N 35.6581000 E139.7421733  top 12.5 km/h  2 records  " + track);
  EXPECT_EQ(cedevice::WendraStatus::RecordCount(1), "1 record");
  EXPECT_EQ(cedevice::WendraStatus::RecordCount(0), "0 records");
}

// What a run that cannot start quotes: each message box, its line ends as blanks.
TEST(WendraStatusTest, MessagesAreTheTextsOfTheMessageBoxesInOrder) {
  cetest::TempDir dir;
  dir.Write("trace", "{\"ms\":1,\"op\":\"text\",\"id\":1015,\"text\":\"N 35.6581000\"}\n");
  cedevice::WendraStatus status(dir.Path() + "/trace", {}, std::time(nullptr));
  status.Update();
  EXPECT_EQ(status.Messages(), "no message");
  dir.Write("trace",
            "{\"ms\":1,\"op\":\"text\",\"id\":1015,\"text\":\"N 35.6581000\"}\n"
            "{\"ms\":2,\"op\":\"msgbox\",\"caption\":\"Wendra\",\"text\":\"a\\nb\\n\",\"style\":16}\n"
            "{\"ms\":3,\"op\":\"msgbox\",\"caption\":\"Wendra\",\"text\":\"c\",\"style\":16}\n"
            "{\"ms\":4,\"op\":\"msgbox\",\"text\":7}\n");
  status.Update();
  EXPECT_EQ(status.Messages(), "\"a b\", \"c\"");
}

// A control id that is no int (a fraction, a number beyond int's range)
// names no control: the step shows nothing and the reading goes on.
TEST(WendraStatusTest, AnIdThatIsNoControlsNamesNone) {
  cetest::TempDir dir;
  dir.Write("trace",
            "{\"ms\":1,\"op\":\"text\",\"id\":6.6e91,\"text\":\"far\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":1015.5,\"text\":\"half\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":18446744073709551615,\"text\":\"huge\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":-9223372036854775808,\"text\":\"low\"}\n"
            "{\"ms\":1,\"op\":\"text\",\"id\":1015,\"text\":\"N 35.6581000\"}\n");
  cedevice::WendraStatus status(dir.Path() + "/trace", {dir.Path() + "/track"}, std::time(nullptr) - 60);
  status.Update();
  EXPECT_EQ(status.Line(), "RCV   -- --  N 35.6581000 -  top 0.0 km/h  0 records  (no track yet)");
}

}  // namespace
