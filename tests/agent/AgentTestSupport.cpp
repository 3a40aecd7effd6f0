#include "AgentTestSupport.h"

#include <linux/input-event-codes.h>

#include <algorithm>

#include "device/DriverSets.h"
#include "device/ProfileStoreFactory.h"
#include "device/ZVDeviceManager.h"
#include "engine/CommandThreads.h"
#include "engine/ZVProfile.h"
#include "platform/RunLoop.h"
#include "profile/ProfileFile.h"
#include "store/ProfileFilesStoreFactory.h"
#include "store/ZVPreferencesFile.h"
#include "support/NotificationCenter.h"
#include "testing/EngineHarness.h"

namespace zv::agent::testing {

using namespace std::chrono_literals;

namespace {

class FakeItem : public StatusItem {
 public:
  explicit FakeItem(FakeStatusBar& bar) : bar_(bar) { ++bar_.itemsShown; }
  ~FakeItem() override { --bar_.itemsShown; }
  void setToolTip(const std::string& toolTip) override { bar_.toolTip = toolTip; }
  void setView(ZVStatusView& view) override { bar_.view = &view; }

 private:
  FakeStatusBar& bar_;
};

const char kAgentInfo[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleExecutable</key><string>perch</string>
  <key>Alias</key><string>DemoMouse</string>
  <key>Brand</key><string>Zenvor</string>
  <key>EditorApplication</key><string>Zenvor Editor</string>
</dict>
</plist>
)";

}  // namespace

std::unique_ptr<StatusItem> FakeStatusBar::statusItemWithLength() {
  ++itemsMade;
  return std::make_unique<FakeItem>(*this);
}

void FakeStatusBar::popUpMenu(Menu& menu, ZVStatusView&) {
  ++popUps;
  menu.update();
}

void TraceRecorder::elementEvent(std::uint32_t element, std::int32_t value, bool routed) {
  char text[64];
  std::snprintf(text, sizeof text, "event 0x%x %d%s", element, value, routed ? "" : " dropped");
  lines.emplace_back(text);
}

void TraceRecorder::shiftStateChanged(const std::string& from, const std::string& to) {
  lines.push_back("shift " + from + " -> " + to);
}

void TraceRecorder::currentProfileChanged(const std::optional<std::string>& name) {
  lines.push_back("profile " + name.value_or("none"));
}

void TraceRecorder::waitingForDevice(const std::string& alias) {
  lines.push_back("waiting " + alias);
}

AgentTest::AgentTest()
    : log(static_cast<int>(log::ZVLogLevel::Critical)),
      wasExecutive_(device::DeviceController::isExecutive()) {
  store::ZVPreferencesFile::forgetProcessInstanceForTesting();
  engine::ZVProfile::setSharedPrototype(zv::testing::bundledPrototype());
  device::setProfileStoreFactory(std::make_shared<store::ProfileFilesStoreFactory>());
  output::setSharedOutput(output);
  // Keys come from command threads: each one wakes the main loop, where tests wait.
  output->setListener([](const output::RecordedEvent&) { platform::RunLoop::main().post([] {}); });
  tree.write("Applications/Perch.app/Contents/Info.plist", kAgentInfo);
  tree.write("Applications/Perch.app/Contents/Resources/MenuIcon.png", "");
  tree.write("Applications/Perch.app/Contents/Resources/en.lproj/Localizable.strings",
             "\"ZenvorDefault\" = \"Zenvor Standard\";\n\"Clear\" = \"Turn Off\";\n");
  fs::create_directories(tree.path("share/MainstreamDevices"));
}

AgentTest::~AgentTest() {
  if (agent) agent->applicationWillTerminate();
  agent.reset();
  engine::CommandThreads::shared().cancelAndJoinAll();
  device::resetDriverSets();
  device::ZVDeviceManager::sharedDeviceManager().reset();
  device::setProfileStoreFactory(nullptr);
  engine::ZVProfile::setSharedPrototype(nullptr);
  output::setSharedOutput(nullptr);
  store::ZVPreferencesFile::forgetProcessInstanceForTesting();
  device::DeviceController::setIsExecutive(wasExecutive_);
}

void AgentTest::installDemoBundle() {
  fs::create_symlink(zv::testing::demoBundlePath(),
                     tree.path("share/MainstreamDevices/DemoMouse.bundle"));
}

void AgentTest::launch(std::shared_ptr<StatusBar> bar) {
  AgentServices services;
  services.bundle = support::Bundle(tree.path("Applications/Perch.app"));
  services.statusBar = bar ? std::move(bar) : statusBar;
  services.launchApplication = [this](const fs::path& application, const std::vector<std::string>&,
                                      std::string* error) {
    launched.push_back(application);
    if (!launchSucceeds && error) *error = "refused";
    return launchSucceeds;
  };
  services.frontmostApplication = [this] { return frontmost; };
  services.deviceFolders = {tree.path("share/MainstreamDevices")};
  services.bundleSettle = 20ms;
  services.trace = trace;
  agent = menuAppDelegate::create(std::move(services));
  agent->applicationDidFinishLaunching();
}

void AgentTest::launchAndWaitForProfile(std::shared_ptr<StatusBar> bar) {
  launch(std::move(bar));
  ASSERT_TRUE(agent->started());
  ASSERT_TRUE(waitFor([&] { return store() && store()->currentProfile(); }))
      << "the store never loaded a current profile";
}

bool AgentTest::waitFor(const std::function<bool()>& condition) {
  return platform::RunLoop::main().runUntil(condition, 10s);
}

void postHideStatusMenu(std::optional<int> hide) {
  auto info = json::makeDictionary();
  if (hide) info->set("HideStatusMenu", json::Value(*hide));
  support::NotificationCenter::defaultCenter().post(store::ZVPreferencesUpdatedNotification,
                                                    nullptr, json::Value(info));
}

void writePageUpProfile(const fs::path& path) {
  auto text =
      profile::readProfileText(zv::testing::demoBundlePath() / "Contents/Resources/Default.pr0");
  ASSERT_TRUE(text);
  std::string body = *text;
  for (std::size_t at; (at = body.find("usage=0x4e")) != std::string::npos;) {
    body.replace(at, 10, "usage=0x4b");
  }
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(profile::writeProfileText(path, body));
}

fs::path AgentTest::addProfile(const std::string& name) {
  const fs::path path =
      store::ZVProfileStore::profileFolderForDevice(*agent->device()) / (name + ".pr0");
  writePageUpProfile(path);
  return path;
}

std::vector<std::string> AgentTest::showMenu() {
  agent->showMenu();
  std::vector<std::string> titles;
  for (const MenuItem& item : agent->currentProfileMenu().items()) {
    titles.push_back(item.isSeparatorItem() ? "-" : (item.on ? "*" : "") + item.title);
  }
  return titles;
}

std::size_t AgentTest::keys() const {
  std::size_t count = 0;
  for (const auto& event : output->events()) count += event.type == EV_KEY;
  return count;
}

std::size_t AgentTest::logged(const std::string& fragment) const {
  const auto messages = log.messages();
  return static_cast<std::size_t>(
      std::count_if(messages.begin(), messages.end(),
                    [&](const auto& m) { return m.find(fragment) != std::string::npos; }));
}

}  // namespace zv::agent::testing
