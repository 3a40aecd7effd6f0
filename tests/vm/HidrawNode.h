// One opened /dev/hidrawN: the node a user-space HID driver reads raw reports from and asks
// for the report descriptor.
//
// Not thread-safe: one thread opens, reads and closes a node.
#pragma once

#include <linux/hidraw.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv::vmtest {

class HidrawNode {
 public:
  // Null with `*problem` set when the node cannot be opened.
  static std::unique_ptr<HidrawNode> open(const std::string& node, std::string* problem);
  ~HidrawNode();
  HidrawNode(const HidrawNode&) = delete;
  HidrawNode& operator=(const HidrawNode&) = delete;

  // The report descriptor as the kernel holds it; nullopt when the ioctl fails.
  std::optional<std::vector<std::uint8_t>> descriptor() const;
  std::optional<hidraw_devinfo> info() const;
  std::string name() const;

  // The next raw input report, waiting at most `bound`; nullopt on timeout or when the
  // device is gone (a read error, reported in `*problem`).
  std::optional<std::vector<std::uint8_t>> readReport(std::chrono::milliseconds bound,
                                                      std::string* problem);

 private:
  explicit HidrawNode(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace zv::vmtest
