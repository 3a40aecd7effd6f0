#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "output/RecordingOutput.h"
#include "output/ZVMouse.h"
#include "testing/FakeInputDevices.h"
#include "testing/LogCapture.h"

namespace zv::output {
namespace {

using zv::testing::FakeFdWatcher;
using zv::testing::FakeInputDevice;
using zv::testing::FakeInputDeviceSource;

std::vector<std::string> described(const RecordingOutput& output) {
  std::vector<std::string> out;
  for (const RecordedEvent& event : output.events()) out.push_back(describe(event));
  return out;
}

TEST(Mouse, WheelStepsOfThreeLines) {
  auto output = std::make_shared<RecordingOutput>();
  ZVMouse mouse(output);
  mouse.scrollMouse(3, false);
  mouse.scrollMouse(-3, false);
  mouse.scrollMouse(3, true);   // leftwards
  mouse.scrollMouse(-3, true);  // rightwards
  EXPECT_EQ(described(*output), (std::vector<std::string>{
                                    "pointer EV_REL REL_WHEEL 3",
                                    "pointer EV_REL REL_WHEEL_HI_RES 360",
                                    "pointer EV_REL REL_WHEEL -3",
                                    "pointer EV_REL REL_WHEEL_HI_RES -360",
                                    "pointer EV_REL REL_HWHEEL -3",
                                    "pointer EV_REL REL_HWHEEL_HI_RES -360",
                                    "pointer EV_REL REL_HWHEEL 3",
                                    "pointer EV_REL REL_HWHEEL_HI_RES 360",
                                }));
}

struct Seen {
  std::uint32_t page, usage, value;
  Point position;
  std::uint64_t timeMs;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "(" << s.page << ", " << s.usage << ", " << s.value << " at " << s.position.x << ","
             << s.position.y << ", " << s.timeMs << "ms)";
}

class Target : public ZVMouseTapTarget {
 public:
  explicit Target(bool answer) : answer(answer) {}
  bool onMouse(std::uint32_t page, std::uint32_t usage, std::uint32_t value, Point position,
               std::uint64_t timeMs) override {
    seen.push_back({page, usage, value, position, timeMs});
    return answer;
  }
  bool answer;
  std::vector<Seen> seen;
};

class MouseTapTest : public ::testing::Test {
 protected:
  MouseTapTest() { source->add(InputDeviceKind::pointer, pointer); }

  void click(std::uint16_t button, std::uint64_t timeNs = 0) {
    pointer->pushKey(button, 1, timeNs);
    pointer->pushKey(button, 0, timeNs);
    watcher->fire(pointer->fd());
  }
  void move(std::int32_t dx, std::int32_t dy, std::uint64_t timeNs = 0) {
    pointer->push({{EV_REL, REL_X, dx, timeNs},
                   {EV_REL, REL_Y, dy, timeNs},
                   {EV_SYN, SYN_REPORT, 0, timeNs}});
    watcher->fire(pointer->fd());
  }

