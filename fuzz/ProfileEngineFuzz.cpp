// Any bytes as the node text of a profile for the demo mouse, loaded as the engine loads
// it: the routing tables, fallback searches, selection sets and band choices of whatever
// tree the text makes must build and answer without crashing, recursing without end or
// leaking. Activation is exercised with a recording driver; shift commands and command
// runs (threads) are left out.
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceController.h"
#include "device/RecordingDriver.h"
#include "engine/ZVActionCommand.h"
#include "engine/ZVActionCommandTrigger.h"
#include "engine/ZVBand.h"
#include "engine/ZVControl.h"
#include "engine/ZVProfile.h"
#include "engine/ZVShiftState.h"
#include "json/CJSONDeserializer.h"
#include "profile/NodeText.h"
#include "profile/Prototype.h"
#include "protocol/HIDConstants.h"

namespace {

using namespace zv;

json::DictionaryPtr prototype() {
  auto loaded = profile::readPrototypeFile(ZV_SOURCE_DIR "/data/tevnodes.prototype");
  if (!loaded) std::abort();
  return loaded;
}

const std::shared_ptr<device::DeviceController>& demoDevice() {
  static const std::shared_ptr<device::DeviceController> device = [] {
    auto description = json::CJSONDeserializer().deserializeAsDictionary(
        R"({"Alias": "DemoMouse", "Balias": "DemoMouse", "TypeID": 1})");
    auto made = std::make_shared<device::DeviceController>(description, "/nowhere.bundle");
    made->setDriverInterface(std::make_shared<device::RecordingDriver>());
    return made;
  }();
  return device;
}

void exercise(const std::shared_ptr<engine::ZVProfile>& profile, std::string_view bytes) {
  if (!profile->currentController()) return;
  engine::ButtonState buttons;
  std::vector<std::uint32_t> elements = {0, hid::kHatSwitchElement};
  for (const auto& node : profile->currentController()->children("controls")) {
    if (auto control = std::dynamic_pointer_cast<engine::ZVControl>(node)) {
      elements.push_back(control->hidElement());
      control->latched();
    }
  }
  for (std::size_t i = 0; i < elements.size(); ++i) {
    buttons[elements[i]] = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) % 2 : 0;
  }
  const std::int32_t values[] = {std::numeric_limits<std::int32_t>::min(), -1, 0, 1, 15, 255,
                                 std::numeric_limits<std::int32_t>::max()};
  for (const auto& node : profile->currentController()->children("shifts")) {
    auto state = std::dynamic_pointer_cast<engine::ZVShiftState>(node);
    if (!state) continue;
    state->checkSelectionSet(buttons);
    state->triggerButtonCount();
    for (const auto& trigger : state->collatedAssignments()) {
      elements.push_back(trigger->hidElement());
      trigger->shiftState();
      for (std::int32_t value : values) trigger->bandForValue(value);
    }
    for (std::uint32_t element : elements) {
      engine::ZVShiftState::findCommandTriggerForElement(profile, state, element);
    }
    if (!state->shiftCommand()) {
      state->activate();
      state->deactivate();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  device::DeviceController::setIsExecutive(size % 2 == 0);
  const json::DictionaryPtr proto = prototype();
  auto json = profile::tevnodes2json(text, json::Value(proto));
  if (!json || !json->isDictionary()) return 0;
  auto profile = engine::ZVProfile::create();
  profile->loadFromJSON(json->asDictionary(), proto, demoDevice());
  exercise(profile, text);
  // A second load of the same text rebuilds the tree in the same object.
  auto again = profile::tevnodes2json(text, json::Value(proto));
  if (!again || !again->isDictionary()) std::abort();
  profile->loadFromJSON(again->asDictionary(), proto, demoDevice());
  exercise(profile, text);
  return 0;
}
