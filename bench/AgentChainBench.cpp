// The whole chain through real processes, as a user runs it: a report goes into
// `zenvor-driver --simulate 0x1704`, the daemon rewrites it and sends the element event
// over its socket, `perch --headless --output record` routes it to the demo profile and
// the key appears in perch's record, stamped with CLOCK_MONOTONIC (the clock this
// program reads too).
//
//   BM_ReportToKeyThroughTheAgent   presses and releases of button 4 at 1 kHz, each
//                                   waited for; p50_us and p99_us from report written
//                                   to key recorded; RSS of both processes after it
//   BM_ResidentUnderLoad            reports at 1 kHz for ZV_BENCH_LOAD_SECONDS (default
//                                   10; 600 for ten minutes), not waited for; RSS (kB)
//                                   of perch and the daemon at the start and at the end
//
// Every root is in a temporary tree; both processes end with the benchmark.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testing/ChildProcess.h"
#include "testing/TemporaryTree.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A child whose standard output is handed line by line to a callback on a reader thread
// (and then forgotten, so a long run costs this program no memory).
class LineChild {
 public:
  LineChild(const std::vector<std::string>& argv, std::function<void(const std::string&)> onLine,
            std::map<std::string, std::string> environment = {})
      : onLine_(std::move(onLine)) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    zv::testing::ChildOptions options;
    options.environment = std::move(environment);
    options.standardInput = in[0];
    options.standardOutput = out[1];
    if (auto started = zv::testing::ChildProcess::start(argv, options)) {
      process_.emplace(std::move(*started));
    }
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    reader_ = std::thread([this, fd = out[0]] {
      std::string pending;
      char buffer[8192];
      for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
          if (errno == EINTR) continue;
          break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
             start = end + 1) {
          onLine_(pending.substr(start, end - start));
        }
        pending.erase(0, start);
      }
      ::close(fd);
    });
  }
  ~LineChild() {
    if (input_ >= 0) ::close(input_);
    if (process_) process_->stop();
    if (reader_.joinable()) reader_.join();
  }
  bool send(const std::string& line) {
    const std::string text = line + "\n";
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  pid_t pid() const { return process_ ? process_->pid() : -1; }

 private:
  std::function<void(const std::string&)> onLine_;
  std::optional<zv::testing::ChildProcess> process_;
  int input_ = -1;
  std::thread reader_;
};

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// "[  4711.000100] key KEY_PAGEDOWN down" → its time on the steady clock.
std::optional<Clock::time_point> stampOf(const std::string& line) {
  if (line.empty() || line[0] != '[') return std::nullopt;
  const double seconds = std::strtod(line.c_str() + 1, nullptr);
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

// The simulated demo mouse and a headless agent on it, connected.
class Chain {
 public:
  Chain()
      : daemon_({ZV_DRIVER_EXECUTABLE, "--simulate", "0x1704"}, [](const std::string&) {}),
        agent_({ZV_PERCH_EXECUTABLE, "--headless", "--output", "record"},
               [this](const std::string& line) { onRecord(line); },
               {{"KINETRA_SIMULATED_DEVICES", "1"}}) {}

  static void prepare(const zv::testing::TemporaryTree& tree) {
    fs::create_directories(tree.path("share/MainstreamDevices"));
    fs::create_symlink(fs::path(ZV_SOURCE_DIR) / "data/Devices/DemoMouse.bundle",
                       tree.path("share/MainstreamDevices/DemoMouse.bundle"));
  }

  // Until the profile's overrides are in place (the driver answers the last one).
  bool waitUntilConnected() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 15s, [&] { return overridden_; });
  }
  // The time of the next key line recorded after this call.
  std::optional<Clock::time_point> waitForKey(std::uint64_t after) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, 10s, [&] { return keys_ > after; })) return std::nullopt;
    return lastKey_;
  }
  std::uint64_t keys() {
    std::lock_guard lock(mutex_);
    return keys_;
  }
  bool report(bool pressed) {
    return daemon_.send(pressed ? "report 08 00 00 80 00 80 00" : "report 00 00 00 80 00 80 00");
  }
  pid_t agentPid() const { return agent_.pid(); }
  pid_t daemonPid() const { return daemon_.pid(); }

 private:
  void onRecord(const std::string& line) {
    const bool key = line.find("] key ") != std::string::npos;
    const bool override = line.find("] event 0x90010 0") != std::string::npos;
    if (!key && !override) return;
    {
      std::lock_guard lock(mutex_);
      if (override) overridden_ = true;
      if (key) {
        ++keys_;
        lastKey_ = stampOf(line).value_or(Clock::now());
      }
    }
    changed_.notify_all();
  }

  LineChild daemon_;
  LineChild agent_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool overridden_ = false;
  std::uint64_t keys_ = 0;
  Clock::time_point lastKey_;
};

void BM_ReportToKeyThroughTheAgent(benchmark::State& state) {
  zv::testing::TemporaryTree tree;
  Chain::prepare(tree);
  Chain chain;
  if (!chain.waitUntilConnected()) {
    state.SkipWithError("perch never connected to the simulated mouse");
    return;
  }
  std::vector<double> latencies;
  bool pressed = false;
  auto next = Clock::now();
  for (auto _ : state) {
    next += 1ms;
    pressed = !pressed;
    const std::uint64_t before = chain.keys();
    const auto sent = Clock::now();
    chain.report(pressed);
    const auto key = chain.waitForKey(before);
    if (!key) {
      state.SkipWithError("no key recorded within 10 s");
      break;
    }
    latencies.push_back(std::chrono::duration<double, std::micro>(*key - sent).count());
    std::this_thread::sleep_until(next);
    if (Clock::now() > next + 5ms) next = Clock::now();
  }
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  state.counters["p50_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  state.counters["perch_rss_kB"] = static_cast<double>(residentKilobytes(chain.agentPid()));
  state.counters["daemon_rss_kB"] = static_cast<double>(residentKilobytes(chain.daemonPid()));
}
BENCHMARK(BM_ReportToKeyThroughTheAgent)
    ->Iterations(2000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_ResidentUnderLoad(benchmark::State& state) {
  const char* setting = std::getenv("ZV_BENCH_LOAD_SECONDS");
  const auto duration = std::chrono::seconds(setting ? std::atol(setting) : 10);
  zv::testing::TemporaryTree tree;
  Chain::prepare(tree);
  Chain chain;
  if (!chain.waitUntilConnected()) {
    state.SkipWithError("perch never connected to the simulated mouse");
    return;
  }
  const long agentStart = residentKilobytes(chain.agentPid());
  const long daemonStart = residentKilobytes(chain.daemonPid());
  std::uint64_t reports = 0;
  for (auto _ : state) {
    const auto end = Clock::now() + duration;
    auto next = Clock::now();
    for (bool pressed = true; Clock::now() < end; pressed = !pressed) {
      chain.report(pressed);
      ++reports;
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
    // Everything sent has been answered before memory is read.
    chain.report(false);
    chain.waitForKey(chain.keys() > 0 ? chain.keys() - 1 : 0);
  }
  state.counters["reports"] = static_cast<double>(reports);
  state.counters["keys"] = static_cast<double>(chain.keys());
  state.counters["perch_rss_start_kB"] = static_cast<double>(agentStart);
  state.counters["perch_rss_end_kB"] = static_cast<double>(residentKilobytes(chain.agentPid()));
  state.counters["daemon_rss_start_kB"] = static_cast<double>(daemonStart);
  state.counters["daemon_rss_end_kB"] = static_cast<double>(residentKilobytes(chain.daemonPid()));
}
BENCHMARK(BM_ResidentUnderLoad)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
