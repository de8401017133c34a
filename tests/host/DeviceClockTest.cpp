// The device's clock: set at boot or by SetLocalTime, then running on.
#include "HostTest.h"

namespace cetest {
namespace {

using DeviceClockTest = LinkedDeviceTest;

long long Milliseconds(const SYSTEMTIME& t) {
  long long days = 0;  // days since 2000-01-01, enough for the times used here
  for (int y = 2000; y < t.wYear; ++y) days += (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365;
  static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  days += before[t.wMonth - 1] + t.wDay - 1;
  if (t.wMonth > 2 && t.wYear % 4 == 0 && (t.wYear % 100 != 0 || t.wYear % 400 == 0)) ++days;
  return ((days * 24 + t.wHour) * 60 + t.wMinute) * 60000LL + t.wSecond * 1000LL + t.wMilliseconds;
}

TEST_P(DeviceClockTest, TheBootClockSetsTheLocalTimeAndItsDayOfWeek) {
  options_.clock = "2008-03-07T09:05:02";
  Boot();
  SYSTEMTIME now;
  std::memset(&now, 0xAB, sizeof now);
  GetLocalTime(&now);
  EXPECT_EQ(2008, now.wYear);
  EXPECT_EQ(3, now.wMonth);
  EXPECT_EQ(7, now.wDay);
  EXPECT_EQ(5, now.wDayOfWeek);  // a Friday
  EXPECT_EQ(9, now.wHour);
  EXPECT_EQ(5, now.wMinute);
  EXPECT_LE(Milliseconds(now) - Milliseconds(SYSTEMTIME{2008, 3, 5, 7, 9, 5, 2, 0}), 60000);
}

TEST_P(DeviceClockTest, SetLocalTimeRunsOnFromTheValueSet) {
  Boot();
  const SYSTEMTIME set{2012, 2, 0, 29, 23, 59, 59, 900};  // the day of week is not looked at
  ASSERT_TRUE(QUIETLY(SetLocalTime(&set)));
  SYSTEMTIME first;
  GetLocalTime(&first);
  EXPECT_GE(Milliseconds(first), Milliseconds(set));
  SYSTEMTIME later = first;
  while (Milliseconds(later) == Milliseconds(first)) GetLocalTime(&later);
  EXPECT_GT(Milliseconds(later), Milliseconds(first));
  EXPECT_LT(Milliseconds(later) - Milliseconds(set), 60000);
  const SYSTEMTIME monday{2012, 3, 0, 5, 0, 0, 0, 0};
  ASSERT_TRUE(QUIETLY(SetLocalTime(&monday)));
  GetLocalTime(&later);
  EXPECT_EQ(1, later.wDayOfWeek);

  for (const SYSTEMTIME& bad : {SYSTEMTIME{2013, 2, 0, 29, 0, 0, 0, 0}, SYSTEMTIME{2012, 13, 0, 1, 0, 0, 0, 0},
                                SYSTEMTIME{2012, 1, 0, 1, 24, 0, 0, 0}, SYSTEMTIME{2012, 1, 0, 1, 0, 0, 0, 1000}}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(SetLocalTime(&bad));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  }
}

TEST_P(DeviceClockTest, AClockTextThatIsNoTimeRefusesTheBoot) {
  for (const char* text : {"2008-02-30T00:00:00", "2008-03-07 09:05:02", "2008-03-07T09:05:02Z", "tomorrow",
                           "2008-3-7T9:5:2", "2008-03-07T24:00:00"}) {
    options_.clock = text;
    EXPECT_FALSE(TryBoot()) << text;
    EXPECT_NE(std::string::npos, error_.find(text)) << error_;
  }
  options_.clock = "2000-02-29T23:59:59";
  Boot();
}

CETEST_ON_BOTH_LINKS(DeviceClockTest);

}  // namespace
}  // namespace cetest
