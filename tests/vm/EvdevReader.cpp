#include "EvdevReader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Wait.h"

namespace zv::vmtest {
namespace {

const char* typeName(std::uint16_t type) {
  switch (type) {
    case EV_KEY:
      return "KEY";
    case EV_REL:
      return "REL";
    case EV_MSC:
      return "MSC";
    default:
      return "EV";
  }
}

std::string codeName(std::uint16_t type, std::uint16_t code) {
  if (type == EV_REL) {
    switch (code) {
      case REL_X:
        return "REL_X";
      case REL_Y:
        return "REL_Y";
      case REL_WHEEL:
        return "REL_WHEEL";
      case REL_HWHEEL:
        return "REL_HWHEEL";
      case REL_WHEEL_HI_RES:
        return "REL_WHEEL_HI_RES";
      case REL_HWHEEL_HI_RES:
        return "REL_HWHEEL_HI_RES";
      default:
        break;
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%s 0x%x", typeName(type), code);
  return text;
}

}  // namespace

std::optional<std::int32_t> EvdevFrame::value(std::uint16_t type, std::uint16_t code) const {
  for (const input_event& event : events) {
    if (event.type == type && event.code == code) return event.value;
  }
  return std::nullopt;
}

std::string EvdevFrame::describe() const {
  std::string text = dropped ? "(after SYN_DROPPED)" : "";
  for (const input_event& event : events) {
    if (event.type == EV_MSC) continue;  // scan codes say nothing the checks look at
    if (!text.empty()) text += ' ';
    text += codeName(event.type, event.code) + ' ' + std::to_string(event.value);
  }
  return text.empty() ? "(empty frame)" : text;
}

std::chrono::nanoseconds EvdevFrame::timestamp() const {
  if (events.empty()) return {};
  const input_event& first = events.front();
  return std::chrono::seconds(first.input_event_sec) +
         std::chrono::microseconds(first.input_event_usec);
}

std::unique_ptr<EvdevReader> EvdevReader::open(const std::string& node, std::string* problem) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *problem = "cannot open " + node + ": " + std::strerror(errno);
    return nullptr;
  }
  int clock = CLOCK_MONOTONIC;
  ::ioctl(fd, EVIOCSCLOCKID, &clock);
  return std::unique_ptr<EvdevReader>(new EvdevReader(fd, node));
}

EvdevReader::~EvdevReader() {
  ::close(fd_);
}

bool EvdevReader::readQueued() {
  input_event buffer[64];
  const ssize_t got = ::read(fd_, buffer, sizeof buffer);
  if (got < 0) {
    if (errno == ENODEV) gone_ = true;
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(got) / sizeof(input_event);
  for (std::size_t i = 0; i < count; ++i) {
    const input_event& event = buffer[i];
    if (event.type == EV_SYN && event.code == SYN_DROPPED) {
      // What came since the last SYN_REPORT is incomplete; so is everything up to the next.
      partial_.clear();
      dropping_ = true;
      continue;
    }
    if (event.type == EV_SYN && event.code == SYN_REPORT) {
      EvdevFrame frame;
      frame.events = std::move(partial_);
      frame.dropped = dropping_;
      partial_.clear();
      dropping_ = false;
      frames_.push_back(std::move(frame));
      continue;
    }
    partial_.push_back(event);
  }
  return count > 0;
}

std::optional<EvdevFrame> EvdevReader::nextFrame(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (frames_.empty() && !gone_) {
    if (readQueued()) continue;
    if (gone_) break;
    pollfd watch{fd_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, millisecondsUntil(deadline));
    if (ready == 0) break;
    if (ready < 0 && errno != EINTR) break;
    // POLLERR or POLLHUP: the next read says ENODEV.
  }
  if (frames_.empty()) return std::nullopt;
  EvdevFrame frame = std::move(frames_.front());
  frames_.pop_front();
  return frame;
}

void EvdevReader::drain() {
  while (readQueued()) {
  }
  frames_.clear();
  partial_.clear();
}

int EvdevReader::grab(bool on) {
  return ::ioctl(fd_, EVIOCGRAB, on ? 1 : 0) == 0 ? 0 : errno;
}

std::string EvdevReader::name() const {
  char text[256] = {};
  if (::ioctl(fd_, EVIOCGNAME(sizeof text - 1), text) < 0) return {};
  return text;
}

input_id EvdevReader::id() const {
  input_id id{};
  ::ioctl(fd_, EVIOCGID, &id);
  return id;
}

bool EvdevReader::hasCode(std::uint16_t type, std::uint16_t code) const {
  unsigned long bits[KEY_MAX / (8 * sizeof(unsigned long)) + 1] = {};
  if (::ioctl(fd_, EVIOCGBIT(type, sizeof bits), bits) < 0) return false;
  const std::size_t perWord = 8 * sizeof(unsigned long);
  if (code / perWord >= sizeof bits / sizeof bits[0]) return false;
  return (bits[code / perWord] >> (code % perWord)) & 1UL;
}

}  // namespace zv::vmtest
