// Read and write throughput of the JSON reader and writer on a ~1 MB document shaped
// like a large profile's JSON, beside RapidJSON's DOM on the same bytes, and how fast
// ours runs as a fraction of RapidJSON's speed (medians of CPU time).
//
// Figures of this kind move between machines for reasons that have nothing to do with
// the code, so the run is set up to hold them still:
//   - The repetitions of all benchmarks are interleaved in random order, so a neighbour's
//     build that starts halfway slows both libraries alike instead of one of them.
//   - The ratios are taken from CPU time, which a preempted process does not accumulate.
//   - The heap is kept (see main) and released memory is merged when it is freed, so
//     each iteration measures the work it names, not page faults or the clean-up of the
//     previous iteration's tree.
//   - The build type is printed; a build without optimisation is reported as such.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"

#ifdef ZV_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif

namespace {

// A profile: controllers with controls, shift states with command triggers, bands,
// commands and action blocks; every object with its "_obj_order" list.
std::string makeProfileJson(std::size_t targetBytes) {
  std::string json =
      "{\"name\":\"Large profile\",\"_obj_order\":[\"profile\",\"name\",\"controller\","
      "\"shiftstate\"],\"controller\":{\"controller\":\"1704\",\"_obj_order\":[\"controller\"]},"
      "\"shiftstates\":[";
  for (int state = 0; json.size() < targetBytes; ++state) {
    if (state) json += ",";
    json += "{\"shiftstate\":\"S" + std::to_string(state) + "\",\"guid\":\"{6F1C-" +
            std::to_string(state) +
            "}\",\"_obj_order\":[\"shiftstate\",\"guid\",\"trigger\"],\"triggers\":[";
    for (int t = 0; t < 40; ++t) {
      if (t) json += ",";
      json += "{\"trigger\":\"0x9000" + std::to_string(t % 10) +
              "\",\"latched\":\"1\",\"_obj_order\":[\"trigger\",\" latched\",\"band\"],"
              "\"band_group\":[{\"band\":\"1\",\"command\":{\"command\":\"Keystroke A\","
              "\"_obj_order\":[\"command\",\"press\"],\"press\":{\"action\":\"\","
              "\"_obj_order\":[\"action\",\"key\",\"delay\"],\"key\":\"0x70004\",\"delay\":0.025,"
              "\"repeat\":true}}},{\"band\":\"2\",\"description\":\"Copy \\/ paste\","
              "\"_obj_order\":[\"band\",\"description\"]}]}";
    }
    json += "]}";
  }
  json += "]}";
  return json;
}

const std::string& document() {
  static const std::string json = makeProfileJson(1 << 20);
  return json;
}

void BM_ReadOurs(benchmark::State& state) {
  const std::string& json = document();
  for (auto _ : state) {
    auto value = zv::json::CJSONDeserializer().deserialize(json);
    benchmark::DoNotOptimize(value);
    // Reading is timed, releasing the tree is not (RapidJSON's arena releases at once).
    state.PauseTiming();
    value.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_ReadOurs)->Unit(benchmark::kMillisecond);

// Reading and releasing the tree, both timed: what loading a profile's JSON costs in all.
void BM_ReadAndReleaseOurs(benchmark::State& state) {
  const std::string& json = document();
  for (auto _ : state) {
    // Released at the end of the block, inside the timing.
    auto value = zv::json::CJSONDeserializer().deserialize(json);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_ReadAndReleaseOurs)->Unit(benchmark::kMillisecond);

void BM_WriteOurs(benchmark::State& state) {
  const std::string& json = document();
  auto value = zv::json::CJSONDeserializer().deserialize(json);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string out = zv::json::CJSONSerializer().serializeObject(*value).valueOr("");
    bytes = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteOurs)->Unit(benchmark::kMillisecond);

#ifdef ZV_HAVE_RAPIDJSON
void BM_ReadRapidJSON(benchmark::State& state) {
  const std::string& json = document();
  for (auto _ : state) {
    auto doc = std::make_unique<rapidjson::Document>();
    doc->Parse(json.data(), json.size());
    benchmark::DoNotOptimize(doc);
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_ReadRapidJSON)->Unit(benchmark::kMillisecond);

void BM_ReadAndReleaseRapidJSON(benchmark::State& state) {
  const std::string& json = document();
  for (auto _ : state) {
    auto doc = std::make_unique<rapidjson::Document>();
    doc->Parse(json.data(), json.size());
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_ReadAndReleaseRapidJSON)->Unit(benchmark::kMillisecond);

void BM_WriteRapidJSON(benchmark::State& state) {
  const std::string& json = document();
  rapidjson::Document doc;
  doc.Parse(json.data(), json.size());
  std::size_t bytes = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    bytes = buffer.GetSize();
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteRapidJSON)->Unit(benchmark::kMillisecond);
#endif

// The console report, then each of our benchmarks as a fraction of RapidJSON's speed on
// the same work: "BM_ReadOurs" beside "BM_ReadRapidJSON", from the medians of the
// repetitions (or the single run without repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (median || single) cpuTime_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    bool heading = false;
    for (const auto& [name, ours] : cpuTime_) {
      const std::string suffix = "Ours";
      if (name.size() <= suffix.size() ||
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        continue;
      }
      const std::string work = name.substr(0, name.size() - suffix.size());
      const auto rapid = cpuTime_.find(work + "RapidJSON");
      if (rapid == cpuTime_.end() || ours <= 0) continue;
      if (!heading) {
        out << "\nSpeed of ours as a fraction of RapidJSON's (median CPU time):\n";
        heading = true;
      }
      char line[160];
      std::snprintf(line, sizeof line, "  %-24s ours %8.3f ms  RapidJSON %8.3f ms  -> %.2fx\n",
                    work.substr(3).c_str(), ours, rapid->second, rapid->second / ours);
      out << line;
    }
  }

 private:
  std::map<std::string, double> cpuTime_;
};

}  // namespace

int main(int argc, char** argv) {
  // Each iteration builds and releases a tree of several megabytes. By default glibc
  // hands freed heap back to the kernel and the next iteration faults it in again,
  // so the figures would mostly measure page faults. Keep the heap, as a long-running
  // process does; this applies to both readers alike.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  // Small blocks freed into glibc's fast bins are merged only at a later large request:
  // the release of one iteration's tree (untimed) was paid inside the next timed read,
  // a quarter of it in malloc_consolidate. Without fast bins a release is done when it
  // returns. BM_ReadAndRelease* time both halves together.
  mallopt(M_MXFAST, 0);

  // Interleaved repetitions unless the command line says otherwise (later flags win).
  std::vector<char*> arguments(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), interleave);
  int count = static_cast<int>(arguments.size());
  benchmark::AddCustomContext("build", ZV_BUILD_TYPE);
#ifndef __OPTIMIZE__
  benchmark::AddCustomContext("warning", "built without optimisation: figures mean nothing");
#endif
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
