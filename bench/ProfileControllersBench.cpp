// What the controllers cache saves a profile-store scan: asking which devices the demo
// default profile serves when the answer is cached (one stat and a lookup) against
// working it out (read, convert, collect; the 50 ms settle pause left out).
#include <benchmark/benchmark.h>

#include <chrono>

#include "profile/ProfileControllersCache.h"
#include "profile/Prototype.h"

namespace {

using namespace zv;

const char* const kProfile =
    ZV_SOURCE_DIR "/data/Devices/DemoMouse.bundle/Contents/Resources/Default.pr0";

json::DictionaryPtr prototype() {
  static const json::DictionaryPtr dictionary =
      profile::readPrototypeFile(ZV_SOURCE_DIR "/data/tevnodes.prototype");
  return dictionary;
}

void BM_ControllersCached(benchmark::State& state) {
  profile::ProfileControllersCache cache(prototype(), [](std::chrono::milliseconds) {});
  if (!cache.controllersInFile(kProfile)) state.SkipWithError("demo profile does not convert");
  for (auto _ : state) benchmark::DoNotOptimize(cache.controllersInFile(kProfile));
}
BENCHMARK(BM_ControllersCached);

void BM_ControllersConverted(benchmark::State& state) {
  profile::ProfileControllersCache cache(prototype(), [](std::chrono::milliseconds) {});
  for (auto _ : state) {
    cache.clear();
    benchmark::DoNotOptimize(cache.controllersInFile(kProfile));
  }
}
BENCHMARK(BM_ControllersConverted);

}  // namespace

BENCHMARK_MAIN();
