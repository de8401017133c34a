// The window's control updates: another thread's kept in order for the
// window thread, which is told once per batch; one on the window thread made
// at once, after those asked for before it; a long text cut inside its room;
// a full queue dropping what does not fit.
#include <ControlUpdates.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class RecordingWindow : public ControlUpdates::Window {
 public:
  void MakeUpdate(ControlUpdates::Kind kind, int id, BOOL flag, LPCWSTR text) override {
    const std::u16string wide = text ? text : u"";
    made.push_back(std::to_string(kind) + " " + std::to_string(id) + " " + std::to_string(flag) + " " +
                   std::string(wide.begin(), wide.end()));  // the tests' texts are ASCII
    lastText = wide;
  }
  void TellUpdatesWait() override { ++told; }

  std::vector<std::string> made;
  std::u16string lastText;
  int told = 0;
};

// Runs the calls on a thread other than the window's.
template <typename Calls>
void OnAnotherThread(Calls calls) {
  std::thread other(calls);
  other.join();
}

TEST(ControlUpdatesTest, AnotherThreadsUpdatesWaitForTheWindowThreadInOrderWithOneNoticeABatch) {
  RecordingWindow window;
  ControlUpdates updates(window, GetCurrentThreadId());
  OnAnotherThread([&] {
    updates.Make(ControlUpdates::SET_TEXT, 1015, FALSE, u"S 33.4494000");
    updates.Make(ControlUpdates::SHOW, 1008, TRUE, NULL);
  });
  EXPECT_TRUE(window.made.empty()) << "nothing is made on another thread";
  EXPECT_EQ(1, window.told);
  updates.MakeWaiting();
  EXPECT_EQ((std::vector<std::string>{"0 1015 0 S 33.4494000", "2 1008 1 "}), window.made);
  OnAnotherThread([&] { updates.Make(ControlUpdates::REDRAW_STATUS_BOX, 1020, FALSE, NULL); });
  EXPECT_EQ(2, window.told) << "a batch after the queue emptied tells the window again";
}

// Stop on the window thread shows the steady lamp after a record of the
// receive thread blinked it: the lamp must end steady.
TEST(ControlUpdatesTest, AnUpdateOnTheWindowThreadComesAfterThoseAskedForBeforeIt) {
  RecordingWindow window;
  ControlUpdates updates(window, GetCurrentThreadId());
  OnAnotherThread([&] { updates.Make(ControlUpdates::SHOW, 1008, TRUE, NULL); });
  updates.Make(ControlUpdates::SHOW, 1008, FALSE, NULL);
  updates.MakeWaiting();  // the notice the window thread takes afterwards
  EXPECT_EQ((std::vector<std::string>{"2 1008 1 ", "2 1008 0 "}), window.made);
}

TEST(ControlUpdatesTest, ALongTextIsCutInsideItsRoomAndAFullQueueDrops) {
  RecordingWindow window;
  ControlUpdates updates(window, GetCurrentThreadId());
  const std::u16string longText(1000, u'9');
  OnAnotherThread([&] { updates.Make(ControlUpdates::SET_TEXT, 1015, FALSE, longText.c_str()); });
  updates.MakeWaiting();
  EXPECT_EQ(longText.substr(0, ControlUpdates::TEXT_CHARS - 1), window.lastText);

  window.made.clear();
  OnAnotherThread([&] {
    for (int i = 0; i <= ControlUpdates::CAPACITY; ++i) updates.Make(ControlUpdates::SHOW, 2000 + i, TRUE, NULL);
  });
  updates.MakeWaiting();
  ASSERT_EQ(static_cast<size_t>(ControlUpdates::CAPACITY), window.made.size());
  EXPECT_EQ("2 2000 1 ", window.made.front());
  EXPECT_EQ("2 " + std::to_string(2000 + ControlUpdates::CAPACITY - 1) + " 1 ", window.made.back())
      << "the one that did not fit never comes";
}

}  // namespace
