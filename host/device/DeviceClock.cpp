#include "DeviceClock.h"

#include <chrono>
#include <ctime>

namespace cehost {

namespace {

long long HostUtcMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

constexpr long long kEpoch1601Days = -134774;  // 1601-01-01 as days from 1970-01-01
constexpr long long kDayMs = 86400000LL;

bool LeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}

}  // namespace

bool ToMilliseconds(const SYSTEMTIME& t, long long* ms) {
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
      t.wDay > DaysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
      t.wMilliseconds > 999) {
    return false;
  }
  const long long days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) - kEpoch1601Days;
  *ms = days * kDayMs + ((t.wHour * 60LL + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
  return true;
}

void FromMilliseconds(long long ms, SYSTEMTIME* t) {
  long long days = ms / kDayMs;
  long long rest = ms % kDayMs;
  const long long z = days + kEpoch1601Days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  t->wYear = static_cast<WORD>(y + (m <= 2));
  t->wMonth = static_cast<WORD>(m);
  t->wDay = static_cast<WORD>(d);
  t->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  t->wHour = static_cast<WORD>(rest / 3600000);
  t->wMinute = static_cast<WORD>(rest / 60000 % 60);
  t->wSecond = static_cast<WORD>(rest / 1000 % 60);
  t->wMilliseconds = static_cast<WORD>(rest % 1000);
}

DeviceClock::DeviceClock() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  offsetMs_ = static_cast<long long>(local.tm_gmtoff) * 1000;
}

bool DeviceClock::Parse(const std::string& text, SYSTEMTIME* time) {
  // Exactly the form, digit for digit: "2008-3-7T9:5:2" or " 2008-..." is not it.
  static const char kForm[] = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != sizeof kForm - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  auto number = [&](size_t at, size_t length) {
    WORD value = 0;
    for (size_t i = at; i < at + length; ++i) value = static_cast<WORD>(value * 10 + (text[i] - '0'));
    return value;
  };
  SYSTEMTIME t{};
  t.wYear = number(0, 4);
  t.wMonth = number(5, 2);
  t.wDay = number(8, 2);
  t.wHour = number(11, 2);
  t.wMinute = number(14, 2);
  t.wSecond = number(17, 2);
  long long ms;
  if (!ToMilliseconds(t, &ms)) return false;
  FromMilliseconds(ms, time);
  return true;
}

void DeviceClock::Get(SYSTEMTIME* time) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const long long unixMs = HostUtcMs() + offsetMs_;
  FromMilliseconds(unixMs - kEpoch1601Days * kDayMs, time);
}

bool DeviceClock::Set(const SYSTEMTIME& time) {
  long long ms;
  if (!ToMilliseconds(time, &ms)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  offsetMs_ = ms + kEpoch1601Days * kDayMs - HostUtcMs();
  return true;
}

}  // namespace cehost
