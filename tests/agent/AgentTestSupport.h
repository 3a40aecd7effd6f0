// The agent's application delegate in a temporary tree: the demo bundle installed, an
// application folder of the agent's own (its Info.plist and texts), the store of profile
// files, a fake HID system (no mouse unless a test plugs one), a fake focused application,
// a status bar that counts its items and a recording output. Waits run the main loop.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "menuAppDelegate.h"
#include "output/RecordingOutput.h"
#include "store/ZVProfileStore.h"
#include "testing/FakeFrontmostApplication.h"
#include "testing/FakeHidManager.h"
#include "testing/LogCapture.h"
#include "testing/TemporaryTree.h"

namespace zv::agent::testing {

namespace fs = std::filesystem;

// Items shown and menus popped up, as a desktop would see them.
class FakeStatusBar : public StatusBar {
 public:
  std::unique_ptr<StatusItem> statusItemWithLength() override;
  void popUpMenu(Menu& menu, ZVStatusView& view) override;

  int itemsShown = 0;  // items in the bar now
  int itemsMade = 0;   // items ever made
  int popUps = 0;
  std::string toolTip;  // of the last item
  ZVStatusView* view = nullptr;
};

// What the agent reports through its trace.
class TraceRecorder : public AgentTrace {
 public:
  void elementEvent(std::uint32_t element, std::int32_t value, bool routed) override;
  void shiftStateChanged(const std::string& from, const std::string& to) override;
  void currentProfileChanged(const std::optional<std::string>& name) override;
  void waitingForDevice(const std::string& alias) override;
  std::vector<std::string> lines;
};

// "ZVPreferencesUpdated" as the preferences file posts it, with "HideStatusMenu" unless
// nothing.
void postHideStatusMenu(std::optional<int> hide);
// Writes the demo's default profile to `path`, with Page Up (0x4b) where it has Page Down.
void writePageUpProfile(const fs::path& path);

class AgentTest : public ::testing::Test {
 protected:
  AgentTest();
  ~AgentTest() override;

  // Installs the demo bundle where the agent looks for devices.
  void installDemoBundle();
  // Makes the agent and runs its start-up, on `bar` (default: the fake status bar).
  void launch(std::shared_ptr<StatusBar> bar = nullptr);
  // Start-up done and the store's current profile loaded.
  void launchAndWaitForProfile(std::shared_ptr<StatusBar> bar = nullptr);
  bool waitFor(const std::function<bool()>& condition);
  std::shared_ptr<store::ZVProfileStore> store() const { return agent->profileStore(); }
  // The demo's default profile saved under `name`, with Page Up (0x4b) for Page Down.
  fs::path addProfile(const std::string& name);
  // Fills the menu as it does before it shows, and answers its titles ("-" for a
  // separator, "*" before a checked entry).
  std::vector<std::string> showMenu();
  // The number of key events the output has recorded.
  std::size_t keys() const;
  // Log lines holding `fragment`.
  std::size_t logged(const std::string& fragment) const;

  zv::testing::TemporaryTree tree;
  zv::testing::LogCapture log;
  zv::testing::FakeHidSystem hid;
  std::shared_ptr<FakeStatusBar> statusBar = std::make_shared<FakeStatusBar>();
  std::shared_ptr<zv::testing::FakeFrontmostApplication> frontmost =
      std::make_shared<zv::testing::FakeFrontmostApplication>();
  std::shared_ptr<TraceRecorder> trace = std::make_shared<TraceRecorder>();
  std::shared_ptr<output::RecordingOutput> output = std::make_shared<output::RecordingOutput>();
  std::vector<fs::path> launched;
  bool launchSucceeds = true;
  std::shared_ptr<menuAppDelegate> agent;

 private:
  bool wasExecutive_;
};

}  // namespace zv::agent::testing
