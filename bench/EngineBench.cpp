// The engine's own costs, on the real clock:
//   - starting a command thread through the registry, beside a bare std::thread;
//   - the latency from an element event on the profile to the first key event reaching
//     the output backend (the demo profile's Page Down button), with its p50 and p99
//     over 10 000 presses as counters (microseconds).
// And on a manual clock, as `kinetra simulate` and the tests run it:
//   - one 1 ms step of the clock while N threads wait out long delays;
//   - a storm of 10 000 presses, one every 10 ms, of a 1.5 s macro.
#include <benchmark/benchmark.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "device/RecordingDriver.h"
#include "engine/Clock.h"
#include "engine/CommandThreads.h"
#include "engine/ZVProfile.h"
#include "output/RecordingOutput.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"

namespace {

using namespace zv;

const std::filesystem::path kData = std::filesystem::path(ZV_SOURCE_DIR) / "data";

// Launching a run whose body only signals, and waiting until that body has run.
void BM_CommandThreadStart(benchmark::State& state) {
  engine::CommandThreads& threads = engine::CommandThreads::shared();
  std::mutex mutex;
  std::condition_variable ran;
  bool done = false;
  for (auto _ : state) {
    done = false;
    threads.launch(
        [&] {
          std::lock_guard lock(mutex);
          done = true;
          ran.notify_one();
        },
        [] {});
    std::unique_lock lock(mutex);
    ran.wait(lock, [&] { return done; });
  }
  threads.waitIdle();
}
BENCHMARK(BM_CommandThreadStart)->UseRealTime();

// The same with a bare thread, created and joined.
void BM_StdThreadStartAndJoin(benchmark::State& state) {
  for (auto _ : state) {
    std::thread thread([] { benchmark::ClobberMemory(); });
    thread.join();
  }
}
BENCHMARK(BM_StdThreadStartAndJoin)->UseRealTime();

struct DemoEngine {
  DemoEngine() {
    const support::Bundle bundle(kData / "Devices" / "DemoMouse.bundle");
    device = std::make_shared<device::DeviceController>(device::deviceDescriptions(bundle).at(0),
                                                        bundle.bundlePath());
    device->setDriverInterface(std::make_shared<device::RecordingDriver>());
    output = std::make_shared<output::RecordingOutput>();
    output::setSharedOutput(output);
    json::DictionaryPtr prototype = profile::readPrototypeFile(kData / "tevnodes.prototype");
    auto json =
        profile::loadProfileJSON(bundle.resourcePath() / "Default.pr0", json::Value(prototype));
    profile = engine::ZVProfile::create();
    profile->loadFromJSON(json->asDictionary(), prototype, device);
    profile->updateActiveShiftState();
  }
  ~DemoEngine() {
    profile->deactivate();
    engine::CommandThreads::shared().cancelAndJoinAll();
    output::setSharedOutput(nullptr);
  }
  std::shared_ptr<device::DeviceController> device;
  std::shared_ptr<output::RecordingOutput> output;
  std::shared_ptr<engine::ZVProfile> profile;
};

void BM_ElementEventToFirstKey(benchmark::State& state) {
  DemoEngine engine;
  using Clock = std::chrono::steady_clock;
  std::mutex mutex;
  std::condition_variable arrived;
  std::optional<Clock::time_point> firstKey;
  engine.output->setListener([&](const output::RecordedEvent&) {
    std::lock_guard lock(mutex);
    if (!firstKey) {
      firstKey = Clock::now();
      arrived.notify_one();
    }
  });
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(state.max_iterations));
  constexpr std::uint32_t kPageDownButton = 0x90004;
  for (auto _ : state) {
    {
      std::lock_guard lock(mutex);
      firstKey.reset();
    }
    const Clock::time_point pressed = Clock::now();
    engine.profile->onElementEvent(kPageDownButton, 1, 0);
    {
      std::unique_lock lock(mutex);
      arrived.wait(lock, [&] { return firstKey.has_value(); });
      const std::chrono::duration<double> latency = *firstKey - pressed;
      state.SetIterationTime(latency.count());
      latencies.push_back(latency.count() * 1e6);
    }
    engine.profile->onElementEvent(kPageDownButton, 0, 0);
    engine::CommandThreads::shared().waitIdle();
    if (latencies.size() % 1024 == 0) engine.output->clear();
  }
  std::sort(latencies.begin(), latencies.end());
  auto percentile = [&](double p) {
    return latencies.empty() ? 0.0
                             : latencies[static_cast<std::size_t>(p * (latencies.size() - 1))];
  };
  state.counters["p50_us"] = percentile(0.50);
  state.counters["p99_us"] = percentile(0.99);
  state.counters["max_us"] = latencies.empty() ? 0.0 : latencies.back();
}
BENCHMARK(BM_ElementEventToFirstKey)
    ->UseManualTime()
    ->Iterations(10000)
    ->Unit(benchmark::kMicrosecond);

