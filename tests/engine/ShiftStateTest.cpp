// Shift states: the routing table (fallbacks, "unprogrammed", blocking triggers, cycles,
// "bands" triggers), selection sets choosing the active state, the driver calls of
// activation in the agent and in the editor, and the shift command.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineTestSupport.h"
#include "device/ProfileStoreFactory.h"
#include "profile/NodeText.h"
#include "testing/LogCapture.h"

namespace zv::engine::test {
namespace {

using namespace std::chrono_literals;

std::string fallbackTo(int n) {
  return "fallback=" + shiftGUID(n);
}

std::vector<std::uint32_t> routed(const ZVShiftState& state) {
  std::vector<std::uint32_t> elements;
  for (const auto& [element, trigger] : state.commandTriggers()) elements.push_back(element);
  return elements;
}

std::shared_ptr<ZVShiftState> stateAt(const engine::ZVProfile& profile, std::size_t index) {
  return std::dynamic_pointer_cast<ZVShiftState>(
      profile.currentController()->children("shifts").at(index));
}

TEST(ShiftState, RoutingThroughFallbacks) {
  testing::EngineHarness h;
  const std::string normal = shift(1, "Normal",
                                   buttonTrigger(button(1), block(keyTap(kA))) +
                                       buttonTrigger(button(2), block(keyTap(kB))) +
                                       buttonTrigger(button(3), block(keyTap(kC))));
  const std::string layer =
      shift(2, "Layer",
            trigger(button(1), "", "role=unprogrammed") +  // left to Normal
                trigger(button(2), band(1)) +              // no command: blocks Normal's
                trigger(button(4), band(1, command(block(keyTap(kD))))) +
                // not a control of the controller, routed by its role
                trigger(0xff0001, band(1, command(block(keyTap(kX)))), "role=bands"),
            fallbackTo(1));
  ASSERT_TRUE(h.load(profileText(normal + layer)));
  auto layerState = stateAt(*h.profile, 1);
  EXPECT_EQ(routed(*layerState),
            (std::vector<std::uint32_t>{button(1), button(3), button(4), 0xff0001}));
  EXPECT_EQ(layerState->commandTriggers().at(button(1)), triggerFor(*h.profile, button(1), 0))
      << "an unprogrammed element takes the fallback's trigger";
  EXPECT_EQ(ZVShiftState::findCommandTriggerForElement(h.profile, layerState, button(2)), nullptr)
      << "a trigger without any command hides the fallback's";
  EXPECT_EQ(ZVShiftState::findCommandTriggerForElement(h.profile, layerState, button(7)), nullptr);

  // Without selection sets the later state is the active one; its events follow the table.
  EXPECT_EQ(h.profile->currentShiftState(), layerState);
  for (std::uint32_t element : {button(1), button(2), 0xff0001u}) {
    h.event(element, 1);
    h.event(element, 0);
    ASSERT_TRUE(h.idle());
  }
  EXPECT_EQ(h.take(), (Lines{"KEY_A 1", "KEY_A 0", "KEY_X 1", "KEY_X 0"}));
}

TEST(ShiftState, FallbackCyclesEndTheSearch) {
  testing::EngineHarness h;
  // 1 → 2 → 3 → 1, and 4 → 4; only state 3 programs button 3.
  ASSERT_TRUE(h.load(profileText(
      shift(1, "One", trigger(button(5), band(1, command(block(keyTap(kA))))), fallbackTo(2)) +
      shift(2, "Two", "", fallbackTo(3)) +
      shift(3, "Three", buttonTrigger(button(3), block(keyTap(kC))), fallbackTo(1)) +
      shift(4, "Self", "", fallbackTo(4)))));
  auto one = stateAt(*h.profile, 0);
  EXPECT_EQ(one->fallback(), stateAt(*h.profile, 1));
  EXPECT_EQ(ZVShiftState::findCommandTriggerForElement(h.profile, one, button(7)), nullptr);
  EXPECT_EQ(ZVShiftState::findCommandTriggerForElement(h.profile, one, button(3)),
            triggerFor(*h.profile, button(3), 2));
  EXPECT_EQ(routed(*one), (std::vector<std::uint32_t>{button(3), button(5)}));
  EXPECT_EQ(routed(*stateAt(*h.profile, 3)), std::vector<std::uint32_t>{});
}

TEST(ShiftState, SelectionSetsChooseTheState) {
  testing::EngineHarness h;
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Base", buttonTrigger(button(1), block(keyTap(kA)))) +
      shift(2, "One", selectionSet({button(14)}) + buttonTrigger(button(1), block(keyTap(kB)))) +
      shift(3, "Two",
            selectionSet({button(14), button(16)}) + buttonTrigger(button(1), block(keyTap(kC)))) +
      shift(4, "AlsoTwo", selectionSet({button(15), button(16)})))));
  auto current = [&] { return h.profile->currentShiftState()->name(); };
  EXPECT_EQ(current(), "Base");
  EXPECT_EQ(stateAt(*h.profile, 2)->triggerButtonCount(), 2u);

  struct Step {
    std::uint32_t element;
    std::int32_t value;
    const char* state;
  };
  const Step steps[] = {
      {button(14), 1, "One"},     {button(16), 1, "Two"},  // the larger combination wins
      {button(15), 1, "Two"},                              // equal counts: the earlier state stays
      {button(14), 0, "AlsoTwo"},                          // the best remaining candidate
      {button(16), 0, "Base"},    {button(15), 0, "Base"},
  };
  for (const Step& step : steps) {
    h.event(step.element, step.value);
    EXPECT_EQ(current(), step.state)
        << "after 0x" << std::hex << step.element << " = " << step.value;
  }

  // The active state handles the element.
  h.event(button(14), 1);
  h.event(button(1), 1);
  h.event(button(1), 0);
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_B 1", "KEY_B 0"}));

  // A later state without a selection set replaces any earlier choice.
  ASSERT_TRUE(h.load(
      profileText(shift(1, "Two", selectionSet({button(14), button(16)})) + shift(2, "Base", ""))));
  h.event(button(16), 1);
  EXPECT_EQ(current(), "Base");
}

