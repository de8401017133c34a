// Interpreting lines touches no heap: this binary counts every allocation
// through the global operator new while the interpreter runs.
#include <NmeaInterpreter.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "LoggerTestSupport.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

}  // namespace

// GCC takes this pair for the library's own and warns that free() meets
// memory from new; here both sides are malloc and free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace loggertest {
namespace {

// A window that keeps only counts and the last text, without the heap.
class CountingView : public LoggerView {
 public:
  void SetControlText(int, LPCWSTR text) override {
    ++texts;
    size_t i = 0;
    for (; text[i] && i + 1 < sizeof last / sizeof last[0]; ++i) last[i] = text[i];
    last[i] = TEXT('\0');
  }
  void EnableControl(int, BOOL) override { ++others; }
  void ShowControl(int, BOOL) override { ++others; }
  void RedrawStatusBox() override { ++others; }
  void StartTimer(UINT, UINT) override { ++others; }
  void StopTimer(UINT) override { ++others; }
  void DefaultBeep() override { ++others; }
  void ExclamationBeep() override { ++others; }
  void EnterCompactTile() override { ++others; }
  void ShowErrorBox(LPCWSTR) override { ++others; }

  long texts = 0;
  long others = 0;
  WCHAR last[64] = {};
};

TEST(NoAllocationTest, InterpretingLinesAllocatesNothing) {
  counting = true;
  int* probe = new int(1);
  counting = false;
  delete probe;
  ASSERT_EQ(allocations, 1) << "the counting operator new is not in use";
  allocations = 0;

  ResetProcessWide();
  CountingView view;
  LoggerState state(view);
  NmeaInterpreter interpreter;
  const std::string capture = ReadTestData("drive-tokyo.nmea") +
                              "$GPGGA," + std::string(5000, '9') + "\r\n" +  // an overlong line
                              "$GPGSA,A,3" + std::string(150, ',') + "\r\n";  // too many fields
  std::vector<char> chunk(1200);

  counting = true;
  for (int round = 0; round < 20; ++round) {
    // As the receive loop hands it over: at most 1199 bytes a chunk.
    for (size_t at = 0; at < capture.size(); at += 1199) {
      const size_t n = std::min<size_t>(1199, capture.size() - at);
      std::copy(capture.begin() + at, capture.begin() + at + n, chunk.begin());
      chunk[n] = '\0';
      interpreter.Interpret(state, chunk.data());
    }
  }
  counting = false;

  EXPECT_EQ(allocations, 0);
  EXPECT_GT(view.texts, 20 * 100);  // the lines were really interpreted
  EXPECT_EQ(std::u16string(view.last), u"3D");
  EXPECT_STREQ(state.fix.fixTime, "000523.00");
}

}  // namespace
}  // namespace loggertest
