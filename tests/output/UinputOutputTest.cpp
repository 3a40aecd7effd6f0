#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "output/InputAccess.h"
#include "output/KeyTables.h"
#include "output/RecordingOutput.h"
#include "output/UinputOutput.h"
#include "output/ZVKeyboard.h"
#include "output/ZVMouse.h"
#include "testing/FakeUinput.h"
#include "testing/LogCapture.h"

namespace zv::output {
namespace {

using zv::testing::FakeUinputFactory;

class UinputOutputTest : public ::testing::Test {
 protected:
  std::shared_ptr<UinputOutput> makeOutput() {
    return std::make_shared<UinputOutput>(
        UinputOutput::Options{factory, std::chrono::milliseconds(0)});
  }

  zv::testing::LogCapture messages;
  std::shared_ptr<FakeUinputFactory> factory = std::make_shared<FakeUinputFactory>();
};

bool declares(const VirtualDeviceSetup& setup, std::uint16_t type, std::uint16_t code) {
  return std::find(setup.codes.begin(), setup.codes.end(), RawEvent{type, code, 0}) !=
         setup.codes.end();
}

TEST_F(UinputOutputTest, DevicesAreCreatedOnceAtFirstUseAndDeclareEveryKey) {
  auto output = makeOutput();
  EXPECT_EQ(factory->creates(), 0) << "nothing before the first post";
  output->postKey(KEY_A, 1, 0);
  output->postWheel(1, false);
  output->postKey(KEY_A, 0, 0);
  ASSERT_EQ(factory->creates(), 2);
  const auto setups = factory->setups();
  const VirtualDeviceSetup& keyboard = setups[0];
  const VirtualDeviceSetup& pointer = setups[1];
  EXPECT_EQ(keyboard.name, "Kinetra virtual keyboard");
  EXPECT_EQ(keyboard.bustype, BUS_VIRTUAL);
  for (std::uint16_t key : producibleKeys()) EXPECT_TRUE(declares(keyboard, EV_KEY, key)) << key;
  for (std::uint16_t key :
       {KEY_A, KEY_Z, KEY_F1, KEY_F19, KEY_KP0, KEY_KPENTER, KEY_LEFTSHIFT, KEY_RIGHTMETA, KEY_MUTE,
        KEY_VOLUMEUP, KEY_BRIGHTNESSDOWN, KEY_EJECTCD, KEY_PREVIOUSSONG, KEY_SCALE}) {
    EXPECT_TRUE(declares(keyboard, EV_KEY, key)) << codeName(EV_KEY, key);
  }
  EXPECT_FALSE(declares(keyboard, EV_KEY, BTN_LEFT));
  for (std::uint16_t rel :
       {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES}) {
    EXPECT_TRUE(declares(pointer, EV_REL, rel)) << codeName(EV_REL, rel);
  }
  EXPECT_TRUE(declares(pointer, EV_KEY, BTN_LEFT));
  EXPECT_TRUE(isOwnVirtualDevice(pointer.name));
}

TEST_F(UinputOutputTest, EveryRequestEndsWithSynReport) {
  auto output = makeOutput();
  ZVKeyboard keyboard(output);
  ZVMouse mouse(output);
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(7, 0x04, 1);
  keyboard.setKeyForPage(7, 0x04, 0);
  mouse.scrollMouse(-3, false);
  const RawEvent syn{EV_SYN, SYN_REPORT, 0};
  std::vector<std::pair<std::string, RawEvent>> expected = {
      {"Kinetra virtual keyboard", {EV_KEY, KEY_A, 1}},
      {"Kinetra virtual keyboard", syn},
      {"Kinetra virtual keyboard", {EV_KEY, KEY_A, 2}},
      {"Kinetra virtual keyboard", syn},
      {"Kinetra virtual keyboard", {EV_KEY, KEY_A, 0}},
      {"Kinetra virtual keyboard", syn},
      {"Kinetra virtual pointer", {EV_REL, REL_WHEEL, -3}},
      {"Kinetra virtual pointer", {EV_REL, REL_WHEEL_HI_RES, -360}},
      {"Kinetra virtual pointer", syn},
  };
  const auto writes = factory->writes();
  ASSERT_EQ(writes.size(), expected.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].device, expected[i].first) << "write " << i;
    EXPECT_EQ(writes[i].event, expected[i].second) << "write " << i;
  }
}