TEST(ShiftState, DriverCallsInTheAgent) {
  testing::EngineHarness h(/*executive=*/true);
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal",
            trigger(0x10030, "", "role=mouse-x") + trigger(0x10031, "", "role=mouse-y") +
                trigger(0x10038, "", "role=mouse-x") +  // the later one drives the axis
                buttonTrigger(button(4), block(keyTap(kA)))) +
          shift(2, "Other",
                selectionSet({button(14)}) + buttonTrigger(button(5), block(keyTap(kB)))),
      demoControls("axis"))));
  EXPECT_EQ(h.driver->describedCalls(),
            (Lines{"overrideElement 0x90004 on", "setMouseAxis 0x0 1", "setMouseAxis 0x0 2",
                   "setMouseAxis 0x10030 1", "setMouseAxis 0x10031 2", "setMouseAxis 0x10038 1"}));
  EXPECT_EQ(h.driver->mouseAxis(1), 0x10038u);
  h.driver->clear();

  h.profile->setShiftState(1);
  EXPECT_EQ(h.driver->describedCalls(),
            (Lines{"overrideElement 0x90004 off", "setMouseAxis 0x0 1", "setMouseAxis 0x0 2",
                   "overrideElement 0x90005 on", "setMouseAxis 0x0 1", "setMouseAxis 0x0 2"}));
  EXPECT_EQ(h.driver->overriddenElements(), (std::vector<std::uint32_t>{button(5)}));
  h.profile->deactivate();
  EXPECT_TRUE(h.driver->overriddenElements().empty());
  EXPECT_FALSE(h.profile->currentShiftState());
}

// A mouse's own X and Y report motion, not a position: driving the pointer with them as
// a stick would put it into a corner. The role is refused and said once, whether the
// profile's controls say motion or only the device's own description does (a profile
// written before its device said so); an absolute axis keeps its role.
// The device's own controls, as the demo mouse's seed profile gives them.
class DemoSeedFactory : public device::MemoryProfileStoreFactory {
 public:
  profile::ObjectPtr loadSeedProfile(const std::shared_ptr<device::DeviceController>& device,
                                     device::ProfileStoreInterface&) override {
    const json::DictionaryPtr prototype = testing::bundledPrototype();
    const auto json =
        profile::tevnodes2json(profileText(shift(1, "Seed", "")), json::Value(prototype));
    auto seed = ZVProfile::create();
    if (!json || !seed->loadFromJSON(json->asDictionary(), prototype, device)) return nullptr;
    return seed;
  }
};

