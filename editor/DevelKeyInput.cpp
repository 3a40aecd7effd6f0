#include "DevelKeyInput.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "log/Log.h"

namespace zv::editor {

namespace {

std::uint64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL +
         static_cast<std::uint64_t>(now.tv_nsec);
}

std::optional<unsigned long> wholeNumber(const std::string& word) {
  if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos ||
      word.size() > 12) {
    return std::nullopt;
  }
  return std::strtoul(word.c_str(), nullptr, 10);
}

}  // namespace

class DevelKeyInput::Device : public output::InputDevice {
 public:
  explicit Device(int fd) : fd_(fd) {}
  ~Device() override { ::close(fd_); }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  int fd() const override { return fd_; }
  std::string name() const override { return "tessel devel keys"; }
  bool grab(bool) override { return true; }
  bool anyKeyDown() const override { return false; }

  bool readEvents(std::vector<output::InputEvent>& out) override {
    if (!fill()) return false;
    for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      std::string why;
      if (auto event = parseLine(line, monotonicNs(), &why)) {
        out.push_back(*event);
      } else if (!why.empty()) {
        ZV_LOG(log::ZVLogLevel::Critical, nullptr, "devel keys: '%@' dropped: %@", line, why);
      }
    }
    return true;
  }

  // Forgets what was written while no tap ran.
  void drain() {
    fill();
    pending_.clear();
  }

 private:
  // Reads what the FIFO holds now; false on a read error.
  bool fill() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
        // A line longer than any key event is garbage: keep only its end.
        if (pending_.size() > 65536) pending_.erase(0, pending_.size() - 4096);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
    }
  }

  int fd_;
  std::string pending_;
};

std::optional<output::InputEvent> DevelKeyInput::parseLine(const std::string& line,
                                                           std::uint64_t nowNs, std::string* why) {
  std::istringstream words(line);
  std::string key;
  std::string state;
  std::string time;
  std::string extra;
  words >> key >> state >> time >> extra;
  if (key.empty() || key[0] == '#') return std::nullopt;  // blank lines and comments
  auto refuse = [&](const std::string& reason) -> std::optional<output::InputEvent> {
    if (why) *why = reason;
    return std::nullopt;
  };
  int code = -1;
  if (const auto number = wholeNumber(key)) {
    if (*number <= KEY_MAX) code = static_cast<int>(*number);
  } else {
    code = libevdev_event_code_from_name(EV_KEY, key.c_str());
  }
  if (code < 0) return refuse("'" + key + "' is not a key (for example KEY_B or 48)");
  const auto value = wholeNumber(state);
  if (!value || *value > 2) return refuse("the state must be 1 (pressed), 0 or 2 (repeat)");
  std::uint64_t ns = nowNs;
  if (!time.empty()) {
    const auto ms = wholeNumber(time);
    if (!ms) return refuse("'" + time + "' is not a time in milliseconds");
    ns = static_cast<std::uint64_t>(*ms) * 1000000ULL;
  }
  if (!extra.empty()) return refuse("more than KEY STATE TIME");
  return output::InputEvent{EV_KEY, static_cast<std::uint16_t>(code),
                            static_cast<std::int32_t>(*value), ns};
}

std::shared_ptr<DevelKeyInput> DevelKeyInput::open(const std::filesystem::path& path,
                                                   std::string* error) {
  // Read and write: the FIFO then never reports an end when a writer closes it, and
  // opening does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "cannot open " + path.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::shared_ptr<DevelKeyInput>(new DevelKeyInput(fd));
}

DevelKeyInput::DevelKeyInput(int fd) : device_(std::make_shared<Device>(fd)) {}

DevelKeyInput::~DevelKeyInput() = default;

std::vector<std::shared_ptr<output::InputDevice>> DevelKeyInput::open(output::InputDeviceKind kind,
                                                                      std::string* problem) {
  if (kind != output::InputDeviceKind::keyboard) {
    if (problem) *problem = "devel mode has no pointing device to tap";
    return {};
  }
  device_->drain();
  return {device_};
}

}  // namespace zv::editor
