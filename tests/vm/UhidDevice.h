// A HID device played from user space through /dev/uhid: to the kernel it is a physical
// device whose descriptor and input reports we choose. The guest uses it as the mouse a
// user would plug in.
//
// Not thread-safe: one thread creates, feeds and destroys a device.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zv::vmtest {

class UhidDevice {
 public:
  struct Setup {
    std::string name;
    std::string phys;
    std::string uniq;  // tells two devices with the same IDs apart in sysfs (HID_UNIQ)
    std::uint16_t bus = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint32_t version = 0;
    std::vector<std::uint8_t> descriptor;
  };

  // Opens `node` and creates the device (UHID_CREATE2). Null with `*problem` set when the
  // node cannot be opened or the kernel refuses the device.
  static std::unique_ptr<UhidDevice> create(const Setup& setup, std::string* problem,
                                            const std::string& node = "/dev/uhid");
  // Unplugs the device if that was not done yet.
  ~UhidDevice();
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  // One input report (UHID_INPUT2), delivered by the kernel before this returns. False with
  // `*problem` when the write fails.
  bool sendInput(std::span<const std::uint8_t> report, std::string* problem);

  // Waits until a driver has started the device (UHID_START). Answers the kernel's
  // requests on the way. False when that does not happen within `bound`.
  bool waitForStart(std::chrono::milliseconds bound);

  // Handles what the kernel has queued, without blocking: GET_REPORT and SET_REPORT are
  // answered with EIO (the device has no feature reports), OPEN and CLOSE are noted.
  void serviceEvents();

  bool started() const { return started_; }
  // Whether some reader (evdev, hidraw) has the device open right now.
  bool opened() const { return opened_; }

  // Unplugs the device (UHID_DESTROY); reports sent afterwards fail.
  bool destroy(std::string* problem);

 private:
  explicit UhidDevice(int fd) : fd_(fd) {}
  // Reads and handles one queued event; false when nothing was queued.
  bool handleOneEvent();

  int fd_;
  bool destroyed_ = false;
  bool started_ = false;
  bool opened_ = false;
};

}  // namespace zv::vmtest
