// Cost of one input report through the report path (ReportPipeline::handleReport, which
// runs ZVReportHandler::handleReport), for the type-1 layout of the demo mouse (no report
// IDs, 7 bytes), the type-2 replacement descriptor (report IDs, 16-byte game pad report),
// and two mice without a configuration read from data/mice: the receiver that splits its
// buttons (report 1) from its 12-bit X and Y (report 2) beside a consumer report 3, and the
// sixteen-button mouse with 16-bit fields behind report ID 0x1A; each with and without
// precision aim and overrides. The mouse reporter runs its real thread.
//
// Every allocation of the process is counted (global operator new is replaced below); the
// "allocs/report" counter must stay 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/ReportPipeline.h"
#include "core/SampleDescriptors.h"
#include "replay/DescriptorFile.h"

namespace {
std::atomic<std::uint64_t> gAllocations{0};
}  // namespace

// GCC sees malloc inside operator new and free inside operator delete and calls the pair
// mismatched; for a replacement of the global operators that pairing is the point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using zv::driver::ReportPipeline;
using zv::driver::ZVReportHandler;

class CountingClient : public zv::driver::ZVUserClient {
 public:
  void sendElementEvent(std::uint32_t, std::uint64_t, std::uint32_t) override { ++events; }
  std::uint64_t events = 0;
};

// Alternates between the given raw reports, copying each into the read buffer as a driver
// does, and reports the allocations made per report.
void run(benchmark::State& state, ReportPipeline& pipeline,
         const std::vector<std::vector<std::uint8_t>>& reports) {
  std::uint8_t buffer[64];
  std::size_t next = 0;
  const std::uint64_t before = gAllocations.load();
  for (auto _ : state) {
    const auto& raw = reports[next];
    next = next + 1 == reports.size() ? 0 : next + 1;
    std::memcpy(buffer, raw.data(), raw.size());
    pipeline.handleReport(buffer, raw.size());
    benchmark::DoNotOptimize(buffer);
  }
  const std::uint64_t allocations = gAllocations.load() - before;
  state.counters["allocs/report"] = benchmark::Counter(static_cast<double>(allocations) /
                                                       static_cast<double>(state.iterations()));
  state.counters["allocs"] = static_cast<double>(allocations);
}

std::unique_ptr<ReportPipeline> makePipeline(std::uint16_t product, int type) {
  return std::make_unique<ReportPipeline>(product, zv::driver::sampleDescriptorForType(type),
                                          [](const std::uint8_t*, std::size_t) {});
}

// Type 1: buttons 9-11 overridden from the start, nothing pressed, no precision.
void BM_Type1_Plain(benchmark::State& state) {
  auto pipeline = makePipeline(0x1704, 1);
  CountingClient client;
  pipeline->reportHandler()->addUserClient(&client);
  run(state, *pipeline, {{0x00, 0x00, 0x05, 0x00, 0xFB, 0xFF, 0x00}});
}
BENCHMARK(BM_Type1_Plain);

// Type 1 with the precision button held (X and Y scaled) and overridden button 9 pressed
// and released on alternate reports (cleared, one element event per change), plus a mask.
void BM_Type1_PrecisionAndOverrides(benchmark::State& state) {
  auto pipeline = makePipeline(0x1704, 1);
  CountingClient client;
  pipeline->reportHandler()->addUserClient(&client);
  pipeline->reportHandler()->setButtonOverrides(0x4);
  run(state, *pipeline,
      {{0x20, 0x01, 0xF9, 0xFF, 0x07, 0x00, 0x00}, {0x20, 0x00, 0xF9, 0xFF, 0x07, 0x00, 0x00}});
  benchmark::DoNotOptimize(client.events);
}
BENCHMARK(BM_Type1_PrecisionAndOverrides);

// Type 2 replacement descriptor: the 16-byte game pad report, axes centred, nothing set.
void BM_Type2_Plain(benchmark::State& state) {
  auto pipeline = makePipeline(0x5263, 2);
  run(state, *pipeline,
      {{0x01, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00,
        0x00}});
}
BENCHMARK(BM_Type2_Plain);