TEST_F(UinputOutputTest, NoUinputIsSaidOnceWithTheFixAndOutputIsDropped) {
  factory->failWith(EACCES);
  auto output = makeOutput();
  ZVKeyboard keyboard(output);
  for (int i = 0; i < 50; ++i) keyboard.setKeyForPage(7, 0x04, i % 2);
  EXPECT_FALSE(output->available());
  EXPECT_EQ(factory->creates(), 1) << "no retry at every key";
  ASSERT_EQ(messages.messages().size(), 1u) << messages.joined();
  const std::string said = messages.messages()[0];
  for (const char* part : {"/dev/uinput: Permission denied", "dropped", "input group",
                           "KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\""}) {
    EXPECT_NE(said.find(part), std::string::npos) << part << " in: " << said;
  }

  FakeUinputFactory noModule;
  noModule.failWith(ENOENT);
  UinputOutput missing(
      {std::shared_ptr<FakeUinputFactory>(&noModule, [](auto*) {}), std::chrono::milliseconds(0)});
  missing.prepare();
  EXPECT_NE(messages.messages().back().find("sudo modprobe uinput"), std::string::npos)
      << messages.joined();
}

// The fix said depends on what the machine already has.
struct AdviceCase {
  InputAccessFacts facts;
  const char* says;
  const char* neverSays;
};

class InputAccessAdvice : public ::testing::TestWithParam<AdviceCase> {};

TEST_P(InputAccessAdvice, FitsTheMachine) {
  const std::string advice = inputAccessAdvice(GetParam().facts);
  EXPECT_NE(advice.find(GetParam().says), std::string::npos) << advice;
  EXPECT_EQ(advice.find(GetParam().neverSays), std::string::npos) << advice;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, InputAccessAdvice,
    ::testing::Values(
        AdviceCase{{}, "/etc/udev/rules.d/70-kinetra-local.rules", "70-kinetra.rules"},
        AdviceCase{{"/usr/lib/udev/rules.d/70-zenvor-driver.rules", "input", false, false},
                   "(/usr/lib/udev/rules.d/70-zenvor-driver.rules) gives /dev/uinput to the user "
                   "of the active session at the seat: log in again",
                   "KERNEL=="},
        AdviceCase{{"/usr/lib/udev/rules.d/70-zenvor-driver.rules", "input", false, false},
                   "join the group input (sudo usermod -aG input $USER)",
                   "KERNEL=="},
        AdviceCase{{std::nullopt, "input", true, false},
                   "you are in the group input, which may use /dev/uinput, but this session "
                   "started before you joined it: log in again",
                   "KERNEL=="}));

TEST_F(UinputOutputTest, AFailedWriteIsSaidOnce) {
  factory->failWritesFrom(0, -ENODEV);
  auto output = makeOutput();
  output->postKey(KEY_A, 1, 0);
  output->postKey(KEY_A, 0, 0);
  ASSERT_EQ(messages.messages().size(), 1u) << messages.joined();
  EXPECT_EQ(messages.messages()[0],
            "writing to the virtual keyboard failed: No such device; output is lost until it "
            "works again");
}

TEST_F(UinputOutputTest, ThreadsNeverSplitAReport) {
  auto output = makeOutput();
  constexpr int kThreads = 4;
  constexpr int kPresses = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ZVKeyboard keyboard(output);
      ZVMouse mouse(output);
      for (int i = 0; i < kPresses; ++i) {
        keyboard.setKeyForPage(7, 0x04 + static_cast<std::uint32_t>(t), i % 2 == 0);
        if (i % 10 == 0) mouse.scrollMouse(3, t % 2 == 0);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(factory->creates(), 2);
  const auto writes = factory->writes();
  std::size_t keys = 0;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const RawEvent& event = writes[i].event;
    if (event.type == EV_KEY) {
      ++keys;
      ASSERT_LT(i + 1, writes.size());
      EXPECT_EQ(writes[i + 1].event, (RawEvent{EV_SYN, SYN_REPORT, 0})) << "after write " << i;
      EXPECT_EQ(writes[i + 1].device, writes[i].device);
    }
    if (event.type == EV_REL && (event.code == REL_WHEEL || event.code == REL_HWHEEL)) {
      ASSERT_LT(i + 2, writes.size());
      EXPECT_EQ(writes[i + 1].event.value, event.value * kHighResolutionPerLine);
      EXPECT_EQ(writes[i + 2].event.type, EV_SYN);
    }
  }
  EXPECT_EQ(keys, static_cast<std::size_t>(kThreads * kPresses));
}

TEST(RealUinput, CreatesTheVirtualDevices) {
  if (::access("/dev/uinput", R_OK | W_OK) != 0) {
    GTEST_SKIP() << "no usable /dev/uinput on this machine (" << std::strerror(errno)
                 << "): the real virtual keyboard and pointer cannot be created here";
  }
  zv::testing::LogCapture messages;
  UinputOutput output({nullptr, std::chrono::milliseconds(0)});
  ASSERT_TRUE(output.available()) << messages.joined();
  EXPECT_EQ(output.keyboardNode().rfind("/dev/input/event", 0), 0u) << output.keyboardNode();
  EXPECT_FALSE(output.pointerNode().empty());
  // A key that types nothing visible.
  output.postKey(KEY_F19, 1, 0);
  output.postKey(KEY_F19, 0, 0);
  output.postWheel(0, false);
  EXPECT_TRUE(messages.messages().empty()) << messages.joined();
}

}  // namespace
}  // namespace zv::output
