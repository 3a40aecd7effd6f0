// Latency of the daemon's report path with the simulated mouse, end to end through real
// descriptors: a report is sent into the hidraw socket pair, the daemon's loop (its own
// thread) reads it, rewrites it and writes UHID_INPUT2 with a real write() on a socket pair
// standing in for /dev/uhid; an overridden button in every report makes an element event,
// which a connected client (its own thread) reads from the real user-client socket.
//
// Reports are paced at 1, 4 and 8 kHz; each run sends ZV_BENCH_REPORTS reports (default
// 100 000) and reports the median and the 99th percentile of
//   uhid_p50_us, uhid_p99_us      report sent → UHID_INPUT2 written
//   client_p50_us, client_p99_us  report sent → its element event read by the client
// (the manual times are the uhid medians). With ZV_BENCH_FIFO=1 the daemon's loop thread runs
// under SCHED_FIFO priority 10, as the systemd unit runs the daemon, to show what a busy
// machine costs a daemon that is not preempted. BM_DaemonRss starts the real zenvor-driver
// --simulate with two clients and reports its resident memory (VmRSS, VmHWM in KiB).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/SampleDescriptors.h"
#include "daemon/Daemon.h"
#include "daemon/DriverLog.h"
#include "fakes/FakeHidraw.h"
#include "fakes/FakeSeatSessions.h"
#include "linux/LinuxUhid.h"
#include "protocol/UserClientConnection.h"

extern char** environ;

namespace {

using namespace zv::driver;
using namespace zv::userclient;
using Clock = std::chrono::steady_clock;

std::size_t reportCount() {
  const char* value = std::getenv("ZV_BENCH_REPORTS");
  return value ? std::strtoul(value, nullptr, 10) : 100000;
}

// LinuxUhid on a socket pair: the real write per report. Stamps the moment each input
// report's write() has returned; the report's bytes 3-6 carry its sequence number.
class StampingUhid : public LinuxUhid {
 public:
  StampingUhid(int fd, std::vector<Clock::time_point>& stamps) : LinuxUhid(fd), stamps_(stamps) {}
  int input(std::span<const std::uint8_t> report) override {
    const int result = LinuxUhid::input(report);
    const auto now = Clock::now();
    if (report.size() == 7) {
      std::uint32_t sequence;
      std::memcpy(&sequence, report.data() + 3, 4);
      if (sequence < stamps_.size()) stamps_[sequence] = now;
    }
    return result;
  }

 private:
  std::vector<Clock::time_point>& stamps_;
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

void BM_ReportLatency(benchmark::State& state) {
  setDriverLogSink([](int, const std::string&) {});
  prctl(PR_SET_TIMERSLACK, 1);
  const std::size_t count = reportCount();
  const auto period = std::chrono::nanoseconds(1000000000 / state.range(0));

  HidDeviceIdentity id;
  id.vendor = 0x5A56;
  id.product = 0x1704;
  const auto sample = sampleDescriptorForType(1);
  FakeHidraw hidraw(id, {sample.begin(), sample.end()});
  int kernel[2];
  socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, kernel);
  // The "kernel" end must not fill up: a thread empties it.
  std::atomic<bool> draining{true};
  std::thread kernelThread([&] {
    std::vector<char> event(8192);
    while (draining) {
      if (recv(kernel[1], event.data(), event.size(), 0) <= 0) break;
    }
  });
  std::vector<Clock::time_point> sent(count), written(count), received(count);
  StampingUhid uhid(kernel[0], written);
  EventLoop loop;
  FakeSeatSessions seats;
  AccessRule access("seat0", 0, seats);
  DriverBackends backends;
  backends.hidraw = &hidraw;
  backends.uhid = &uhid;
  auto driver = makeDriver(kBusUSB, loop, std::move(backends));
  char folder[] = "/tmp/zvbench-XXXXXX";
  mkdtemp(folder);
  auto daemon = std::make_unique<Daemon>(loop, *driver, access);
  std::promise<void> started;
  std::thread daemonThread([&] {
    if (const char* fifo = std::getenv("ZV_BENCH_FIFO"); fifo && *fifo == '1') {
      sched_param param{};
      param.sched_priority = 10;
      if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0) std::abort();
    }
    std::string error;
    if (!daemon->start(folder, "bench", &error)) std::abort();
    started.set_value();
    daemon->run();
  });
  started.get_future().wait();