  zv::testing::LogCapture messages;
  std::shared_ptr<FakeInputDeviceSource> source = std::make_shared<FakeInputDeviceSource>();
  std::shared_ptr<FakeFdWatcher> watcher = std::make_shared<FakeFdWatcher>();
  std::shared_ptr<FakeInputDevice> pointer = std::make_shared<FakeInputDevice>("mouse");
  std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
  ZVMouse mouse{output, TapServices{source, watcher}};
};

TEST_F(MouseTapTest, SwallowedClicksAreReportedAndNeverReachTheDesktop) {
  auto target = std::make_shared<Target>(false);
  mouse.tap(target);
  EXPECT_TRUE(pointer->grabbed());
  click(BTN_LEFT, 2'000'000'000);
  click(BTN_RIGHT, 3'000'000'000);
  click(BTN_SIDE);
  EXPECT_EQ(target->seen, (std::vector<Seen>{{9, 1, 1, {}, 2000},
                                             {9, 1, 0, {}, 2000},
                                             {9, 2, 1, {}, 3000},
                                             {9, 2, 0, {}, 3000},
                                             {9, 3, 1, {}, 0},
                                             {9, 3, 0, {}, 0}}));
  EXPECT_TRUE(output->events().empty());
}

TEST_F(MouseTapTest, PassedAndUnreportedEventsAreReEmitted) {
  auto target = std::make_shared<Target>(true);
  mouse.tap(target);
  click(BTN_LEFT);
  target->answer = false;
  click(BTN_MIDDLE);  // not reported: passes whatever the target says
  click(BTN_EXTRA);   // button number 4: not reported either
  pointer->push({{EV_REL, REL_WHEEL, 1, 0}, {EV_MSC, MSC_SCAN, 9, 0}, {EV_SYN, SYN_REPORT, 0, 0}});
  watcher->fire(pointer->fd());
  EXPECT_EQ(target->seen.size(), 2u);
  EXPECT_EQ(described(*output), (std::vector<std::string>{
                                    "pointer EV_KEY BTN_LEFT 1",
                                    "pointer EV_KEY BTN_LEFT 0",
                                    "pointer EV_KEY BTN_MIDDLE 1",
                                    "pointer EV_KEY BTN_MIDDLE 0",
                                    "pointer EV_KEY BTN_EXTRA 1",
                                    "pointer EV_KEY BTN_EXTRA 0",
                                    "pointer EV_REL REL_WHEEL 1",
                                }));
}

TEST_F(MouseTapTest, MovesAndDragsFollowTheHeldButton) {
  auto target = std::make_shared<Target>(false);
  mouse.tap(target);
  move(5, -2);
  pointer->pushKey(BTN_RIGHT, 1);
  watcher->fire(pointer->fd());
  move(1, 1);
  move(1, 0);
  pointer->pushKey(BTN_LEFT, 1);  // both held: a left drag
  watcher->fire(pointer->fd());
  move(0, 3);
  pointer->pushKey(BTN_LEFT, 0);
  pointer->pushKey(BTN_RIGHT, 0);
  pointer->pushKey(BTN_MIDDLE, 1);
  watcher->fire(pointer->fd());
  move(2, 2);  // a middle drag is not reported
  EXPECT_EQ(target->seen, (std::vector<Seen>{{9, 0, 0, {5, -2}, 0},
                                             {9, 2, 1, {5, -2}, 0},
                                             {9, 1, 0, {6, -1}, 0},
                                             {9, 1, 0, {7, -1}, 0},
                                             {9, 1, 1, {7, -1}, 0},
                                             {9, 0, 0, {7, 2}, 0},
                                             {9, 1, 0, {7, 2}, 0},
                                             {9, 2, 0, {7, 2}, 0}}));
  EXPECT_EQ(described(*output),
            (std::vector<std::string>{"pointer EV_KEY BTN_MIDDLE 1", "pointer EV_REL REL_X 2",
                                      "pointer EV_REL REL_Y 2"}));
}

TEST_F(MouseTapTest, CancelDisablesTheSameTapAndReleasesPassedButtons) {
  auto target = std::make_shared<Target>(true);
  mouse.tapWithDrag(target);
  EXPECT_TRUE(mouse.withDrag());
  pointer->pushKey(BTN_LEFT, 1);
  watcher->fire(pointer->fd());
  target->answer = false;  // the release is swallowed...
  pointer->pushKey(BTN_LEFT, 0);
  watcher->fire(pointer->fd());
  output->clear();
  mouse.cancelTap();
  // ...so the virtual pointer's button would stay down without this release.
  EXPECT_EQ(described(*output), (std::vector<std::string>{"pointer EV_KEY BTN_LEFT 0"}));
  EXPECT_FALSE(pointer->grabbed());
  EXPECT_FALSE(watcher->watching(pointer->fd()));

  click(BTN_LEFT);  // while off: the desktop gets it directly
  auto second = std::make_shared<Target>(false);
  mouse.tap(second);
  EXPECT_FALSE(mouse.withDrag());
  EXPECT_EQ(source->opens(), 1) << "the same tap is enabled again";
  click(BTN_RIGHT);
  EXPECT_EQ(second->seen.size(), 2u) << "events of the pause are not reported late";
  EXPECT_EQ(second->seen[0].usage, 2u);
}

TEST_F(MouseTapTest, TargetsAndButtonsHeldAtTheStart) {
  pointer->hold(BTN_LEFT);                          // the click that opened the editor's pop-up
  mouse.tap(std::make_shared<ZVMouseTapTarget>());  // the default lets everything through
  EXPECT_FALSE(pointer->grabbed());
  pointer->pushKey(BTN_LEFT, 0);
  watcher->fire(pointer->fd());
  EXPECT_TRUE(pointer->grabbed());
  EXPECT_TRUE(output->events().empty()) << "the release reached the desktop directly";
  click(BTN_LEFT);
  EXPECT_EQ(output->size(), 2u);

  EXPECT_TRUE(mouse.mouseEvent(9, 1, 1, {}, 0));
  mouse.tap(nullptr);
  EXPECT_TRUE(mouse.mouseEvent(9, 1, 1, {}, 0)) << "no target lets everything through";
}

TEST_F(MouseTapTest, NoPointerMeansNoTapAndOneMessage) {
  FakeInputDeviceSource empty;
  auto none = std::shared_ptr<FakeInputDeviceSource>(&empty, [](auto*) {});
  ZVMouse lonely(output, TapServices{none, watcher});
  lonely.tap(std::make_shared<Target>(false));
  lonely.tap(std::make_shared<Target>(false));
  EXPECT_FALSE(lonely.tapping());
  EXPECT_EQ(messages.joined(), "the mouse tap follows no clicks: no device in the fake\n");
}

}  // namespace
}  // namespace zv::output
