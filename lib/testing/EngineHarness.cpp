#include "testing/EngineHarness.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "device/DeviceDescriptions.h"
#include "engine/CommandThreads.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"

namespace zv::testing {

std::filesystem::path sourceDataPath() {
  return std::filesystem::path(ZV_SOURCE_DIR) / "data";
}

json::DictionaryPtr bundledPrototype() {
  std::string error;
  json::DictionaryPtr prototype =
      profile::readPrototypeFile(sourceDataPath() / "tevnodes.prototype", &error);
  EXPECT_TRUE(prototype) << error;
  return prototype;
}

std::filesystem::path demoBundlePath() {
  return sourceDataPath() / "Devices" / "DemoMouse.bundle";
}

std::shared_ptr<device::DeviceController> makeDemoDevice() {
  const support::Bundle bundle(demoBundlePath());
  auto descriptions = device::deviceDescriptions(bundle);
  EXPECT_EQ(descriptions.size(), 1u);
  if (descriptions.empty()) return nullptr;
  return std::make_shared<device::DeviceController>(descriptions.front(), bundle.bundlePath());
}

std::string line(const output::RecordedEvent& event) {
  if (event.type == EV_REL && (event.code == REL_WHEEL_HI_RES || event.code == REL_HWHEEL_HI_RES)) {
    return {};
  }
  return output::codeName(event.type, event.code) + " " + std::to_string(event.value);
}

EngineHarness::EngineHarness(bool executive)
    : clock(std::make_shared<engine::ManualClock>()),
      driver(std::make_shared<device::RecordingDriver>()),
      workspace(std::make_shared<output::RecordingWorkspace>()),
      device(makeDemoDevice()),
      start_(clock->now()),
      wasExecutive_(device::DeviceController::isExecutive()),
      previousWorkspace_(output::Workspace::shared()) {
  auto manual = clock;
  output = std::make_shared<output::RecordingOutput>(
      [manual] { return manual->now().time_since_epoch(); });
  output::setSharedOutput(output);
  output::Workspace::setShared(workspace);
  device::DeviceController::setIsExecutive(executive);
  if (device) {
    device->setDriverInterface(driver);
    store = std::make_shared<device::SimpleProfileStore>(
        device->bundle().resourcePath() / "Seed.pr0", sourceDataPath() / "profiles");
    device->setProfileStore(store);
  }
}

EngineHarness::~EngineHarness() {
  if (profile) profile->deactivate();
  engine::CommandThreads::shared().cancelAndJoinAll();
  if (store) store->setCurrentProfile(nullptr);
  profile.reset();
  output::setSharedOutput(nullptr);
  output::Workspace::setShared(previousWorkspace_);
  device::DeviceController::setIsExecutive(wasExecutive_);
}

std::shared_ptr<engine::ZVProfile> EngineHarness::load(std::string_view nodeText) {
  json::DictionaryPtr prototype = bundledPrototype();
  profile::NodeTextError error;
  auto json =
      profile::tevnodes2json(profile::replaceNewlines(nodeText), json::Value(prototype), &error);
  EXPECT_TRUE(json && json->isDictionary()) << error.describe();
  if (!json || !json->isDictionary()) return nullptr;
  if (!profile) {
    profile = engine::ZVProfile::create();
    profile->setClock(clock);
  }
  EXPECT_TRUE(profile->loadFromJSON(json->asDictionary(), prototype, device));
  profile->setPath(store->pathForProfile(profile->string("profile")));
  profile->setActive();
  return profile;
}

std::shared_ptr<engine::ZVProfile> EngineHarness::loadDemo(const std::string& fileName) {
  auto text = profile::readProfileText(device->bundle().resourcePath() / fileName);
  EXPECT_TRUE(text) << fileName;
  return text ? load(*text) : nullptr;
}

void EngineHarness::event(std::uint32_t element, std::int32_t value) {
  profile->onElementEvent(element, value, 0);
}

bool EngineHarness::settle(std::size_t count) {
  return clock->waitForWaiters(count);
}

void EngineHarness::advance(std::chrono::milliseconds time) {
  clock->advance(time);
}

bool EngineHarness::runTo(long long ms) {
  return engine::advanceClockTo(*clock, start_ + std::chrono::milliseconds(ms));
}

bool EngineHarness::idle() {
  return engine::CommandThreads::shared().waitIdle();
}

Lines EngineHarness::lines() const {
  Lines result;
  for (const output::RecordedEvent& event : output->events()) {
    std::string text = line(event);
    if (!text.empty()) result.push_back(std::move(text));
  }
  return result;
}

Lines EngineHarness::take() {
  Lines result = lines();
  output->clear();
  return result;
}

Lines EngineHarness::timedLines() const {
  Lines result;
  for (const output::RecordedEvent& event : output->events()) {
    std::string text = line(event);
    if (text.empty()) continue;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        event.time - start_.time_since_epoch());
    result.push_back(std::to_string(ms.count()) + " " + text);
  }
  return result;
}

long long EngineHarness::now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock->now() - start_).count();
}

}  // namespace zv::testing
