// The library against a real `zenvor-driver --simulate` over the real socket, with the
// demo profile running as the agent runs it: a press of a reprogrammed button becomes the
// profile's key, and the daemon's rewritten report no longer carries the button.
#include <gtest/gtest.h>

#include <algorithm>

#include "testing/EngineHarness.h"
#include "testing/LiveDemoMouse.h"

namespace zv::device {
namespace {

// The recording's key lines ("KEY_PAGEDOWN 1").
testing::Lines keys(const output::RecordingOutput& output) {
  testing::Lines lines;
  for (const auto& event : output.events()) {
    if (std::string text = testing::line(event); !text.empty()) lines.push_back(text);
  }
  return lines;
}

bool contains(const testing::Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(DaemonIntegration, AReprogrammedButtonGivesTheProfilesKeyAndLeavesTheDesktopsReport) {
  testing::LiveDemoMouse mouse(ZV_DRIVER_EXECUTABLE);
  std::string why;
  ASSERT_TRUE(mouse.connect(&why)) << why;

  // Button 4 (bit 3 of the first byte) is Page Down in the demo profile.
  mouse.daemon.send("report 08 00 00 00 00 00 00");
  EXPECT_TRUE(mouse.daemon.waitForLine("report 08 00 00 00 00 00 00 -> 00 00 00 00 00 00 00"))
      << mouse.daemon.output();
  ASSERT_TRUE(mouse.runUntil([&] { return contains(keys(*mouse.output), "KEY_PAGEDOWN 1"); }))
      << ::testing::PrintToString(keys(*mouse.output));
  mouse.daemon.send("report 00 00 00 00 00 00 00");
  ASSERT_TRUE(mouse.runUntil([&] { return contains(keys(*mouse.output), "KEY_PAGEDOWN 0"); }))
      << ::testing::PrintToString(keys(*mouse.output));
  EXPECT_EQ(mouse.controller->elementMap().at(0x90004), 0);

  // The left button is not reprogrammed: it reaches the desktop and the profile hears nothing.
  const std::size_t before = mouse.output->size();
  mouse.daemon.send("report 01 00 00 00 00 00 00");
  EXPECT_TRUE(mouse.daemon.waitForLine("report 01 00 00 00 00 00 00 -> 01 00 00 00 00 00 00"));
  EXPECT_FALSE(mouse.controller->elementMap().contains(0x90001));
  EXPECT_EQ(mouse.output->size(), before);
}

}  // namespace
}  // namespace zv::device
