// The relay's reads filling the tap buffer, the tap's reads draining it and
// opens and closes of the tap, all at once: every byte the tap delivers was
// read through the relay, in order, and none twice.
#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "SplitterFixture.h"

namespace cetest {
namespace {

constexpr unsigned kValues = 20000;
constexpr unsigned kLimit = 65000;  // 16-bit counters, so no value repeats
constexpr unsigned kAfterReopen = 1000;
constexpr unsigned kReopens = 2000;

using SplitterStressTest = SplitterFixture;

// Reads the tap in even counts, as its bytes arrive, into 16-bit counters;
// once more after the relay has finished.
void DrainTap(HANDLE tap, const std::atomic<bool>& relayDone, std::vector<unsigned>* delivered) {
  std::vector<unsigned char> buffer(1198);
  bool last = false;
  while (!last) {
    last = relayDone;
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(tap, nullptr, &status));
    const DWORD want = std::min<DWORD>(status.cbInQue, 1198) & ~1u;
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(tap, buffer.data(), want, &done, nullptr));
    ASSERT_EQ(0u, done % 2);
    for (DWORD i = 0; i < done; i += 2) delivered->push_back(buffer[i] << 8 | buffer[i + 1]);
  }
}

TEST_F(SplitterStressTest, TapDeliversRelayedBytesInOrderAndOnce) {
  Start();
  HANDLE relay = Open(u"COM6:");
  HANDLE tap = Open(u"COM7:");
  ASSERT_NE(INVALID_HANDLE_VALUE, relay);
  ASSERT_NE(INVALID_HANDLE_VALUE, tap);
  COMMTIMEOUTS blocking{0, 0, 0, 0, 0};  // a read waits for its whole count
  ASSERT_TRUE(SetCommTimeouts(relay, &blocking));

  std::atomic<unsigned> relayed{0};
  std::atomic<bool> relayDone{false};
  std::atomic<bool> reopened{false};
  std::promise<void> drained;
  std::thread opener([&, drainedFuture = drained.get_future()] {
    for (unsigned i = 0; i < kReopens; ++i) {
      HANDLE other = CreateFileW(u"COM7:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
    // The last close closed the tap for its reader too: open it again and
    // keep it open until the reader has drained it.
    HANDLE last = CreateFileW(u"COM7:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    reopened = true;
    drainedFuture.wait();
    CloseHandle(last);
  });
  std::thread client([&] {
    // Each read takes exactly one counter, so the tap only ever sees whole
    // counters as long as its reader drains even counts. The client goes on
    // for a while after the tap is open for good, so some values reach it.
    unsigned afterReopen = 0;
    for (unsigned value = 0; value < kLimit; ++value) {
      if (value >= kValues && reopened && ++afterReopen > kAfterReopen) break;
      const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
      Gps().Feed(std::string(bytes, 2));
      char got[2];
      DWORD done = 0;
      if (!ReadFile(relay, got, 2, &done, nullptr) || done != 2 || got[0] != bytes[0] || got[1] != bytes[1]) break;
      relayed = value + 1;
    }
    relayDone = true;
  });

  std::vector<unsigned> delivered;
  DrainTap(tap, relayDone, &delivered);
  drained.set_value();
  client.join();
  opener.join();

  EXPECT_GE(relayed.load(), kValues);
  ASSERT_FALSE(delivered.empty());
  for (size_t i = 1; i < delivered.size(); ++i) {
    ASSERT_LT(delivered[i - 1], delivered[i]) << "at " << i;
  }
  EXPECT_LT(delivered.back(), relayed.load());
  CloseHandle(relay);
  CloseHandle(tap);
}

}  // namespace
}  // namespace cetest
