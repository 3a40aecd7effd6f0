#include "platform/RealtimeKit.h"

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace zv::platform {
namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kObject = "/org/freedesktop/RealtimeKit1";
constexpr const char* kInterface = "org.freedesktop.RealtimeKit1";
// The service asks polkit, which may take a moment; it never takes this long.
constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;

// The thread that was made real-time, for the SIGXCPU handler.
std::atomic<pid_t> gGrantedThread{0};

void onCpuLimit(int) {
  const pid_t thread = gGrantedThread.exchange(0);
  if (thread == 0) return;
  const sched_param normal{};
  // Async-signal-safe: plain system calls.
  syscall(SYS_sched_setscheduler, thread, SCHED_OTHER, &normal);
  static const char kText[] =
      "a real-time thread ran too long without a pause; it runs at normal priority now\n";
  (void)!write(STDERR_FILENO, kText, sizeof kText - 1);
}

class BusError {
 public:
  ~BusError() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }
  // The service's own words when it sent an error, else the system's for `result`.
  std::string text(int result) const {
    if (sd_bus_error_is_set(&error_)) {
      return error_.message && *error_.message ? error_.message : error_.name;
    }
    return std::strerror(-result);
  }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

struct MessageRef {
  sd_bus_message* message = nullptr;
  ~MessageRef() { sd_bus_message_unref(message); }
};

base::Failure busFailure(int result, const BusError& error, const std::string& what) {
  return base::Failure{base::kSystemDomain, -result, what + ": " + error.text(result)};
}

// An integer property of the service, which may be sent as any signed integer type.
base::Result<std::int64_t> integerProperty(sd_bus* bus, const char* name) {
  BusError error;
  MessageRef reply;
  const std::string what = std::string("cannot read RealtimeKit's ") + name;
  int r = sd_bus_call_method(bus, kService, kObject, "org.freedesktop.DBus.Properties", "Get",
                             error.get(), &reply.message, "ss", kInterface, name);
  if (r < 0) return busFailure(r, error, what);
  char type = 0;
  const char* contents = nullptr;
  r = sd_bus_message_peek_type(reply.message, &type, &contents);
  if (r <= 0 || type != SD_BUS_TYPE_VARIANT || !contents) {
    return base::Failure{base::kSystemDomain, EBADMSG, what + ": the answer is not a value"};
  }
  const std::string signature = contents;
  r = sd_bus_message_enter_container(reply.message, SD_BUS_TYPE_VARIANT, contents);
  if (r >= 0) {
    if (signature == "i") {
      std::int32_t value = 0;
      r = sd_bus_message_read_basic(reply.message, 'i', &value);
      if (r > 0) return std::int64_t{value};
    } else if (signature == "x") {
      std::int64_t value = 0;
      r = sd_bus_message_read_basic(reply.message, 'x', &value);
      if (r > 0) return value;
    } else if (signature == "u") {
      std::uint32_t value = 0;
      r = sd_bus_message_read_basic(reply.message, 'u', &value);
      if (r > 0) return std::int64_t{value};
    }
  }
  return base::Failure{base::kSystemDomain, EBADMSG,
                       what + ": a value of type \"" + signature + "\" is not a number"};
}

// Lowers RLIMIT_RTTIME to `maximum` microseconds (hard) and half of it (soft), as the
// service requires; an existing lower limit is kept.
base::Result<RealtimeGrant> limitRealtimeRun(std::int64_t maximum) {
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) != 0) {
    return base::Failure::system(errno, "cannot read the real-time CPU limit");
  }
  const auto wanted = static_cast<rlim_t>(maximum);
  if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted) limit.rlim_max = wanted;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, limit.rlim_max / 2);
  if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
    return base::Failure::system(errno, "cannot limit the real-time CPU time");
  }
  RealtimeGrant grant;
  grant.softLimit = std::chrono::microseconds(limit.rlim_cur);
  grant.hardLimit = std::chrono::microseconds(limit.rlim_max);
  return grant;
}

}  // namespace

base::Result<RealtimeGrant> requestRealtimeThread(sd_bus* bus, pid_t thread, int priority) {
  sd_bus_set_method_call_timeout(bus, kCallTimeoutMicroseconds);
  const auto maxPriority = integerProperty(bus, "MaxRealtimePriority");
  if (!maxPriority) return maxPriority.failure();
  const auto maxRunTime = integerProperty(bus, "RTTimeUSecMax");
  if (!maxRunTime) return maxRunTime.failure();
  const int granted = static_cast<int>(std::min<std::int64_t>(priority, *maxPriority));
  if (granted < 1) {
    return base::Failure{base::kSystemDomain, EPERM,
                         "RealtimeKit hands out no real-time priority (its maximum is " +
                             std::to_string(*maxPriority) + ")"};
  }
  if (*maxRunTime < 1) {
    return base::Failure{base::kSystemDomain, EPERM,
                         "RealtimeKit allows no real-time CPU time (RTTimeUSecMax " +
                             std::to_string(*maxRunTime) + ")"};
  }
  auto grant = limitRealtimeRun(*maxRunTime);
  if (!grant) return grant;

  // The handler is in place before the thread can run into its limit.
  struct sigaction action {};
  action.sa_handler = onCpuLimit;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction previous {};
  sigaction(SIGXCPU, &action, &previous);
  gGrantedThread = thread;

  BusError error;
  const int r = sd_bus_call_method(bus, kService, kObject, kInterface, "MakeThreadRealtime",
                                   error.get(), nullptr, "tu", static_cast<std::uint64_t>(thread),
                                   static_cast<std::uint32_t>(granted));
  if (r < 0) {
    gGrantedThread = 0;
    sigaction(SIGXCPU, &previous, nullptr);
    return busFailure(r, error,
                      "RealtimeKit refused real-time priority " + std::to_string(granted));
  }
  grant->priority = granted;
  return grant;
}

base::Result<RealtimeGrant> requestRealtimeThread(pid_t thread, int priority) {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_system(&bus);
  if (r < 0) return base::Failure::system(-r, "no system bus to ask RealtimeKit");
  auto grant = requestRealtimeThread(bus, thread, priority);
  sd_bus_flush_close_unref(bus);
  return grant;
}

}  // namespace zv::platform
