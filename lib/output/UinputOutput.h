// The output backend the desktop sees: a virtual keyboard and a virtual pointer created
// through /dev/uinput. Both are created together at the first post (or at prepare()), once
// for the life of the object; every request is written under one lock, so the events of
// two threads never interleave within a report.
//
// When /dev/uinput cannot be used the backend says so once, with the fix, and from then on
// drops every request: a missing permission must not take the engine down.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "log/Log.h"
#include "output/OutputDevice.h"

namespace zv::output {

struct VirtualDeviceSetup {
  std::string name;
  std::uint16_t bustype = 0;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint16_t version = 0;
  std::vector<RawEvent> codes;  // (type, code) pairs the device declares
};

VirtualDeviceSetup virtualKeyboardSetup();
VirtualDeviceSetup virtualPointerSetup();
// Input devices with these names are ours: taps leave them alone.
bool isOwnVirtualDevice(const std::string& name);

// One created uinput device.
class UinputDevice {
 public:
  virtual ~UinputDevice() = default;
  // Answers 0, or a negative errno.
  virtual int write(const RawEvent& event) = 0;
  // The device's node (/dev/input/eventN) when known.
  virtual std::string devnode() const { return {}; }
};

// Creates uinput devices; the real one opens /dev/uinput through libevdev.
class UinputFactory {
 public:
  virtual ~UinputFactory() = default;
  // The device, or nullptr with `*error` set to a positive errno.
  virtual std::unique_ptr<UinputDevice> create(const VirtualDeviceSetup& setup, int* error) = 0;
};

std::shared_ptr<UinputFactory> libevdevUinputFactory();

class UinputOutput : public OutputDevice {
 public:
  struct Options {
    std::shared_ptr<UinputFactory> factory;  // default: libevdevUinputFactory()
    // How long the first creation waits before the first event goes out, so that the
    // desktop has opened the new devices and does not miss it.
    std::chrono::milliseconds settle{150};
  };

  UinputOutput();
  explicit UinputOutput(Options options);
  ~UinputOutput() override;

  void prepare() override;
  // Creates the devices if that was not tried yet; false when they cannot exist.
  bool available();
  std::string keyboardNode() const;
  std::string pointerNode() const;

 protected:
  void emit(VirtualDevice device, std::span<const RawEvent> events, const EventInfo& info) override;

 private:
  enum class State { untried, ready, failed };
  bool ensureDevices();  // with mutex_ held

  Options options_;
  mutable std::mutex mutex_;
  State state_ = State::untried;
  log::LogOnce writeFailure_;
  std::unique_ptr<UinputDevice> keyboard_;
  std::unique_ptr<UinputDevice> pointer_;
};

}  // namespace zv::output
