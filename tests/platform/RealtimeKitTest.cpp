// Asking for real-time priority, against a stand-in for the service on a private peer
// connection: what is asked, what the answer makes of the process's limits, and how the
// service's refusals and odd answers come back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "platform/RealtimeKit.h"

namespace zv::platform {
namespace {

// How the stand-in answers.
struct Service {
  std::string name;
  int maxPriority = 20;
  const char* maxPriorityType = "i";  // the service sends "i"; "s" is an odd answer
  std::int64_t maxRunTime = 200'000;
  const char* refusal = nullptr;  // an error name for MakeThreadRealtime
  bool object = true;             // false: nothing answers at the service's path
};

// The service's end of a socket pair, served on a thread of its own until the client
// closes its end.
class StandIn {
 public:
  explicit StandIn(const Service& service) : service_(service) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    sd_bus_new(&server_);
    sd_bus_set_fd(server_, ends[0], ends[0]);
    sd_id128_t id;
    sd_id128_randomize(&id);
    sd_bus_set_server(server_, 1, id);
    if (service_.object) {
      sd_bus_add_object(server_, nullptr, "/org/freedesktop/RealtimeKit1", &StandIn::handle, this);
    }
    sd_bus_start(server_);
    thread_ = std::thread([this] {
      for (;;) {
        int r = sd_bus_process(server_, nullptr);
        if (r > 0) continue;
        if (r < 0 || sd_bus_wait(server_, UINT64_MAX) < 0) break;
      }
    });
    sd_bus_new(&client_);
    sd_bus_set_fd(client_, ends[1], ends[1]);
    sd_bus_start(client_);
  }
  ~StandIn() {
    sd_bus_flush_close_unref(client_);
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(server_);
  }

  sd_bus* client() { return client_; }
  // What MakeThreadRealtime was asked: thread and priority.
  std::optional<std::pair<std::uint64_t, std::uint32_t>> asked;

 private:
  static int handle(sd_bus_message* m, void* self, sd_bus_error* error) {
    auto& standIn = *static_cast<StandIn*>(self);
    const Service& s = standIn.service_;
    if (sd_bus_message_is_method_call(m, "org.freedesktop.DBus.Properties", "Get")) {
      const char* interface = nullptr;
      const char* property = nullptr;
      sd_bus_message_read(m, "ss", &interface, &property);
      sd_bus_message* reply = nullptr;
      sd_bus_message_new_method_return(m, &reply);
      const std::string name = property;
      if (name == "MaxRealtimePriority" && std::string(s.maxPriorityType) == "s") {
        sd_bus_message_append(reply, "v", "s", "twenty");
      } else if (name == "MaxRealtimePriority") {
        sd_bus_message_append(reply, "v", "i", s.maxPriority);
      } else if (name == "RTTimeUSecMax") {
        sd_bus_message_append(reply, "v", "x", s.maxRunTime);
      } else {
        sd_bus_message_unref(reply);
        return sd_bus_error_set(error, SD_BUS_ERROR_UNKNOWN_PROPERTY, "no such property");
      }
      const int r = sd_bus_send(nullptr, reply, nullptr);
      sd_bus_message_unref(reply);
      return r < 0 ? r : 1;
    }
    if (sd_bus_message_is_method_call(m, "org.freedesktop.RealtimeKit1", "MakeThreadRealtime")) {
      std::uint64_t thread = 0;
      std::uint32_t priority = 0;
      sd_bus_message_read(m, "tu", &thread, &priority);
      standIn.asked = std::make_pair(thread, priority);
      if (s.refusal) return sd_bus_error_set(error, s.refusal, "Operation not permitted");
      return sd_bus_reply_method_return(m, nullptr);
    }
    return 0;
  }

  Service service_;
  sd_bus* server_ = nullptr;
  sd_bus* client_ = nullptr;
  std::thread thread_;
};

struct Case {
  Service service;
  int wanted;
  int granted;          // 0: refused
  const char* failure;  // how the failure's message starts, when refused
};

class RealtimeKitRequest : public ::testing::TestWithParam<Case> {};

TEST_P(RealtimeKitRequest, AsksForTheThreadAndSaysWhatItGot) {
  const Case& c = GetParam();
  StandIn service(c.service);
  const pid_t thread = gettid();
  const auto grant = requestRealtimeThread(service.client(), thread, c.wanted);
  if (c.granted == 0) {
    ASSERT_FALSE(grant);
    EXPECT_EQ(grant.failure().message.rfind(c.failure, 0), 0u) << grant.failure().message;
    if (!c.service.refusal) {
      EXPECT_FALSE(service.asked) << "nothing asked once a property fails";
    }
    return;
  }
  ASSERT_TRUE(grant) << grant.failure().message;
  EXPECT_EQ(grant->priority, c.granted);
  ASSERT_TRUE(service.asked);
  EXPECT_EQ(service.asked->first, static_cast<std::uint64_t>(thread));
  EXPECT_EQ(service.asked->second, static_cast<std::uint32_t>(c.granted));
  // The service's limit on CPU time without a pause is the process's hard limit.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
  EXPECT_LE(limit.rlim_max, static_cast<rlim_t>(c.service.maxRunTime));
  EXPECT_LE(limit.rlim_cur, limit.rlim_max / 2);
  EXPECT_EQ(grant->hardLimit.count(), static_cast<std::int64_t>(limit.rlim_max));
  EXPECT_EQ(grant->softLimit.count(), static_cast<std::int64_t>(limit.rlim_cur));
}

INSTANTIATE_TEST_SUITE_P(
    Services, RealtimeKitRequest,
    ::testing::Values(
        Case{{"grants"}, 5, 5, nullptr}, Case{{"caps", 3}, 5, 3, nullptr},
        Case{{"tighter", 20, "i", 50'000}, 5, 5, nullptr},
        Case{
            {"nothing", 0}, 5, 0, "RealtimeKit hands out no real-time priority (its maximum is 0)"},
        Case{{"no run time", 20, "i", 0},
             5,
             0,
             "RealtimeKit allows no real-time CPU time (RTTimeUSecMax 0)"},
        Case{{"odd", 20, "s"},
             5,
             0,
             "cannot read RealtimeKit's MaxRealtimePriority: a value of type \"s\" is not a "
             "number"},
        Case{{"refuses", 20, "i", 200'000, "org.freedesktop.DBus.Error.AccessDenied"},
             5,
             0,
             "RealtimeKit refused real-time priority 5: Operation not permitted"},
        Case{{"absent", 20, "i", 200'000, nullptr, false},
             5,
             0,
             "cannot read RealtimeKit's MaxRealtimePriority: "}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = info.param.service.name;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace zv::platform
