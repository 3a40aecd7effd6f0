// What the key and mouse taps read: the keyboards' and pointers' evdev nodes, opened with
// libevdev, and the event loop that tells when a node has events. Both sit behind small
// interfaces so the taps are tested with fakes (lib/testing) and without devices.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zv::output {

struct InputEvent {
  std::uint16_t type;
  std::uint16_t code;
  std::int32_t value;
  std::uint64_t timeNs;  // CLOCK_MONOTONIC
};

// One opened evdev node.
class InputDevice {
 public:
  virtual ~InputDevice() = default;
  virtual int fd() const = 0;
  virtual std::string name() const = 0;
  // Takes or gives up the exclusive grab: while grabbed, the node's events reach this
  // process only. Answers whether that worked.
  virtual bool grab(bool on) = 0;
  // Whether a key or button of the device is held right now.
  virtual bool anyKeyDown() const = 0;
  // Appends every event that is ready now (never blocks). Answers false when the device
  // is gone (unplugged, read error); it then produces nothing more.
  virtual bool readEvents(std::vector<InputEvent>& out) = 0;
};

enum class InputDeviceKind { keyboard, pointer };

class InputDeviceSource {
 public:
  virtual ~InputDeviceSource() = default;
  // Opens every node of that kind. An empty list comes with `*problem` saying why, in
  // words a user can act on.
  virtual std::vector<std::shared_ptr<InputDevice>> open(InputDeviceKind kind,
                                                         std::string* problem) = 0;
};

// The event loop of the thread that runs a tap. The main run loop implements it; a tap's
// callbacks run on that loop's thread.
class FdWatcher {
 public:
  virtual ~FdWatcher() = default;
  // Calls `readable` on the loop's thread whenever `fd` has data.
  virtual void watch(int fd, std::function<void()> readable) = 0;
  // Stops watching; allowed from inside that fd's own callback (the loop keeps the
  // callback alive until it returns).
  virtual void unwatch(int fd) = 0;
};

struct TapServices {
  std::shared_ptr<InputDeviceSource> devices;
  std::shared_ptr<FdWatcher> watcher;

  // These services, with defaultTapServices() standing in for what is missing.
  TapServices orDefaults() const;
};

// The nodes under `folder` (event*), read through libevdev.
std::shared_ptr<InputDeviceSource> evdevInputDevices(std::string folder = "/dev/input");

// What taps use when they are given nothing: the evdev nodes and the watcher set here.
// Until a process sets a watcher (its main run loop), taps record nothing and say why.
TapServices defaultTapServices();
void setDefaultTapWatcher(std::shared_ptr<FdWatcher> watcher);

// Which kind a node with these capabilities is, if any. Keyboards declare a key of the
// key tables and no relative motion (pointer nodes belong to the mouse tap, so that the
// key tap never swallows pointer motion); pointers declare relative X, Y and the left
// button.
using CapabilityQuery = std::function<bool(std::uint16_t type, std::uint16_t code)>;
bool isDeviceOfKind(InputDeviceKind kind, const CapabilityQuery& has);

}  // namespace zv::output
