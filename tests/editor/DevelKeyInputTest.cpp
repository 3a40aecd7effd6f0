#include "DevelKeyInput.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "testing/TemporaryTree.h"

namespace zv::editor {
namespace {

TEST(DevelKeyInputTest, LinesBecomeKeyEventsWithTheirTimes) {
  std::string why;
  auto event = DevelKeyInput::parseLine("KEY_B 1 1500", 7, &why);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, EV_KEY);
  EXPECT_EQ(event->code, KEY_B);
  EXPECT_EQ(event->value, 1);
  EXPECT_EQ(event->timeNs, 1500000000ULL);
  event = DevelKeyInput::parseLine("  42 0", 7, &why);  // KEY_LEFTSHIFT by number, read now
  ASSERT_TRUE(event);
  EXPECT_EQ(event->code, KEY_LEFTSHIFT);
  EXPECT_EQ(event->value, 0);
  EXPECT_EQ(event->timeNs, 7u);

  why.clear();
  EXPECT_FALSE(DevelKeyInput::parseLine("", 0, &why));
  EXPECT_FALSE(DevelKeyInput::parseLine("# a comment", 0, &why));
  EXPECT_EQ(why, "");
  for (const char* garbage : {"KEY_NOPE 1", "KEY_B", "KEY_B 3", "KEY_B 1 soon", "KEY_B 1 2 3",
                              "99999999 1", "KEY_B -1", "\xff\xfe 1"}) {
    why.clear();
    EXPECT_FALSE(DevelKeyInput::parseLine(garbage, 0, &why)) << garbage;
    EXPECT_FALSE(why.empty()) << garbage;
  }
}

TEST(DevelKeyInputTest, KeysWrittenBeforeATapStartsAreDropped) {
  zv::testing::TemporaryTree tree;
  const auto fifo = tree.root() / "keys";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string error;
  auto input = DevelKeyInput::open(fifo, &error);
  ASSERT_TRUE(input) << error;
  EXPECT_TRUE(input->open(output::InputDeviceKind::pointer, &error).empty());
  EXPECT_FALSE(error.empty());

  std::ofstream(fifo) << "KEY_A 1 10\n";
  auto devices = input->open(output::InputDeviceKind::keyboard, nullptr);
  ASSERT_EQ(devices.size(), 1u);
  std::ofstream(fifo) << "KEY_B 1 20\nKEY_B 0 2";
  std::vector<output::InputEvent> events;
  EXPECT_TRUE(devices[0]->readEvents(events));
  ASSERT_EQ(events.size(), 1u);  // the second line is not complete yet
  EXPECT_EQ(events[0].code, KEY_B);
  std::ofstream(fifo) << "5\n";
  events.clear();
  EXPECT_TRUE(devices[0]->readEvents(events));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].value, 0);
  EXPECT_EQ(events[0].timeNs, 25000000ULL);
}

}  // namespace
}  // namespace zv::editor