  UserClientConnection client;
  std::string error;
  client.open(daemon->server().path(), &error);
  client.call(sSetElementEventCallback, {}, {}, 0, 0, &error);
  client.call(sElementOverride, {0x90001, 1}, {}, 0, 0, &error);
  client.readCompletion(1000, &error);  // the override's own event
  std::thread clientThread([&] {
    std::string why;
    for (std::size_t i = 0; i < count; ++i) {
      if (!client.readCompletion(10000, &why)) break;
      received[i] = Clock::now();
    }
  });

  for (auto _ : state) {
    auto next = Clock::now();
    std::uint8_t report[7] = {};
    for (std::uint32_t i = 0; i < count; ++i) {
      report[0] = i % 2 == 0 ? 1 : 0;  // button 1 (overridden) toggles: one event per report
      std::memcpy(report + 3, &i, 4);  // the sequence in X/Y, which pass unchanged
      next += period;
      std::this_thread::sleep_until(next);
      sent[i] = Clock::now();
      hidraw.sendReport(report);
    }
    clientThread.join();
    std::vector<double> toUhid, toClient;
    for (std::size_t i = 0; i < count; ++i) {
      if (written[i] > sent[i]) {
        toUhid.push_back(std::chrono::duration<double, std::micro>(written[i] - sent[i]).count());
      }
      if (received[i] > sent[i]) {
        toClient.push_back(
            std::chrono::duration<double, std::micro>(received[i] - sent[i]).count());
      }
    }
    state.SetIterationTime(percentile(toUhid, 0.5) / 1e6);
    state.counters["uhid_p50_us"] = percentile(toUhid, 0.5);
    state.counters["uhid_p99_us"] = percentile(toUhid, 0.99);
    state.counters["client_p50_us"] = percentile(toClient, 0.5);
    state.counters["client_p99_us"] = percentile(toClient, 0.99);
    state.counters["reports"] = static_cast<double>(toUhid.size());
    state.counters["events"] = static_cast<double>(toClient.size());
  }

  loop.post([&] { daemon->shutdown("benchmark done"); });
  daemonThread.join();
  daemon.reset();
  driver.reset();
  draining = false;
  shutdown(kernel[1], SHUT_RDWR);
  kernelThread.join();
  close(kernel[1]);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ReportLatency)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000)
    ->Iterations(1)
    ->Repetitions(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

long statusKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

void BM_DaemonRss(benchmark::State& state) {
  char folder[] = "/tmp/zvbench-XXXXXX";
  mkdtemp(folder);
  const std::string fifo = std::string(folder) + "/in";
  mkfifo(fifo.c_str(), 0600);
  const std::string services = std::string(folder) + "/services";
  const char* argv[] = {ZV_DRIVER_PATH, "--simulate", "0x1704",         "--input",
                        fifo.c_str(),   "--services", services.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  posix_spawn(&pid, ZV_DRIVER_PATH, &actions, nullptr, const_cast<char**>(argv), environ);
  const std::string path = services + "/com_Zenvor_driver_usb_Skarn@simulated-1704";
  UserClientConnection a, b;
  std::string error;
  for (int i = 0; i < 2000 && a.open(path, &error) != kReturnSuccess; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  b.open(path, &error);
  a.call(sSetElementEventCallback, {}, {}, 0, 0, &error);
  b.call(sSetElementEventCallback, {}, {}, 0, 0, &error);
  {
    std::ofstream in(fifo);
    for (int i = 0; i < 1000; ++i)
      in << (i % 2 ? "report 00 00 00 00 00 00 00\n" : "report 00 01 00 00 00 00 00\n");
  }
  for (int i = 0; i < 1000; ++i) {
    if (!a.readCompletion(5000, &error) || !b.readCompletion(5000, &error)) break;
  }
  for (auto _ : state) {
    state.counters["VmRSS_KiB"] = static_cast<double>(statusKiB(pid, "VmRSS"));
    state.counters["VmHWM_KiB"] = static_cast<double>(statusKiB(pid, "VmHWM"));
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_DaemonRss)->Iterations(1)->Repetitions(1);

}  // namespace

BENCHMARK_MAIN();
