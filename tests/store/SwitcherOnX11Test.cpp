// The whole road on a real X server: a window manager (stand-in) activates a window of
// a linked application, the X11 provider hears it, and the switcher makes the linked
// profile current in the store, as it will in the agent.
#include <gtest/gtest.h>
#include <unistd.h>

#include "StoreTestSupport.h"
#include "platform/linux/X11FrontmostApplication.h"
#include "store/ZVProfileSwitcher.h"
#include "testing/X11WindowManagerStandIn.h"
#include "testing/XvfbServer.h"

namespace zv::store::testing {
namespace {

TEST_F(StoreTest, UnderX11AFocusChangeMakesTheLinkedProfileCurrent) {
  std::string why;
  const auto server = zv::testing::XvfbServer::start(&why);
  if (!server) GTEST_SKIP() << why;
  addProfile("Work");
  addProfile("Game");
  open();
  store->setCurrentProfileByName("Work");
  auto opened =
      platform::X11FrontmostApplication::open(platform::RunLoop::main(), server->display());
  ASSERT_TRUE(opened) << opened.failure().message;
  std::shared_ptr<platform::FrontmostApplication> provider = std::move(*opened);
  const auto switcher = ZVProfileSwitcher::create(device, provider);
  // This test program stands for the game, the X server for another application.
  ASSERT_TRUE(switcher->setProfile("Game", fs::read_symlink("/proc/self/exe").string()));

  zv::testing::X11WindowManagerStandIn wm(server->display());
  const auto game = wm.window(::getpid(), "game");
  const auto other = wm.window(server->pid(), "other");
  wm.activate(game);
  ASSERT_TRUE(waitFor([&] { return store->currentProfileName() == "Game"; }));
  wm.activate(other);
  ASSERT_TRUE(waitFor([&] { return store->currentProfileName() == "Work"; }));
  EXPECT_EQ(infoText("currentProfile"), (folder() / "Work.pr0").string());
}

}  // namespace
}  // namespace zv::store::testing