// N threads wait a year; each iteration moves the clock by 1 ms, which ends no wait, and
// lets the threads settle as `kinetra simulate` does before it moves time again.
void BM_ManualClockStepWithLongWaits(benchmark::State& state) {
  engine::ManualClock clock;
  const auto waiters = static_cast<std::size_t>(state.range(0));
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < waiters; ++i) {
    threads.emplace_back([&clock] { engine::sleepFor(clock, std::chrono::hours(24 * 365)); });
  }
  clock.waitForWaiters(waiters);
  for (auto _ : state) {
    clock.advance(std::chrono::milliseconds(1));
    clock.waitForWaiters(waiters);
  }
  clock.advance(std::chrono::hours(2 * 24 * 365));
  for (std::thread& thread : threads) thread.join();
}
BENCHMARK(BM_ManualClockStepWithLongWaits)
    ->Arg(0)
    ->Arg(100)
    ->Arg(1000)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// 10 000 presses and releases of button 1, one every 10 ms of simulated time, on a macro
// of 1.5 s (A, B with 0.5 s between the actions). Counters: the most runs at once and
// the presses refused by the bound.
void BM_PressStormOfALongMacro(benchmark::State& state) {
  const std::string text =
      "[profile=Storm [controller=DemoMouse [controls [button=0x90001 ] ] "
      "[shift={5A56D3E0-0000-4000-8000-000000000001} name=Normal [trigger=0x90001 [band=1 "
      "[command={00000000-0000-4000-8000-000000000001} name=Macro [actionblock "
      "[action page=0x7 usage=0x4 value=0x1 ] [action page=0x7 usage=0x4 time=0x1f4 ] "
      "[action page=0x7 usage=0x5 value=0x1 time=0x1f4 ] [action page=0x7 usage=0x5 "
      "time=0x1f4 ] ] ] ] ] ] ] ]";
  std::size_t most = 0;
  std::size_t refused = 0;
  for (auto _ : state) {
    DemoEngine engine;
    auto clock = std::make_shared<engine::ManualClock>();
    json::DictionaryPtr prototype = profile::readPrototypeFile(kData / "tevnodes.prototype");
    auto json = profile::tevnodes2json(text, json::Value(prototype));
    auto storm = engine::ZVProfile::create();
    storm->setClock(clock);
    storm->loadFromJSON(json->asDictionary(), prototype, engine.device);
    storm->updateActiveShiftState();
    engine::CommandThreads& threads = engine::CommandThreads::shared();
    const auto start = clock->now();
    for (int press = 1; press <= 10'000; ++press) {
      storm->onElementEvent(0x90001, 1, 0);
      storm->onElementEvent(0x90001, 0, 0);
      most = std::max(most, threads.active());
      engine::advanceClockTo(*clock, start + std::chrono::milliseconds(10 * press));
    }
    engine::advanceClockTo(*clock, start + std::chrono::seconds(102));
    threads.waitIdle();
    std::size_t started = 0;
    for (const output::RecordedEvent& event : engine.output->events()) {
      if (event.code == KEY_A && event.value == 1) ++started;
    }
    refused = 10'000 - started;
    storm->deactivate();
  }
  state.counters["most_runs"] = static_cast<double>(most);
  state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_PressStormOfALongMacro)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
