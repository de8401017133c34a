// The receive thread's control updates, queued for the window thread: kept
// in order, the window thread told once per batch, a long text cut inside
// its room, and a full queue dropping what does not fit.
#include <ControlUpdates.h>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ControlUpdatesTest, UpdatesComeOutInOrderAndTheFirstOfABatchTellsTheWindow) {
  ControlUpdates updates;
  ASSERT_TRUE(updates.Ready());
  BOOL first = FALSE;
  ASSERT_TRUE(updates.Push(ControlUpdates::SET_TEXT, 1015, FALSE, u"N 35.6581000", &first));
  EXPECT_TRUE(first);
  ASSERT_TRUE(updates.Push(ControlUpdates::SHOW, 1008, TRUE, NULL, &first));
  EXPECT_FALSE(first) << "one message for the batch";
  ControlUpdates::Update update;
  ASSERT_TRUE(updates.Pop(&update));
  EXPECT_EQ(ControlUpdates::SET_TEXT, update.kind);
  EXPECT_EQ(1015, update.id);
  EXPECT_EQ(std::u16string(u"N 35.6581000"), update.text);
  ASSERT_TRUE(updates.Pop(&update));
  EXPECT_EQ(ControlUpdates::SHOW, update.kind);
  EXPECT_EQ(TRUE, update.flag);
  EXPECT_EQ(std::u16string(), update.text);
  EXPECT_FALSE(updates.Pop(&update));
  ASSERT_TRUE(updates.Push(ControlUpdates::REDRAW_STATUS_BOX, 1020, FALSE, NULL, &first));
  EXPECT_TRUE(first) << "a batch after the queue emptied tells the window again";
}

TEST(ControlUpdatesTest, ALongTextIsCutInsideItsRoomAndAFullQueueDrops) {
  ControlUpdates updates;
  BOOL first = FALSE;
  const std::u16string longText(1000, u'9');
  ASSERT_TRUE(updates.Push(ControlUpdates::SET_TEXT, 1015, FALSE, longText.c_str(), &first));
  ControlUpdates::Update update;
  ASSERT_TRUE(updates.Pop(&update));
  EXPECT_EQ(longText.substr(0, ControlUpdates::TEXT_CHARS - 1), update.text);

  for (int i = 0; i < ControlUpdates::CAPACITY; ++i) {
    EXPECT_TRUE(updates.Push(ControlUpdates::SHOW, 2000 + i, TRUE, NULL, &first));
  }
  EXPECT_FALSE(updates.Push(ControlUpdates::SHOW, 9999, TRUE, NULL, &first));
  for (int i = 0; i < ControlUpdates::CAPACITY; ++i) {
    ASSERT_TRUE(updates.Pop(&update));
    EXPECT_EQ(2000 + i, update.id);
  }
  EXPECT_FALSE(updates.Pop(&update)) << "the dropped update never comes";
}

}  // namespace
