// A mouse that is not one of the suite's own, adopted, with real processes in a private
// folder tree: `zenvor-driver --simulate` plays a five-button wheel mouse from its own
// report descriptor, `perch --headless --device Mouse-1234-0042` serves it from the
// description made from that descriptor, and a profile of the mouse's own folder turns
// its side button into a key while its motion reaches the desktop untouched.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "AgentProcess.h"
#include "device/AdoptedMice.h"
#include "profile/ProfileFile.h"
#include "replay/DescriptorFile.h"
#include "testing/ChildProcess.h"
#include "testing/EngineHarness.h"
#include "testing/SimulatedDaemon.h"
#include "testing/TemporaryTree.h"

namespace zv::agent::testing {
namespace {

namespace fs = std::filesystem;

// The generic mouse of the descriptor set: five buttons, 16-bit X and Y, wheel and pan,
// no report IDs (byte 0 buttons, then X, Y, wheel, pan).
const std::string kGenericMouse = ZV_SOURCE_DIR "/data/mice/generic-mouse.hid";

TEST(AdoptedMouseChain, ItsSideButtonBecomesTheKeyOfItsProfile) {
  zv::testing::TemporaryTree tree;
  const fs::path bundles = tree.path("share/MainstreamDevices");
  fs::create_directories(bundles);
  for (const char* bundle : {"AnyMouse.bundle", "DemoMouse.bundle"}) {
    fs::create_symlink(zv::testing::demoBundlePath().parent_path() / bundle, bundles / bundle);
  }
  // Adopted: the record its udev rule keeps.
  std::string error;
  const auto descriptor = driver::replay::readDescriptorFile(kGenericMouse, &error);
  ASSERT_TRUE(descriptor) << error;
  tree.write("udev/" + device::adoptionRulePath(0x1234, 0x0042, "").string(),
             device::adoptionRule({0x1234, 0x0042, 3, "Generic Mouse", *descriptor}));
  const fs::path profiles = tree.path("home/.local/share/Kinetra/Mouse-1234-0042");
  fs::create_directories(profiles);
  ASSERT_TRUE(profile::writeProfileText(
      profiles / "Side.pr0",
      "[profile=Side [controller=Mouse-1234-0042 [controls [button=0x90004 name=Back ] "
      "[motion=0x10030 name=X ] [motion=0x10031 name=Y ] ] "
      "[shift={12340042-0000-4000-8000-000000000001} name=Default "
      "[trigger=0x10030 role=mouse-x ] "  // refused: X is the mouse's motion
      "[trigger=0x90004 [band=1 [command={12340042-0000-4000-8000-000000000101} name=B "
      "[actionblock [action page=0x7 usage=0x5 value=0x1 ] [action page=0x7 usage=0x5 ] ] ] ] ] "
      "] ] ]"));
  zv::testing::SimulatedDaemon daemon(
      ZV_DRIVER_EXECUTABLE, "0x0042", zv::testing::SimulatedDaemon::Input::script,
      {"--descriptor-file", kGenericMouse, "--vendor", "0x1234", "--name", "Generic Mouse"});
  ASSERT_TRUE(daemon.ready()) << daemon.output();
  AgentProcess agent(ZV_PERCH_EXECUTABLE, tree.path("perch.log"),
                     {{"KINETRA_SIMULATED_DEVICES", "1"}}, {"--device", "Mouse-1234-0042"});
  ASSERT_TRUE(agent.started());
  const auto connected = agent.waitFor("device Mouse-1234-0042-6 (Generic Mouse) connected");
  ASSERT_TRUE(connected) << agent.text() << tree.read("perch.log");
  // The mouse's own profile, chosen as a user would; its override answers with the
  // button's value once it is in place.
  std::size_t from = agent.size();
  auto use = zv::testing::ChildProcess::start(
      {ZV_KINETRA_EXECUTABLE, "use", "Side", "--device", "Mouse-1234-0042"}, {});
  ASSERT_TRUE(use);
  const auto status = use->wait(AgentProcess::kPatience);
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  const auto side = agent.waitFor("profile \"Side\"", from);
  ASSERT_TRUE(side) << agent.text() << tree.read("perch.log");
  ASSERT_TRUE(agent.waitFor("event 0x90004 0", *side)) << agent.text();

  from = agent.size();
  daemon.send("report 08 05 00 FB FF 00 00");
  EXPECT_TRUE(agent.waitFor("key KEY_B down", from)) << agent.text();
  // The button is the profile's now, the motion still the mouse's own.
  EXPECT_TRUE(daemon.waitForLine("report 08 05 00 FB FF 00 00 -> 00 05 00 FB FF 00 00"))
      << daemon.output();
  daemon.send("report 00 00 00 00 00 00 00");
  EXPECT_TRUE(agent.waitFor("key KEY_B up", from)) << agent.text();
  EXPECT_NE(tree.read("perch.log").find("the role mouse-x is refused for element 0x10030"),
            std::string::npos)
      << tree.read("perch.log");
  ASSERT_EQ(agent.terminate(), 0);
}

}  // namespace
}  // namespace zv::agent::testing
