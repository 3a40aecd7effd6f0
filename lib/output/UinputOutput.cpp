#include "output/UinputOutput.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "log/Log.h"
#include "output/InputAccess.h"

namespace zv::output {
namespace {

using log::ZVLogLevel;

const char* const kKeyboardName = "Kinetra virtual keyboard";
const char* const kPointerName = "Kinetra virtual pointer";

class LibevdevUinputDevice : public UinputDevice {
 public:
  explicit LibevdevUinputDevice(libevdev_uinput* uinput) : uinput_(uinput) {}
  ~LibevdevUinputDevice() override { libevdev_uinput_destroy(uinput_); }
  LibevdevUinputDevice(const LibevdevUinputDevice&) = delete;
  LibevdevUinputDevice& operator=(const LibevdevUinputDevice&) = delete;

  int write(const RawEvent& event) override {
    return libevdev_uinput_write_event(uinput_, event.type, event.code, event.value);
  }
  std::string devnode() const override {
    const char* node = libevdev_uinput_get_devnode(uinput_);
    return node ? node : "";
  }

 private:
  libevdev_uinput* uinput_;
};

class LibevdevUinputFactory : public UinputFactory {
 public:
  std::unique_ptr<UinputDevice> create(const VirtualDeviceSetup& setup, int* error) override {
    libevdev* dev = libevdev_new();
    if (!dev) {
      *error = ENOMEM;
      return nullptr;
    }
    libevdev_set_name(dev, setup.name.c_str());
    libevdev_set_id_bustype(dev, setup.bustype);
    libevdev_set_id_vendor(dev, setup.vendor);
    libevdev_set_id_product(dev, setup.product);
    libevdev_set_id_version(dev, setup.version);
    for (const RawEvent& code : setup.codes) {
      libevdev_enable_event_code(dev, code.type, code.code, nullptr);
    }
    libevdev_uinput* uinput = nullptr;
    const int rc = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput);
    libevdev_free(dev);
    if (rc < 0) {
      *error = -rc;
      return nullptr;
    }
    return std::make_unique<LibevdevUinputDevice>(uinput);
  }
};

std::string creationFailure(int error) {
  std::string text = "cannot create the virtual keyboard and pointer (/dev/uinput: ";
  text += std::strerror(error);
  text += "); keys, media keys and wheel steps from profiles are dropped. ";
  if (error == ENOENT || error == ENODEV) {
    text +=
        "The uinput module is not loaded: run 'sudo modprobe uinput' (and list uinput in "
        "/etc/modules-load.d/ to load it at boot), then ";
  } else {
    text += "To fix this, ";
  }
  return text + inputAccessAdvice() + ".";
}

}  // namespace

VirtualDeviceSetup virtualKeyboardSetup() {
  VirtualDeviceSetup setup{kKeyboardName, BUS_VIRTUAL, 0, 1, 1, {}};
  for (std::uint16_t key : virtualKeyboardKeys()) setup.codes.push_back({EV_KEY, key, 0});
  return setup;
}

VirtualDeviceSetup virtualPointerSetup() {
  // Relative motion and the buttons make the desktop treat the device as a mouse; a
  // device with wheels only would not be taken as a pointer at all.
  return VirtualDeviceSetup{kPointerName, BUS_VIRTUAL, 0, 2, 1, virtualPointerCodes()};
}

bool isOwnVirtualDevice(const std::string& name) {
  return name == kKeyboardName || name == kPointerName;
}

std::shared_ptr<UinputFactory> libevdevUinputFactory() {
  return std::make_shared<LibevdevUinputFactory>();
}

UinputOutput::UinputOutput() : UinputOutput(Options{}) {}

UinputOutput::UinputOutput(Options options) : options_(std::move(options)) {
  if (!options_.factory) options_.factory = libevdevUinputFactory();
}

UinputOutput::~UinputOutput() = default;

void UinputOutput::prepare() {
  available();
}

bool UinputOutput::available() {
  std::lock_guard lock(mutex_);
  return ensureDevices();
}

std::string UinputOutput::keyboardNode() const {
  std::lock_guard lock(mutex_);
  return keyboard_ ? keyboard_->devnode() : "";
}

std::string UinputOutput::pointerNode() const {
  std::lock_guard lock(mutex_);
  return pointer_ ? pointer_->devnode() : "";
}

bool UinputOutput::ensureDevices() {
  if (state_ != State::untried) return state_ == State::ready;
  int error = 0;
  keyboard_ = options_.factory->create(virtualKeyboardSetup(), &error);
  if (keyboard_) pointer_ = options_.factory->create(virtualPointerSetup(), &error);
  if (!keyboard_ || !pointer_) {
    keyboard_.reset();
    pointer_.reset();
    state_ = State::failed;
    ZV_LOG(ZVLogLevel::Critical, nullptr, "%@", creationFailure(error != 0 ? error : EIO));
    return false;
  }
  state_ = State::ready;
  if (options_.settle.count() > 0) std::this_thread::sleep_for(options_.settle);
  return true;
}

void UinputOutput::emit(VirtualDevice device, std::span<const RawEvent> events, const EventInfo&) {
  std::lock_guard lock(mutex_);
  if (!ensureDevices()) return;
  UinputDevice& target = device == VirtualDevice::keyboard ? *keyboard_ : *pointer_;
  for (const RawEvent& event : events) {
    const int rc = target.write(event);
    if (rc < 0) {
      ZV_LOG_ONCE(writeFailure_, ZVLogLevel::Critical, nullptr,
                  "writing to the virtual %@ failed: %@; output is lost until it works again",
                  device == VirtualDevice::keyboard ? "keyboard" : "pointer", std::strerror(-rc));
      // Close the report, so that what was written is not left half-delivered.
      if (event.type != EV_SYN) target.write({EV_SYN, SYN_REPORT, 0});
      return;
    }
  }
}

}  // namespace zv::output
