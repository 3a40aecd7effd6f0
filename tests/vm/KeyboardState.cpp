#include "KeyboardState.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zv::vmtest {

using Clock = std::chrono::steady_clock;

std::vector<unsigned> keysDown(const std::string& node) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  expect(fd >= 0, "cannot open " + node + ": " + std::strerror(errno));
  libevdev* device = nullptr;
  const int error = libevdev_new_from_fd(fd, &device);
  if (error < 0) {
    ::close(fd);
    throw CheckFailed("libevdev cannot read " + node + ": " + std::strerror(-error));
  }
  std::vector<unsigned> down;
  for (unsigned code = 0; code <= KEY_MAX; ++code) {
    if (libevdev_has_event_code(device, EV_KEY, code) &&
        libevdev_get_event_value(device, EV_KEY, code) != 0) {
      down.push_back(code);
    }
  }
  libevdev_free(device);
  ::close(fd);
  return down;
}

std::string describeKeys(const std::vector<unsigned>& keys) {
  std::string text;
  for (unsigned code : keys) {
    const char* name = libevdev_event_code_get_name(EV_KEY, code);
    text += (text.empty() ? "" : ", ") + (name ? std::string(name) : std::to_string(code));
  }
  return text;
}

void expectKey(GuestSession& session, EvdevReader& keyboard, std::uint16_t code, std::int32_t value,
               const std::string& what) {
  const auto deadline = Clock::now() + session.options.bound;
  for (;;) {
    const EvdevFrame frame = session.expectFrame(keyboard, what);
    const bool repeatOnly = std::all_of(
        frame.events.begin(), frame.events.end(),
        [](const input_event& event) { return event.type == EV_KEY && event.value == 2; });
    if (!repeatOnly) {
      session.expectValue(frame, EV_KEY, code, value, what);
      return;
    }
    expect(Clock::now() < deadline, "only auto-repeats (" + frame.describe() + ") on " +
                                        keyboard.node() + " within the bound after " + what);
  }
}

}  // namespace zv::vmtest
