#include "testing/LiveDemoMouse.h"

#include <cstdio>
#include <vector>

#include "device/DriverSets.h"
#include "device/SimulatedHidManager.h"
#include "device/ZVDeviceManager.h"
#include "engine/CommandThreads.h"
#include "engine/EngineProfileStoreFactory.h"
#include "json/CJSONDeserializer.h"
#include "output/ZVKeyboard.h"
#include "platform/HidManager.h"
#include "platform/RunLoop.h"
#include "store/DeviceSession.h"
#include "testing/EngineHarness.h"

namespace zv::testing {

using namespace std::chrono_literals;

LiveDemoMouse::LiveDemoMouse(const std::filesystem::path& daemonExecutable,
                             const std::string& profileFile, SimulatedDaemon::Input input)
    : daemon(daemonExecutable, "0x1704", input),
      input_(input),
      wasExecutive_(device::DeviceController::isExecutive()) {
  device::resetDriverSets();
  device::DriverInterface::setTiming({0ms, 100ms, 50ms, 100});
  device::installSimulatedHidManager();
  engine::ZVProfile::setSharedPrototype(bundledPrototype());
  previousFactory_ =
      device::setProfileStoreFactory(std::make_shared<engine::EngineProfileStoreFactory>());
  device::DeviceController::setIsExecutive(true);
  output = std::make_shared<output::RecordingOutput>();
  output::setSharedOutput(output);

  std::filesystem::create_directories(tree.path("share/MainstreamDevices"));
  std::filesystem::create_symlink(demoBundlePath(),
                                  tree.path("share/MainstreamDevices/DemoMouse.bundle"));
  auto& manager = device::ZVDeviceManager::sharedDeviceManager();
  const auto controllers = manager.scanBundlesForDevicesMatchingCriteria(
      json::CJSONDeserializer().deserializeAsDictionary(R"({"Alias": "DemoMouse"})"));
  if (controllers.empty()) return;
  controller = controllers.front();
  // The device's element events reach the store's current profile as the agent routes them.
  session_ = std::make_shared<store::DeviceSession>(controller);
  session_->attach();
  controller->createProfileStore();
  profile = engine::ZVProfile::create();
  profile->initFromFile(controller->bundle().resourcePath() / profileFile, controller);
  profile->setActive();
}

LiveDemoMouse::~LiveDemoMouse() {
  if (profile) profile->deactivate();
  engine::CommandThreads::shared().cancelAndJoinAll();
  if (controller && controller->profileStore())
    controller->profileStore()->setCurrentProfile(nullptr);
  profile.reset();
  device::resetDriverSets();
  controller.reset();
  device::ZVDeviceManager::sharedDeviceManager().reset();
  platform::setHidManagerFactory(nullptr);
  device::DriverInterface::setTiming({});
  device::setProfileStoreFactory(previousFactory_);
  engine::ZVProfile::setSharedPrototype(nullptr);
  output::setSharedOutput(nullptr);
  device::DeviceController::setIsExecutive(wasExecutive_);
}

bool LiveDemoMouse::runUntil(const std::function<bool()>& condition) {
  return platform::RunLoop::main().runUntil(condition, 10s);
}

bool LiveDemoMouse::connect(std::string* why) {
  const auto fail = [&](const std::string& reason) {
    if (why) *why = reason + "\n--- daemon output\n" + daemon.output();
    return false;
  };
  if (!daemon.ready()) return fail("the daemon did not start");
  if (!controller || !profile || !profile->loaded()) return fail("the demo profile did not load");
  device::startMatching();
  if (!runUntil([&] { return controller->connected(); })) return fail("never connected");
  // The profile's overrides were re-sent at the connect; the daemon's model shows them.
  const auto driver = controller->driver();
  if (!driver) return fail("no driver interface");
  // Binary input has no script line to ask for the model with. The overrides are
  // synchronous calls of the connect, so the daemon holds them once it is connected.
  if (input_ == SimulatedDaemon::Input::binary) return true;
  // The model lists every element of the simulated mouse; those the profile overrides and
  // the mouse has must be marked.
  daemon.send("model");
  std::vector<std::string> model;
  const bool complete = runUntil([&] {
    const std::string all = daemon.output();
    const std::size_t header = all.rfind("model report 0: ");
    if (header == std::string::npos) return false;
    const std::size_t count = std::stoul(all.substr(header + 16));
    model.clear();
    for (std::size_t at = all.find('\n', header); at != std::string::npos && at + 1 < all.size();
         at = all.find('\n', at + 1)) {
      const std::string line = all.substr(at + 1, all.find('\n', at + 1) - at - 1);
      if (line.rfind("model   ", 0) == 0) model.push_back(line);
    }
    return model.size() >= count;
  });
  if (!complete) return fail("the daemon printed no model");
  for (std::uint32_t element : driver->overrideDictionary()) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "model   0x%X bit", element);
    for (const std::string& line : model) {
      if (line.rfind(prefix, 0) == 0 && line.find("overridden") == std::string::npos) {
        return fail(std::string("the daemon does not have ") + (prefix + 8) + " overridden");
      }
    }
  }
  return true;
}

}  // namespace zv::testing