TEST(ShiftState, PointerRolesAreRefusedForRelativeMotion) {
  for (const std::string profileXY : {"motion", "axis"}) {
    SCOPED_TRACE(profileXY);
    zv::testing::LogCapture log(static_cast<int>(log::ZVLogLevel::Critical));
    testing::EngineHarness h(/*executive=*/true);
    const auto previous = device::setProfileStoreFactory(std::make_shared<DemoSeedFactory>());
    ASSERT_TRUE(h.load(profileText(
        shift(1, "Normal",
              trigger(0x10030, "", "role=mouse-x") + trigger(0x10032, "", "role=mouse-y")) +
            shift(2, "Other", selectionSet({button(14)})),
        demoControls(profileXY))));
    h.event(button(14), 1);
    h.event(button(14), 0);
    device::setProfileStoreFactory(previous);
    EXPECT_EQ(h.driver->mouseAxis(device::kHorizontalAxis), 0u);
    const Lines calls = h.driver->describedCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "setMouseAxis 0x10032 2"), 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "setMouseAxis 0x10030 1"), 0);
    ASSERT_EQ(log.messages().size(), 1u) << log.joined();
    EXPECT_EQ(log.messages()[0],
              "profile \"Test\", shift state \"Normal\": the role mouse-x is refused for element "
              "0x10030, the mouse's own relative motion, which moves the pointer by itself; "
              "pointer-axis roles are for absolute axes such as a stick. Remove the role in the "
              "editor (the element then works as before)");
  }
}

TEST(ShiftState, TheEditorOverridesButLeavesAxesAndOverridesAlone) {
  testing::EngineHarness h(/*executive=*/false);
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal",
            trigger(0x10030, "", "role=mouse-x") + buttonTrigger(button(4), block(keyTap(kA)))) +
      shift(2, "Other",
            selectionSet({button(14)}) + buttonTrigger(button(5), block(keyTap(kB)))))));
  h.profile->setShiftState(1);
  h.profile->deactivate();
  EXPECT_EQ(h.driver->describedCalls(),
            (Lines{"overrideElement 0x90004 on", "overrideElement 0x90005 on"}));
}

TEST(ShiftState, ShiftCommandRunsWhileTheStateIsActive) {
  testing::EngineHarness h;
  const std::string mute = "[command={00000000-0000-4000-8000-0000000000ff} name=Mute " +
                           block(action(7, 0x7f, 1) + action(7, 0x7f, 0)) + block("", "repeat") +
                           block(action(7, 0x7f, 1) + action(7, 0x7f, 0), "release") + " ]";
  ASSERT_TRUE(h.load(profileText(
      shift(1, "Normal", "") +
      shift(2, "Media",
            selectionSet({button(14)}) + "[shiftcommand={00000000-0000-4000-8000-0000000000ff} ]" +
                trigger(button(8), band(1, mute))))));
  EXPECT_EQ(stateAt(*h.profile, 1)->shiftCommand(), commandFor(*h.profile, button(8), 1));

  h.event(button(14), 1);  // Media: the shift command presses mute
  ASSERT_TRUE(h.settle(1));
  h.advance(500ms);  // and waits, repeating its empty held block
  ASSERT_TRUE(h.settle(1));
  EXPECT_EQ(h.take(), (Lines{"KEY_MUTE 1", "KEY_MUTE 0"}));
  h.event(button(14), 0);  // back to Normal: the release block runs
  ASSERT_TRUE(h.idle());
  EXPECT_EQ(h.take(), (Lines{"KEY_MUTE 1", "KEY_MUTE 0"}));
  EXPECT_EQ(h.profile->currentShiftState()->name(), "Normal");
}

}  // namespace
}  // namespace zv::engine::test
