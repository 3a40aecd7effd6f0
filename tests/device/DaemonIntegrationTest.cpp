// The library against a real `zenvor-driver --simulate` over the real socket, with the
// demo profile running as the agent runs it: a press of a reprogrammed button becomes the
// profile's key, and the daemon's rewritten report no longer carries the button.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

using Input = testing::SimulatedDaemon::Input;

// The mouse's reports as script lines and as the packets hidraw gives.
class DaemonIntegration : public ::testing::TestWithParam<Input> {
 protected:
  DaemonIntegration() : mouse(ZV_DRIVER_EXECUTABLE, "Default.pr0", GetParam()) {}
  void report(std::vector<std::uint8_t> bytes) {
    if (GetParam() == Input::binary) {
      mouse.daemon.sendReport(bytes);
      return;
    }
    std::string line = "report";
    for (std::uint8_t byte : bytes) line += " " + hex(byte);
    mouse.daemon.send(line);
  }
  // The daemon's line for a report that went to uhid; binary input adds when it went.
  bool reported(const std::string& rewrite) {
    const std::string line = mouse.daemon.waitForLineStartingWith(rewrite);
    if (GetParam() == Input::script) return line == rewrite;
    return line.rfind(rewrite + " at ", 0) == 0 &&
           std::strtod(line.c_str() + rewrite.size() + 4, nullptr) > 0;
  }
  static std::string hex(std::uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
  }
  testing::LiveDemoMouse mouse;
};

TEST_P(DaemonIntegration, AReprogrammedButtonGivesTheProfilesKeyAndLeavesTheDesktopsReport) {
  std::string why;
  ASSERT_TRUE(mouse.connect(&why)) << why;

  // Button 4 (bit 3 of the first byte) is Page Down in the demo profile.
  report({0x08, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(reported("report 08 00 00 00 00 00 00 -> 00 00 00 00 00 00 00"))
      << mouse.daemon.output();
  ASSERT_TRUE(mouse.runUntil([&] { return contains(keys(*mouse.output), "KEY_PAGEDOWN 1"); }))
      << ::testing::PrintToString(keys(*mouse.output));
  report({0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(mouse.runUntil([&] { return contains(keys(*mouse.output), "KEY_PAGEDOWN 0"); }))
      << ::testing::PrintToString(keys(*mouse.output));
  EXPECT_EQ(mouse.controller->elementMap().at(0x90004), 0);

  // The left button is not reprogrammed: it reaches the desktop and the profile hears nothing.
  const std::size_t before = mouse.output->size();
  report({0x01, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(reported("report 01 00 00 00 00 00 00 -> 01 00 00 00 00 00 00"));
  EXPECT_FALSE(mouse.controller->elementMap().contains(0x90001));
  EXPECT_EQ(mouse.output->size(), before);

  // Binary input: the feeder going away is the mouse being unplugged, and the daemon ends.
  if (GetParam() == Input::binary) {
    mouse.daemon.closeInput();
    EXPECT_TRUE(mouse.daemon.waitForEnd()) << mouse.daemon.output();
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, DaemonIntegration, ::testing::Values(Input::script, Input::binary),
                         [](const ::testing::TestParamInfo<Input>& info) {
                           return info.param == Input::script ? "script" : "binary";
                         });

}  // namespace
}  // namespace zv::device
