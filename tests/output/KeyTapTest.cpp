#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"
#include "testing/FakeInputDevices.h"
#include "testing/LogCapture.h"
#include "testing/TemporaryTree.h"

namespace zv::output {
namespace {

using zv::testing::FakeFdWatcher;
using zv::testing::FakeInputDevice;
using zv::testing::FakeInputDeviceSource;

struct Recorded {
  std::uint32_t page, usage, value;
  std::uint64_t timeMs;
  bool operator==(const Recorded&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Recorded& r) {
  return out << "(" << r.page << ", 0x" << std::hex << r.usage << std::dec << ", " << r.value
             << ", " << r.timeMs << "ms)";
}

class KeyTapTest : public ::testing::Test {
 protected:
  KeyTapTest() {
    source->add(InputDeviceKind::keyboard, board);
    source->add(InputDeviceKind::pointer, std::make_shared<FakeInputDevice>("mouse"));
  }

  KeyTapHandler recorder() {
    return
        [this](std::uint32_t page, std::uint32_t usage, std::uint32_t value, std::uint64_t timeMs) {
          recorded.push_back({page, usage, value, timeMs});
        };
  }

  zv::testing::LogCapture messages;
  std::shared_ptr<FakeInputDeviceSource> source = std::make_shared<FakeInputDeviceSource>();
  std::shared_ptr<FakeFdWatcher> watcher = std::make_shared<FakeFdWatcher>();
  std::shared_ptr<FakeInputDevice> board = std::make_shared<FakeInputDevice>("keyboard");
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  ZVKeyboard keyboard{output, TapServices{source, watcher}};
  std::vector<Recorded> recorded;
};

TEST_F(KeyTapTest, RecordsTypedKeysAndKeepsThemFromApplications) {
  keyboard.tap(recorder());
  EXPECT_TRUE(board->grabbed());
  EXPECT_EQ(watcher->watched(), 1u) << "only keyboards are opened";
  board->pushKey(KEY_DOT, 1, 5'000'000'123);
  board->pushKey(KEY_DOT, 0, 5'090'000'000);
  board->pushKey(KEY_RIGHTCTRL, 1, 5'100'000'000);
  board->pushKey(KEY_SLASH, 1, 5'200'000'000);
  board->pushKey(KEY_SLASH, 2, 5'700'000'000);
  ASSERT_TRUE(watcher->fire(board->fd()));
  EXPECT_EQ(recorded,
            (std::vector<Recorded>{
                {7, 0x37, 1, 5000}, {7, 0x37, 0, 5090}, {7, 0x38, 1, 5200}, {7, 0x38, 1, 5700}}));
  EXPECT_TRUE(output->events().empty()) << "a tap posts nothing";

  keyboard.cancelTap();
  EXPECT_FALSE(board->grabbed());
  EXPECT_EQ(watcher->watched(), 0u);
  EXPECT_FALSE(keyboard.tapping());

  // A new tap opens the devices again; a second tap() only retargets.
  std::vector<Recorded> second;
  keyboard.tap(recorder());
  keyboard.tap(
      [&](std::uint32_t page, std::uint32_t usage, std::uint32_t value, std::uint64_t timeMs) {
        second.push_back({page, usage, value, timeMs});
      });
  EXPECT_EQ(source->opens(), 2);
  board->pushKey(KEY_MUTE, 1, 0);
  watcher->fire(board->fd());
  EXPECT_EQ(second, (std::vector<Recorded>{{7, 0x7F, 1, 0}}));
  EXPECT_EQ(recorded.size(), 4u);
  EXPECT_TRUE(messages.messages().empty()) << messages.joined();
}

TEST_F(KeyTapTest, GrabsOnlyOnceEveryKeyIsUp) {
  // Grabbing while a key is down would keep the desktop from seeing its release.
  board->hold(KEY_ENTER);
  keyboard.tap(recorder());
  EXPECT_FALSE(board->grabbed());
  board->pushKey(KEY_ENTER, 0, 1'000'000);
  watcher->fire(board->fd());
  EXPECT_TRUE(board->grabbed());
  EXPECT_EQ(recorded, (std::vector<Recorded>{{7, 0x28, 0, 1}}));
}

TEST_F(KeyTapTest, HandlerMayStopTheTapAndDevicesMayVanish) {
  keyboard.tap(
      [&](std::uint32_t page, std::uint32_t usage, std::uint32_t value, std::uint64_t timeMs) {
        recorded.push_back({page, usage, value, timeMs});
        keyboard.cancelTap();
      });
  board->pushKey(KEY_A, 1);
  board->pushKey(KEY_B, 1);
  watcher->fire(board->fd());
  EXPECT_EQ(recorded.size(), 1u) << "nothing after the handler stopped the tap";
  EXPECT_FALSE(board->grabbed());

  keyboard.tap(recorder());
  board->pushKey(KEY_C, 1);
  board->unplug();
  watcher->fire(board->fd());
  EXPECT_EQ(recorded.back(), (Recorded{7, 0x06, 1, 0})) << "events before the loss count";
  EXPECT_FALSE(watcher->watching(board->fd()));
  keyboard.cancelTap();
}

TEST_F(KeyTapTest, ProblemsAreSaidOnceAndRecordNothing) {
  FakeInputDeviceSource empty;
  empty.setProblem("cannot read the input devices (/dev/input/event3: permission denied)");
  auto none = std::shared_ptr<FakeInputDeviceSource>(&empty, [](auto*) {});
  ZVKeyboard lonely(output, TapServices{none, watcher});
  lonely.tap(recorder());
  lonely.tap(recorder());
  EXPECT_FALSE(lonely.tapping());
  EXPECT_EQ(messages.joined(),
            "the key tap records no keys: cannot read the input devices (/dev/input/event3: "
            "permission denied)\n");

  board->refuseGrab(true);
  keyboard.tap(recorder());
  board->pushKey(KEY_Q, 1);
  watcher->fire(board->fd());
  watcher->fire(board->fd());
  EXPECT_EQ(recorded.size(), 1u) << "an ungrabbed keyboard is still recorded";
  EXPECT_EQ(messages.messages().size(), 2u) << messages.joined();
  EXPECT_NE(messages.messages()[1].find("keyboard"), std::string::npos);
}

TEST(InputDevices, ClassifiesNodesByWhatTheyDeclare) {
  using Caps = std::set<std::pair<std::uint16_t, std::uint16_t>>;
  auto kindsOf = [](const Caps& caps) {
    auto has = [&](std::uint16_t type, std::uint16_t code) {
      return caps.count({type, code}) != 0;
    };
    return std::make_pair(isDeviceOfKind(InputDeviceKind::keyboard, has),
                          isDeviceOfKind(InputDeviceKind::pointer, has));
  };
  const Caps keyboard = {{EV_KEY, KEY_A}, {EV_KEY, KEY_LEFTSHIFT}};
  const Caps media = {{EV_KEY, KEY_VOLUMEUP}, {EV_KEY, KEY_PLAYPAUSE}};
  const Caps mouse = {{EV_REL, REL_X}, {EV_REL, REL_Y}, {EV_KEY, BTN_LEFT}};
  const Caps gamingMouse = {{EV_REL, REL_X}, {EV_REL, REL_Y}, {EV_KEY, BTN_LEFT}, {EV_KEY, KEY_A}};
  const Caps powerButton = {{EV_KEY, KEY_POWER}};
  const Caps touchpadWithoutButton = {{EV_REL, REL_X}, {EV_REL, REL_Y}};
  EXPECT_EQ(kindsOf(keyboard), std::make_pair(true, false));
  EXPECT_EQ(kindsOf(media), std::make_pair(true, false));
  EXPECT_EQ(kindsOf(mouse), std::make_pair(false, true));
  EXPECT_EQ(kindsOf(gamingMouse), std::make_pair(false, true))
      << "the key tap must not swallow a pointer's motion";
  EXPECT_EQ(kindsOf(powerButton), std::make_pair(false, false));
  EXPECT_EQ(kindsOf(touchpadWithoutButton), std::make_pair(false, false));
}

TEST(InputDevices, EvdevSourceExplainsAnEmptyFolder) {
  zv::testing::TemporaryTree tree;
  tree.write("input/event0", "not a device");
  tree.write("input/mouse0", "");
  std::string problem;
  EXPECT_TRUE(evdevInputDevices(tree.path("input").string())
                  ->open(InputDeviceKind::keyboard, &problem)
                  .empty());
  EXPECT_EQ(problem, "no keyboard found under " + tree.path("input").string());
  EXPECT_TRUE(evdevInputDevices(tree.path("missing").string())
                  ->open(InputDeviceKind::pointer, &problem)
                  .empty());
  EXPECT_EQ(problem.rfind("cannot list " + tree.path("missing").string(), 0), 0u) << problem;
}

}  // namespace
}  // namespace zv::output
