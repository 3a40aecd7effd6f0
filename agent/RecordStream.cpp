#include "RecordStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "device/DeviceController.h"
#include "text/Escape.h"

namespace zv::agent {

base::Result<std::shared_ptr<RecordStream>> RecordStream::open(const std::string& target) {
  if (target.empty() || target == "-") return std::make_shared<RecordStream>(STDOUT_FILENO, false);
  // Looked at first: a folder or a device at that place is refused, never opened.
  struct stat status {};
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode)) {
    return base::Failure{base::kSystemDomain, EINVAL,
                         target + ": not a regular file or FIFO to record into"};
  }
  // A FIFO is written as it is; a file is created or emptied (through a symbolic link, the
  // file it names).
  const int flags = O_WRONLY | O_CLOEXEC | O_APPEND |
                    (exists && S_ISFIFO(status.st_mode) ? 0 : O_CREAT | O_TRUNC);
  const int fd = ::open(target.c_str(), flags, 0644);
  if (fd < 0) return base::Failure::system(errno, target + ": cannot record into it");
  if (::fstat(fd, &status) != 0 || (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode))) {
    ::close(fd);
    return base::Failure{base::kSystemDomain, EINVAL,
                         target + ": not a regular file or FIFO to record into"};
  }
  return std::make_shared<RecordStream>(fd, true);
}

RecordStream::RecordStream(int fd, bool owned) : fd_(fd), owned_(owned) {}

RecordStream::~RecordStream() {
  if (owned_) ::close(fd_);
}

void RecordStream::write(std::string_view text, std::optional<Clock::time_point> when) {
  std::string out;
  out.reserve(text.size() + 20);
  if (when) {
    const auto since = when->time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since - seconds);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%6lld.%06lld] ", static_cast<long long>(seconds.count()),
                  static_cast<long long>(micros.count()));
    out += stamp;
  }
  // A profile name or a path may hold a line break: escaped, each line stays one line.
  zv::text::appendEscapingControls(out, text);
  out += '\n';
  // One write per line (with the lock held), so lines of two threads never mix. A reader
  // that went away loses the rest; the agent goes on.
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::write(fd_, out.data() + done, out.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

void RecordStream::line(std::string_view text, Clock::time_point when) {
  std::lock_guard lock(mutex_);
  write(text, when);
}

void RecordStream::action(std::string_view text, Clock::time_point when) {
  std::lock_guard lock(mutex_);
  ++actionsOut_;
  if (pendingEvent_ && when >= *pendingEvent_ && when - *pendingEvent_ <= kImmediate) {
    latency_.add(when - *pendingEvent_);
  }
  pendingEvent_.reset();
  write(text, when);
}

void RecordStream::elementEvent(std::uint32_t element, std::int32_t value, bool routed) {
  const Clock::time_point now = Clock::now();
  char text[64];
  std::snprintf(text, sizeof text, "event 0x%x %d%s", element, value, routed ? "" : " dropped");
  std::lock_guard lock(mutex_);
  ++eventsIn_;
  pendingEvent_ = routed ? std::optional<Clock::time_point>(now) : std::nullopt;
  write(text, now);
}

void RecordStream::shiftStateChanged(const std::string& from, const std::string& to) {
  line("shift \"" + from + "\" -> \"" + to + "\"");
}

void RecordStream::currentProfileChanged(const std::optional<std::string>& name) {
  line(name ? "profile \"" + *name + "\"" : std::string("profile none (profiles are off)"));
}

void RecordStream::deviceConnected(const device::DeviceController& device, bool connected) {
  line("device " + device.description() + (connected ? " connected" : " disconnected"));
}

void RecordStream::waitingForDevice(const std::string& alias) {
  line("waiting for a device bundle with the alias \"" + alias + "\"");
}

RecordStream::Summary RecordStream::summary() const {
  std::lock_guard lock(mutex_);
  Summary summary;
  summary.eventsIn = eventsIn_;
  summary.actionsOut = actionsOut_;
  summary.measured = latency_.count();
  summary.p50 = latency_.percentile(0.50);
  summary.p99 = latency_.percentile(0.99);
  return summary;
}

void RecordStream::writeSummary() {
  const Summary s = summary();
  char text[200];
  std::snprintf(text, sizeof text,
                "summary: %llu events in, %llu actions out, event to action p50 %lld us, "
                "p99 %lld us (%llu measured)",
                static_cast<unsigned long long>(s.eventsIn),
                static_cast<unsigned long long>(s.actionsOut),
                static_cast<long long>(s.p50.count()), static_cast<long long>(s.p99.count()),
                static_cast<unsigned long long>(s.measured));
  std::lock_guard lock(mutex_);
  write(text, std::nullopt);
}

}  // namespace zv::agent
