// From a report entering the simulated driver daemon to the key event at the library's
// recording output, through real processes: the line goes to `zenvor-driver --simulate`,
// whose report handler rewrites the report and sends the element event over the socket;
// the library's driver interface hands it to the controller, the demo profile's Page Down
// button starts its command and the key reaches the output. Presses and releases
// alternate at 1 kHz; p50 and p99 (microseconds) are counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "testing/LiveDemoMouse.h"

namespace {

using namespace zv;
using Clock = std::chrono::steady_clock;

void BM_ReportToKeyThroughTheDaemon(benchmark::State& state) {
  testing::LiveDemoMouse mouse(ZV_DRIVER_EXECUTABLE);
  std::string why;
  if (!mouse.connect(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  // The time of the first key event after each report, from the recorder's listener.
  std::atomic<std::int64_t> keyAt{0};
  mouse.output->setListener([&](const output::RecordedEvent& event) {
    if (event.type == 1 /* EV_KEY */) {
      std::int64_t none = 0;
      if (keyAt.compare_exchange_strong(none, Clock::now().time_since_epoch().count())) {
        platform::RunLoop::main().post(
            [] {});  // the key comes from a command thread: wake the loop
      }
    }
  });
  std::vector<double> latencies;
  bool pressed = false;
  auto next = Clock::now();
  for (auto _ : state) {
    next += std::chrono::milliseconds(1);
    keyAt = 0;
    pressed = !pressed;
    const auto sent = Clock::now();
    mouse.daemon.send(pressed ? "report 08 00 00 00 00 00 00" : "report 00 00 00 00 00 00 00");
    if (!mouse.runUntil([&] { return keyAt.load() != 0; })) {
      state.SkipWithError("no key event within 10 s");
      break;
    }
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::duration(keyAt.load()) -
                                                                  sent.time_since_epoch())
                            .count());
    // 1 kHz: the next report one millisecond after the last was due.
    std::this_thread::sleep_until(next);
    if (Clock::now() > next + std::chrono::milliseconds(5)) next = Clock::now();
  }
  mouse.output->setListener({});
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  state.counters["p50_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
}
BENCHMARK(BM_ReportToKeyThroughTheDaemon)
    ->Iterations(2000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
