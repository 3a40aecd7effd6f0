// Cost of one key press and release through ZVKeyboard: into the recording backend, and
// into the uinput backend with a device that accepts and discards the writes (so the
// figure is the encoding, locking and dispatch, without the kernel's share).
#include <benchmark/benchmark.h>

#include <memory>

#include "output/RecordingOutput.h"
#include "output/UinputOutput.h"
#include "output/ZVKeyboard.h"
#include "output/ZVMouse.h"

namespace {

using namespace zv::output;

class DiscardingDevice : public UinputDevice {
 public:
  int write(const RawEvent& event) override {
    benchmark::DoNotOptimize(event);
    return 0;
  }
};

class DiscardingFactory : public UinputFactory {
 public:
  std::unique_ptr<UinputDevice> create(const VirtualDeviceSetup&, int*) override {
    return std::make_unique<DiscardingDevice>();
  }
};

// Seconds per key event (a press and a release are two events).
void countEvents(benchmark::State& state, double eventsPerIteration) {
  state.counters["per_event"] =
      benchmark::Counter(eventsPerIteration, benchmark::Counter::kIsIterationInvariantRate |
                                                 benchmark::Counter::kInvert);
}

void BM_KeyPressReleaseRecording(benchmark::State& state) {
  auto output = std::make_shared<RecordingOutput>();
  ZVKeyboard keyboard(output);
  std::size_t n = 0;
  for (auto _ : state) {
    keyboard.setKeyForPage(7, 0x04, 1);
    keyboard.setKeyForPage(7, 0x04, 0);
    // Keep the recording small; clear() keeps its capacity, so this costs little.
    if (++n % 4096 == 0) output->clear();
  }
  countEvents(state, 2);
}
BENCHMARK(BM_KeyPressReleaseRecording);

void BM_KeyPressReleaseUinputEncoder(benchmark::State& state) {
  auto output = std::make_shared<UinputOutput>(
      UinputOutput::Options{std::make_shared<DiscardingFactory>(), std::chrono::milliseconds(0)});
  output->prepare();
  ZVKeyboard keyboard(output);
  for (auto _ : state) {
    keyboard.setKeyForPage(7, 0x04, 1);
    keyboard.setKeyForPage(7, 0x04, 0);
  }
  countEvents(state, 2);
}
BENCHMARK(BM_KeyPressReleaseUinputEncoder);

void BM_VolumeKeyUinputEncoder(benchmark::State& state) {
  auto output = std::make_shared<UinputOutput>(
      UinputOutput::Options{std::make_shared<DiscardingFactory>(), std::chrono::milliseconds(0)});
  output->prepare();
  ZVKeyboard keyboard(output);
  for (auto _ : state) {
    keyboard.setKeyForPage(12, 0xE9, 1);
    keyboard.setKeyForPage(12, 0xE9, 0);
  }
  countEvents(state, 2);
}
BENCHMARK(BM_VolumeKeyUinputEncoder);

void BM_WheelStepUinputEncoder(benchmark::State& state) {
  auto output = std::make_shared<UinputOutput>(
      UinputOutput::Options{std::make_shared<DiscardingFactory>(), std::chrono::milliseconds(0)});
  output->prepare();
  ZVMouse mouse(output);
  for (auto _ : state) mouse.scrollMouse(3, false);
  countEvents(state, 1);
}
BENCHMARK(BM_WheelStepUinputEncoder);

}  // namespace

BENCHMARK_MAIN();
