// Reads one evdev node the way a desktop does: whole frames (the events of one report up to
// SYN_REPORT), with an exclusive grab on request.
//
// Not thread-safe: one thread opens, reads and closes a reader.
#pragma once

#include <linux/input.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv::vmtest {

// The events of one report, without the closing SYN_REPORT.
struct EvdevFrame {
  std::vector<input_event> events;
  bool dropped = false;  // the kernel lost events before this frame (SYN_DROPPED)

  // The value of the first (type, code) event, if the frame has one.
  std::optional<std::int32_t> value(std::uint16_t type, std::uint16_t code) const;
  // "REL_X -3 REL_Y 4 KEY 0x110 1", for failure messages.
  std::string describe() const;
  // The time the kernel stamped on the frame (CLOCK_MONOTONIC once set so).
  std::chrono::nanoseconds timestamp() const;
};

class EvdevReader {
 public:
  // Opens `node` for reading; null with `*problem` set when that fails. Event times are
  // asked for in CLOCK_MONOTONIC, the clock the latency checks use.
  static std::unique_ptr<EvdevReader> open(const std::string& node, std::string* problem);
  ~EvdevReader();
  EvdevReader(const EvdevReader&) = delete;
  EvdevReader& operator=(const EvdevReader&) = delete;

  // The next complete frame, waiting at most `bound`; nullopt on timeout or when the device
  // went away (gone() then answers true).
  std::optional<EvdevFrame> nextFrame(std::chrono::milliseconds bound);
  // Discards every event that is queued now.
  void drain();
  // Whether the device was removed: a read answered ENODEV.
  bool gone() const { return gone_; }

  // Takes (true) or releases the exclusive grab; 0 or the errno of the refusal.
  int grab(bool on);

  std::string name() const;
  input_id id() const;
  bool hasCode(std::uint16_t type, std::uint16_t code) const;
  const std::string& node() const { return node_; }

 private:
  EvdevReader(int fd, std::string node) : fd_(fd), node_(std::move(node)) {}
  // Reads what is queued into frames; false when nothing could be read.
  bool readQueued();

  int fd_;
  std::string node_;
  bool gone_ = false;
  bool dropping_ = false;  // between SYN_DROPPED and the next SYN_REPORT
  std::vector<input_event> partial_;
  std::deque<EvdevFrame> frames_;
};

}  // namespace zv::vmtest
