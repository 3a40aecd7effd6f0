#include "platform/linux/BusConnection.h"

#include <poll.h>
#include <sys/epoll.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/BusValues.h"

namespace zv::platform {

namespace {

std::uint64_t monotonicNowUsec() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace

base::Failure busFailure(const sd_bus_error* error, int result, std::string_view context) {
  base::Failure failure;
  failure.domain = kBusDomain;
  failure.code = result < 0 ? -result : result;
  std::string why;
  if (error && sd_bus_error_is_set(error)) {
    why = std::string(error->name ? error->name : "");
    if (error->message && *error->message) why += std::string(": ") + error->message;
  } else {
    why = std::strerror(failure.code);
  }
  failure.message = std::string(context) + ": " + why;
  return failure;
}

base::Result<std::unique_ptr<BusConnection>> BusConnection::openSession(RunLoop& loop) {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_user(&bus);
  if (r < 0) return busFailure(nullptr, r, "cannot connect to the session bus");
  return attach(loop, bus);
}

base::Result<std::unique_ptr<BusConnection>> BusConnection::open(RunLoop& loop,
                                                                 const std::string& address) {
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
  if (r >= 0) r = sd_bus_start(bus);
  if (r < 0) {
    sd_bus_unref(bus);
    return busFailure(nullptr, r, "cannot connect to the bus at " + address);
  }
  return attach(loop, bus);
}

base::Result<std::unique_ptr<BusConnection>> BusConnection::attach(RunLoop& loop, sd_bus* bus) {
  std::unique_ptr<BusConnection> connection(new BusConnection(loop, bus));
  connection->update();
  if (!connection->watch_) {
    return base::Failure{kBusDomain, EBADF, "cannot watch the session bus on the run loop"};
  }
  return connection;
}

BusConnection::BusConnection(RunLoop& loop, sd_bus* bus) : loop_(loop), bus_(bus) {}

BusConnection::~BusConnection() {
  *alive_ = false;
  if (watch_) loop_.unwatchFd(watch_);
  if (timer_) loop_.cancelTimer(timer_);
  sd_bus_flush_close_unref(bus_);
}

std::string BusConnection::uniqueName() const {
  const char* name = nullptr;
  if (sd_bus_get_unique_name(bus_, &name) < 0 || !name) return {};
  return name;
}

base::Result<BusSlot> BusConnection::callAsync(const char* destination, const char* path,
                                               const char* interface, const char* member,
                                               const std::function<int(sd_bus_message*)>& append,
                                               sd_bus_message_handler_t onReply, void* userdata,
                                               std::uint64_t timeoutUsec) {
  sd_bus_message* request = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &request, destination, path, interface, member);
  const BusMessagePtr owned(request);
  if (r >= 0 && append) r = append(request);
  sd_bus_slot* slot = nullptr;
  if (r >= 0) r = sd_bus_call_async(bus_, &slot, request, onReply, userdata, timeoutUsec);
  if (r < 0) {
    return busFailure(nullptr, r,
                      std::string("cannot call ") + destination + " " + path + " " + member);
  }
  update();
  return BusSlot(slot);
}

base::Result<BusSlot> BusConnection::followOwner(const char* name, sd_bus_message_handler_t handler,
                                                 void* userdata) {
  const std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',") +
                           "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                           name + "'";
  sd_bus_slot* slot = nullptr;
  const int r = sd_bus_add_match_async(bus_, &slot, rule.c_str(), handler, nullptr, userdata);
  if (r < 0) return busFailure(nullptr, r, std::string("cannot follow ") + name + " on the bus");
  update();
  return BusSlot(slot);
}

std::optional<std::string> BusConnection::newOwner(sd_bus_message* signal, std::string_view name) {
  const auto values = readBusValues(signal);
  if (!values || values->size() < 3) return std::nullopt;
  const std::string* about = (*values)[0].asText();
  const std::string* owner = (*values)[2].asText();
  if (!about || *about != name || !owner) return std::nullopt;
  return *owner;
}

base::Result<BusMessagePtr> BusConnection::call(const char* destination, const char* path,
                                                const char* interface, const char* member,
                                                const std::function<int(sd_bus_message*)>& append,
                                                std::uint64_t timeoutUsec) {
  sd_bus_message* request = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &request, destination, path, interface, member);
  const BusMessagePtr owned(request);
  if (r >= 0 && append) r = append(request);
  const std::string what = std::string(destination) + " " + path + " " + member;
  if (r < 0) return busFailure(nullptr, r, "cannot build the call " + what);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus_, request, timeoutUsec, &error, &reply);
  base::Result<BusMessagePtr> result =
      r < 0 ? base::Result<BusMessagePtr>(busFailure(&error, r, "the call " + what + " failed"))
            : base::Result<BusMessagePtr>(BusMessagePtr(reply));
  sd_bus_error_free(&error);
  // Messages that arrived while the call waited are dispatched from the loop.
  update();
  return result;
}

void BusConnection::update() {
  if (!connected_) return;
  const int events = sd_bus_get_events(bus_);
  if (events < 0) return markBroken();
  std::uint32_t wanted = EPOLLIN;
  if (events & POLLOUT) wanted |= EPOLLOUT;
  if (wanted != watchedEvents_) watch(wanted);

  std::uint64_t deadline = UINT64_MAX;
  if (sd_bus_get_timeout(bus_, &deadline) < 0) deadline = UINT64_MAX;
  if (deadline == timerFor_ && timer_) return;
  if (timer_) loop_.cancelTimer(timer_);
  timer_ = 0;
  timerFor_ = deadline;
  if (deadline == UINT64_MAX) return;
  // Zero means: something is queued for dispatch already.
  const std::uint64_t now = monotonicNowUsec();
  const auto delay = std::chrono::microseconds(deadline > now ? deadline - now : 0);
  timer_ = loop_.addTimer(delay, [this, alive = alive_] {
    if (!*alive) return;
    timer_ = 0;
    timerFor_ = 0;
    process();
  });
}

void BusConnection::watch(std::uint32_t events) {
  if (watch_) loop_.unwatchFd(watch_);
  watchedEvents_ = events;
  const int fd = sd_bus_get_fd(bus_);
  watch_ = fd < 0 ? 0 : loop_.watchFd(fd, events, [this, alive = alive_](std::uint32_t) {
    if (*alive) process();
  });
}

void BusConnection::process() {
  // A handler may call update() or a synchronous call(), which dispatch from here again.
  if (processing_) return;
  processing_ = true;
  const std::shared_ptr<bool> alive = alive_;
  int r;
  // Each round handles one message; the handler may destroy this connection.
  do {
    r = sd_bus_process(bus_, nullptr);
  } while (r > 0 && *alive);
  if (!*alive) return;
  processing_ = false;
  if (r < 0 && r != -EINTR) return markBroken();
  update();
}

void BusConnection::markBroken() {
  if (!connected_) return;
  connected_ = false;
  if (watch_) loop_.unwatchFd(watch_);
  watch_ = 0;
  if (timer_) loop_.cancelTimer(timer_);
  timer_ = 0;
  if (broken_) {
    const auto handler = broken_;
    handler();
  }
}

}  // namespace zv::platform
