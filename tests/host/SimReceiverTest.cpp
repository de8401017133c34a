// The built-in receiver: NMEA 0183 bursts with correct checksums, no fix at
// first, then a position moving along a square at the given speed.
#include <cmath>
#include <cstdio>
#include <sstream>

#include "HostTest.h"
#include "device/SimReceiver.h"

namespace cetest {
namespace {

using cehost::SimReceiver;

constexpr SYSTEMTIME kUtc{2008, 3, 5, 7, 9, 5, 2, 0};

std::vector<std::string> Sentences(const std::string& burst) {
  std::vector<std::string> sentences;
  size_t start = 0;
  while (start < burst.size()) {
    const size_t end = burst.find("\r\n", start);
    EXPECT_NE(std::string::npos, end) << "a sentence without CR LF: " << burst.substr(start);
    if (end == std::string::npos) break;
    sentences.push_back(burst.substr(start, end - start));
    start = end + 2;
  }
  return sentences;
}

std::vector<std::string> Fields(const std::string& sentence) {
  std::vector<std::string> fields;
  std::istringstream in(sentence.substr(0, sentence.find('*')));
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  if (!sentence.empty() && sentence[sentence.find('*') - 1] == ',') fields.emplace_back();
  return fields;
}

const std::string* Find(const std::vector<std::string>& sentences, const char* kind) {
  for (const auto& s : sentences) {
    if (s.rfind(kind, 0) == 0) return &s;
  }
  return nullptr;
}

double Metres(double lat1, double lon1, double lat2, double lon2) {
  const double rad = 3.14159265358979323846 / 180.0;
  const double x = (lon2 - lon1) * rad * std::cos((lat1 + lat2) / 2 * rad);
  const double y = (lat2 - lat1) * rad;
  return 6371000.0 * std::sqrt(x * x + y * y);
}

TEST(SimReceiverTest, EverySentenceHasItsChecksumAndEndsInCrLf) {
  SimReceiver::Options options;
  for (int second : {0, 5, 200}) {
    options.combined = second == 5;
    const std::string burst = SimReceiver::Burst(options, second, kUtc);
    ASSERT_EQ("\r\n", burst.substr(burst.size() - 2));
    const auto sentences = Sentences(burst);
    // GGA, GSA, two GSV and RMC; combined, a GSA and a GSV more
    EXPECT_EQ(options.combined ? 7u : 5u, sentences.size());
    for (const auto& s : sentences) {
      ASSERT_EQ('$', s[0]) << s;
      const size_t star = s.find('*');
      ASSERT_EQ(s.size() - 3, star) << s;
      unsigned char sum = 0;
      for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", sum);
      EXPECT_EQ(hex, s.substr(star + 1)) << s;
    }
  }
}

TEST(SimReceiverTest, NoFixBeforeTheNoFixSecondsThenAFix) {
  SimReceiver::Options options;
  options.noFixSeconds = 4;
  for (int second = 0; second < 7; ++second) {
    const auto sentences = Sentences(SimReceiver::Burst(options, second, kUtc));
    const auto gga = Fields(*Find(sentences, "$GPGGA"));
    const auto rmc = Fields(*Find(sentences, "$GPRMC"));
    ASSERT_EQ(15u, gga.size());
    ASSERT_EQ(13u, rmc.size());
    EXPECT_EQ("090502.00", gga[1]);
    EXPECT_EQ("070308", rmc[9]);
    const bool fix = second >= 4;
    EXPECT_EQ(fix ? "1" : "0", gga[6]) << second;
    EXPECT_EQ(fix ? "A" : "V", rmc[2]) << second;
    EXPECT_EQ(fix, !rmc[3].empty()) << second;
  }
}

TEST(SimReceiverTest, ThePositionMovesAtTheGivenSpeedAlongASquare) {
  SimReceiver::Options options;
  options.speedKmh = 72;  // 20 m a second
  options.legSeconds = 30;
  double lat, lon, course;
  SimReceiver::Position(options, 0, &lat, &lon, &course);
  EXPECT_DOUBLE_EQ(options.latitude, lat);
  EXPECT_DOUBLE_EQ(options.longitude, lon);
  double lat10, lon10;
  SimReceiver::Position(options, 10, &lat10, &lon10, &course);
  EXPECT_NEAR(200.0, Metres(lat, lon, lat10, lon10), 1.0);
  EXPECT_EQ(90.0, course);
  SimReceiver::Position(options, 45, &lat10, &lon10, &course);
  EXPECT_EQ(180.0, course);
  EXPECT_LT(lat10, lat);
  SimReceiver::Position(options, 120, &lat10, &lon10, &course);  // four legs: back at the start
  EXPECT_NEAR(0.0, Metres(lat, lon, lat10, lon10), 1.0);

  // The RMC of a moving burst reports the speed in knots: 72 km/h is 38.9 kn.
  options.noFixSeconds = 0;
  const auto rmc = Fields(*Find(Sentences(SimReceiver::Burst(options, 10, kUtc)), "$GPRMC"));
  EXPECT_EQ("038.9", rmc[7]);
  EXPECT_EQ("090.0", rmc[8]);
}

// A route the options send past 180 degrees east goes on from 180 west, and
// one sent past a pole comes down its other side: a receiver reports no
// other position.
TEST(SimReceiverTest, TheRouteStaysOnTheGlobe) {
  SimReceiver::Options options;
  options.longitude = 179.9999;
  options.latitude = 10.0;
  options.speedKmh = 360;  // 100 m a second: past 180 within the first second
  double lat, lon, course;
  SimReceiver::Position(options, 2, &lat, &lon, &course);
  EXPECT_LT(lon, -179.99);
  EXPECT_NEAR(10.0, lat, 1e-6);

  options = SimReceiver::Options{};
  options.latitude = -89.0;
  options.speedKmh = 2000;
  options.legSeconds = 400;  // the second leg runs south 222 km, past the pole
  options.noFixSeconds = 0;
  SimReceiver::Position(options, 800, &lat, &lon, &course);
  EXPECT_GE(lat, -90.0);
  EXPECT_NEAR(-89.0, lat, 1.0);
  EXPECT_LE(std::fabs(lon), 180.0);
  const auto rmc = Fields(*Find(Sentences(SimReceiver::Burst(options, 800, kUtc)), "$GPRMC"));
  EXPECT_EQ("89", rmc[3].substr(0, 2));
  EXPECT_EQ("S", rmc[4]);
}

TEST(SimReceiverTest, OptionsChooseTheOrderAndAreChecked) {
  SimReceiver::Options options;
  std::string error;
  ASSERT_TRUE(SimReceiver::ParseOptions("order=rmc-first,nofix=0,lat=-33.5,lon=-70.25", &options, &error)) << error;
  const auto sentences = Sentences(SimReceiver::Burst(options, 0, kUtc));
  EXPECT_EQ(0u, sentences.front().rfind("$GPRMC,", 0));
  const auto rmc = Fields(sentences.front());
  EXPECT_EQ("3330.0000", rmc[3]);
  EXPECT_EQ("S", rmc[4]);
  EXPECT_EQ("07015.0000", rmc[5]);
  EXPECT_EQ("W", rmc[6]);
  EXPECT_EQ(0u, Sentences(SimReceiver::Burst(SimReceiver::Options{}, 0, kUtc)).front().rfind("$GPGGA,", 0));

  for (const char* bad : {"order=last", "talker=gl", "talker=GN", "speed=-1", "lat=95", "nofix=", "colour=red"}) {
    error.clear();
    EXPECT_FALSE(SimReceiver::ParseOptions(bad, &options, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

// A receiver of GPS and GLONASS: the combined talker for the fix, one GSA
// per system, satellites in view by each system's own talker.
TEST(SimReceiverTest, TheCombinedTalkerSendsWhatACurrentReceiverSends) {
  auto headers = [](const std::string& burst) {
    std::string list;
    for (const auto& sentence : Sentences(burst)) list += sentence.substr(0, sentence.find(',')) + " ";
    return list;
  };
  SimReceiver::Options options;
  std::string error;
  ASSERT_TRUE(SimReceiver::ParseOptions("talker=gn,nofix=1,lat=-33.5,lon=-70.25", &options, &error)) << error;
  EXPECT_EQ("$GNGGA $GNGSA $GNGSA $GPGSV $GPGSV $GLGSV $GNRMC ", headers(SimReceiver::Burst(options, 0, kUtc)));
  const auto fixed = Sentences(SimReceiver::Burst(options, 1, kUtc));
  EXPECT_EQ("1", Fields(*Find(fixed, "$GNGGA"))[6]);
  const auto gsaGps = Fields(fixed[1]);
  const auto gsaGlonass = Fields(fixed[2]);
  EXPECT_EQ("3", gsaGps[2]);
  EXPECT_EQ("1", gsaGps.back());  // the system id of NMEA 0183 4.10
  EXPECT_EQ("66", gsaGlonass[3]);
  EXPECT_EQ("2", gsaGlonass.back());
  const auto rmc = Fields(*Find(fixed, "$GNRMC"));
  EXPECT_EQ("A", rmc[2]);
  EXPECT_EQ("S", rmc[4]);
  EXPECT_EQ("W", rmc[6]);

  ASSERT_TRUE(SimReceiver::ParseOptions("order=rmc-first", &options, &error)) << error;
  EXPECT_EQ("$GNRMC $GNGGA $GNGSA $GNGSA $GPGSV $GPGSV $GLGSV ", headers(SimReceiver::Burst(options, 1, kUtc)));
  ASSERT_TRUE(SimReceiver::ParseOptions("talker=gp", &options, &error)) << error;
  EXPECT_EQ("$GPRMC $GPGGA $GPGSA $GPGSV $GPGSV ", headers(SimReceiver::Burst(options, 1, kUtc)));
}

using SimPortTest = DeviceTest;

TEST_F(SimPortTest, ThePortDeliversTheFirstBurstAtItsFirstOpen) {
  options_.ports = {"COM5:=sim:nofix=0"};
  options_.clock = "2008-03-07T09:05:02";
  Boot();
  SimReceiver::Options options;
  options.noFixSeconds = 0;
  const std::string expected = SimReceiver::Burst(options, 0, kUtc);
  HANDLE port = CreateFileW(u"COM5:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, port);
  COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};  // wait for the whole burst
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  std::string burst(expected.size(), '\0');
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(port, burst.data(), static_cast<DWORD>(burst.size()), &done, nullptr));
  CloseHandle(port);
  const auto got = Sentences(burst);
  const auto want = Sentences(expected);
  ASSERT_EQ(want.size(), got.size());
  // The time stamp is the device clock's when the burst left; the rest is the burst of second 0.
  for (size_t i = 0; i < got.size(); ++i) {
    auto a = Fields(got[i]);
    auto b = Fields(want[i]);
    if (a[0] == "$GPGGA" || a[0] == "$GPRMC") a[1] = b[1] = "";
    EXPECT_EQ(b, a);
  }
}

}  // namespace
}  // namespace cetest
