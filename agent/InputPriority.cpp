#include "InputPriority.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/RealtimeKit.h"

namespace zv::agent {

InputPriority::InputPriority(pid_t thread) {
  const char* setting = std::getenv("KINETRA_REALTIME");
  if (setting && std::string(setting) == "0") {
    std::fprintf(stderr, "perch: device input runs at normal priority (KINETRA_REALTIME=0)\n");
    return;
  }
  request_ = std::thread([thread] {
    const auto grant = platform::requestRealtimeThread(thread, kPriority);
    if (grant) {
      std::fprintf(stderr,
                   "perch: device input runs at real-time priority %d (from RealtimeKit; at "
                   "most %lld ms of CPU at a time)\n",
                   grant->priority, static_cast<long long>(grant->softLimit.count() / 1000));
    } else {
      std::fprintf(stderr, "perch: device input runs at normal priority: %s\n",
                   grant.failure().message.c_str());
    }
  });
}

InputPriority::~InputPriority() {
  if (request_.joinable()) request_.join();
}

}  // namespace zv::agent