// Type 2 with precision (button 1 held), buttons 2-4 overridden (button 2 toggling), the hat
// held as X axis (the reporter thread steps meanwhile) and Vx as Y axis.
void BM_Type2_PrecisionOverridesAndAxes(benchmark::State& state) {
  auto pipeline = makePipeline(0x5263, 2);
  ZVReportHandler& handler = *pipeline->reportHandler();
  CountingClient client;
  handler.addUserClient(&client);
  handler.setPrecAimPercentage(0x90001, 50);
  for (std::uint32_t button = 2; button <= 4; ++button)
    handler.setElementOverride(0x90000 + button, true);
  handler.setHatElement(0x10039);
  handler.setMouseAxis(0x10039, 1);
  handler.setMouseAxis(0x10040, 2);
  run(state, *pipeline,
      {{0x01, 0x03, 0x00, 0x03, 0x00, 0x90, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00,
        0x00},
       {0x01, 0x01, 0x00, 0x03, 0x00, 0x90, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00,
        0x00}});
  benchmark::DoNotOptimize(client.events);
}
BENCHMARK(BM_Type2_PrecisionOverridesAndAxes);

std::unique_ptr<ReportPipeline> makeMousePipeline(const char* name) {
  std::string error;
  const auto descriptor = zv::driver::replay::readDescriptorFile(
      std::string(ZV_SOURCE_DIR) + "/data/mice/" + name + ".hid", &error);
  if (!descriptor) {
    std::fprintf(stderr, "bench_report_handler: %s\n", error.c_str());
    std::exit(1);
  }
  return std::make_unique<ReportPipeline>(0x0B00, *descriptor,
                                          [](const std::uint8_t*, std::size_t) {});
}

// The split receiver, nothing set: its buttons report, its motion report and its consumer
// report in turn.
void BM_SplitReceiver_Plain(benchmark::State& state) {
  auto pipeline = makeMousePipeline("split-receiver");
  run(state, *pipeline, {{0x01, 0x01, 0x00, 0x00}, {0x02, 0x03, 0xD0, 0xFF}, {0x03, 0xE9, 0x00}});
}
BENCHMARK(BM_SplitReceiver_Plain);

// The split receiver with precision on button 5 (held in report 1, scaling the 12-bit X and
// Y of report 2 with their remainder), button 4 overridden and toggling, button 2 forced.
// One mouse of data/mice with precision at 50 % on one button, another overridden and a
// mask forced, run over the given reports.
void runWithPrecisionAndOverrides(benchmark::State& state, const char* mouse,
                                  std::uint32_t precision, std::uint32_t overridden,
                                  std::uint64_t mask,
                                  const std::vector<std::vector<std::uint8_t>>& reports) {
  auto pipeline = makeMousePipeline(mouse);
  ZVReportHandler& handler = *pipeline->reportHandler();
  CountingClient client;
  handler.addUserClient(&client);
  handler.setPrecAimPercentage(precision, 50);
  handler.setElementOverride(overridden, true);
  handler.setButtonOverrides(mask);
  run(state, *pipeline, reports);
  benchmark::DoNotOptimize(client.events);
}

void BM_SplitReceiver_PrecisionAndOverrides(benchmark::State& state) {
  runWithPrecisionAndOverrides(state, "split-receiver", 0x90005, 0x90004, 0x2,
                               {{0x01, 0x18, 0x00, 0x00},
                                {0x02, 0x03, 0xD0, 0xFF},
                                {0x01, 0x10, 0x00, 0x00},
                                {0x02, 0x03, 0xD0, 0xFF}});
}
BENCHMARK(BM_SplitReceiver_PrecisionAndOverrides);

// The sixteen-button mouse, nothing set: 11-byte reports with ID 0x1A.
void BM_SixteenButton_Plain(benchmark::State& state) {
  auto pipeline = makeMousePipeline("sixteen-button");
  run(state, *pipeline, {{0x1A, 0x01, 0x00, 0x05, 0x00, 0xFB, 0xFF, 0x01, 0x00, 0x00, 0x00}});
}
BENCHMARK(BM_SixteenButton_Plain);

// The sixteen-button mouse with precision on button 6 held, button 9 overridden and
// toggling, and button 16 forced.
void BM_SixteenButton_PrecisionAndOverrides(benchmark::State& state) {
  runWithPrecisionAndOverrides(
      state, "sixteen-button", 0x90006, 0x90009, 0x8000,
      {{0x1A, 0x20, 0x01, 0xF9, 0xFF, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00},
       {0x1A, 0x20, 0x00, 0xF9, 0xFF, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00}});
}
BENCHMARK(BM_SixteenButton_PrecisionAndOverrides);

}  // namespace

BENCHMARK_MAIN();
