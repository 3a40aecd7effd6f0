// Read and write throughput of the JSON reader and writer on a ~1 MB document shaped
// like a large profile's JSON, beside RapidJSON's DOM on the same bytes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>

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

void BM_WriteOurs(benchmark::State& state) {
  const std::string& json = document();
  auto value = zv::json::CJSONDeserializer().deserialize(json);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string out = zv::json::CJSONSerializer().serializeObject(*value);
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

}  // namespace

int main(int argc, char** argv) {
  // Each iteration builds and releases a tree of several megabytes. By default glibc
  // hands freed heap back to the kernel and the next iteration faults it in again,
  // so the figures would mostly measure page faults. Keep the heap, as a long-running
  // process does; this applies to both readers alike.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
