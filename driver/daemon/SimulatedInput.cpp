#include "daemon/SimulatedInput.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "replay/ReplayCommand.h"

namespace zv::driver {

using replay::ReplayCommand;

namespace {

std::string hexNumber(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

SimulatedInput::SimulatedInput(EventLoop& loop, ReportFeed& feed, ZenvorDriver& driver,
                               LineWriter out)
    : loop_(loop),
      feed_(feed),
      driver_(driver),
      out_(std::move(out)),
      alive_(std::make_shared<bool>(true)) {}

SimulatedInput::~SimulatedInput() {
  if (wait_) loop_.cancelTimer(wait_);
  if (watched_) loop_.unwatch(fd_);
  if (ownFd_) close(fd_);
}

bool SimulatedInput::open(const std::string& path, std::string* error) {
  if (path.empty() || path == "-") {
    fd_ = STDIN_FILENO;
  } else {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    // A FIFO opened for writing too never reaches its end: writers may come and go.
    const int flags = S_ISFIFO(st.st_mode) ? O_RDWR : O_RDONLY;
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd_ < 0) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    ownFd_ = true;
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  if (loop_.watch(fd_, EPOLLIN, [this](std::uint32_t) { onReadable(); })) {
    watched_ = true;
  } else {
    // A regular file cannot be watched: it is all there already.
    char chunk[65536];
    for (ssize_t n; (n = read(fd_, chunk, sizeof chunk)) > 0;)
      pending_.append(chunk, static_cast<std::size_t>(n));
    ended_ = true;
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive] {
      if (alive.lock()) process();
    });
  }
  return true;
}

void SimulatedInput::onReadable() {
  char chunk[65536];
  const ssize_t n = read(fd_, chunk, sizeof chunk);
  if (n > 0) {
    pending_.append(chunk, static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    loop_.unwatch(fd_);
    watched_ = false;
    ended_ = true;
  }
  process();
}

bool SimulatedInput::isReportLine(const std::string& line) {
  const std::size_t first = line.find_first_not_of(" \t");
  return first != std::string::npos && line.compare(first, 7, "report ") == 0;
}

void SimulatedInput::process() {
  while (!wait_ && !deferred_) {
    std::size_t end = pending_.find('\n');
    if (end == std::string::npos) {
      if (!ended_ || pending_.empty()) return;
      end = pending_.size();  // a last line without line feed
    }
    const std::string line = pending_.substr(0, end);
    // Reports go through the hidraw path and are read by this same loop later; whatever
    // comes after them in the script must wait until the driver has read them, or a setting
    // would overtake the reports before it. A report that does not fit yet waits too: the
    // loop must not block on the socket it alone empties.
    const bool report = isReportLine(line);
    if (!report && feed_.hasUnreadReports()) {
      deferUntilRead();
      return;
    }
    std::string error;
    bool ok = true;
    if (report) {
      const SendResult sent = sendReportLine(line, &error);
      if (sent == SendResult::full) {
        deferUntilRead();
        return;
      }
      ok = sent == SendResult::sent;
    }
    pending_.erase(0, end + 1 > pending_.size() ? pending_.size() : end + 1);
    ++lineNumber_;
    if (!report) ok = runLine(line, &error);
    if (!ok) {
      std::fprintf(stderr, "zenvor-driver: input line %d: %s\n", lineNumber_, error.c_str());
    }
  }
}

void SimulatedInput::deferUntilRead() {
  deferred_ = true;
  std::weak_ptr<bool> alive = alive_;
  loop_.post([this, alive] {
    if (!alive.lock()) return;
    deferred_ = false;
    process();
  });
}

SimulatedInput::SendResult SimulatedInput::sendReportLine(const std::string& line,
                                                          std::string* error) {
  std::optional<ReplayCommand> parsed;
  if (!replay::parseReplayLine(line, &parsed, error)) return SendResult::failed;
  switch (feed_.trySendReport(parsed->bytes)) {
    case ReportFeed::Send::sent:
      return SendResult::sent;
    case ReportFeed::Send::full:
      return SendResult::full;
    case ReportFeed::Send::unplugged:
      break;
  }
  *error = "the simulated mouse is unplugged";
  return SendResult::failed;
}

bool SimulatedInput::runLine(const std::string& line, std::string* error) {
  const std::size_t first = line.find_first_not_of(" \t\r");
  if (first != std::string::npos && line.compare(first, 6, "unplug") == 0 &&
      line.find_first_not_of(" \t\r", first + 6) == std::string::npos) {
    out_("unplug");
    feed_.unplug();
    return true;
  }
  std::optional<ReplayCommand> parsed;
  if (!replay::parseReplayLine(line, &parsed, error)) return false;
  if (!parsed) return true;
  const ReplayCommand& c = *parsed;
  using Kind = ReplayCommand::Kind;
  if (c.kind == Kind::product || c.kind == Kind::descriptor || c.kind == Kind::descriptorFile) {
    *error = "'product' and 'descriptor' come from the command line (--simulate, --descriptor)";
    return false;
  }
  if (c.kind == Kind::report) {
    const SendResult sent = sendReportLine(line, error);
    if (sent == SendResult::full) *error = "the simulated mouse's reports wait to be read";
    return sent == SendResult::sent;
  }
  if (c.kind == Kind::wait) {
    wait_ = loop_.addTimer(std::chrono::milliseconds(c.number), [this] {
      wait_ = 0;
      process();
    });
    return true;
  }
  ZVReportHandler* handler = driver_.reportHandler();
  if (!handler) return true;  // no model (the descriptor failed): nothing to set
  auto noteUnknown = [&] {
    if (!handler->elementWithCookie(c.element)) {
      out_("note: " + hexNumber(c.element) + " is not an element of the default report; ignored");
    }
  };
  switch (c.kind) {
    case Kind::override_:
      noteUnknown();
      handler->setElementOverride(c.element, c.number != 0);
      break;
    case Kind::buttons:
      if (const std::uint64_t kept = handler->setButtonOverrides(c.number); kept != c.number) {
        out_("note: buttons " + hexNumber(c.number) + " reach beyond the button field " +
             hexNumber(handler->buttonFieldMask()) + " of the default report; " + hexNumber(kept) +
             " kept");
      }
      break;
    case Kind::precision:
      handler->setPrecAimPercentage(c.element, c.percent);
      break;
    case Kind::axis:
      driver_.setMouseAxis(c.element, static_cast<std::uint32_t>(c.number));
      break;
    case Kind::hat:
      noteUnknown();
      handler->setHatElement(c.element);
      break;
    case Kind::model:
      for (std::uint32_t id = 0; id < 256; ++id) {
        const ZVHIDReportEntry* report = handler->findReport(id);
        if (!report) continue;
        out_("model report " + std::to_string(id) + ": " + std::to_string(report->elements.size()) +
             " elements, " + std::to_string(report->byteLength) + " bytes");
        for (const ZVHIDElement& e : report->elements) {
          out_("model   " + hexNumber(e.element) + " bit " + std::to_string(e.bitOffset) +
               " size " + std::to_string(e.bitSize) + (e.overridden ? " overridden" : "") +
               (e.hat ? " hat" : ""));
        }
      }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace zv::driver
