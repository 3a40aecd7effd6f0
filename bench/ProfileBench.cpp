// Loading and saving profiles of 10, 100 and 1000 triggers.
//
//   Load   profile file bytes (UTF-16) → node text → JSON → object tree built from the
//          prototype text, numbered, references resolved, loadCompleted run
//   Read   node text → JSON only (tevnodes2json)
//   Build  JSON → object tree only (setJSON on a parsed dictionary)
//   Save   object tree → JSON → node text → file bytes (UTF-16)
//   SaveChecked  Save plus the read-back check that saving does before it writes
//
// Each reports the time per profile and, as "per_trigger", per trigger; equal
// per-trigger figures across sizes mean the cost grows linearly. Load and Read also pay
// for freeing the previous iteration's tree, as a reload does.
#include <benchmark/benchmark.h>

#include <string>

#include "json/Value.h"
#include "platform/ReadFile.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "profile/ZVPrototypedObject.h"

namespace {

using namespace zv;

const std::string& prototypeText() {
  static const std::string text = [] {
    return platform::readFile(ZV_SOURCE_DIR "/data/tevnodes.prototype").valueOr(std::string());
  }();
  return text;
}

std::string guid(int n) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "{5A56D3E0-1704-4000-8000-%012X}", n);
  return buffer;
}

// A profile shaped like the demo's: one controller with its 20 controls; shift states of
// up to 100 triggers, each state after the first falling back to the first; each
// trigger one band whose command has a press block (key down, key up) and a release
// block (one key up). The text is the writer's own, so it round-trips.
std::string makeProfileText(int triggers) {
  std::string text = "[profile=Bench [controller=DemoMouse [controls";
  char control[32];
  for (int b = 1; b <= 16; ++b) {
    std::snprintf(control, sizeof control, " [button=0x%x ]", 0x90000 + b);
    text += control;
  }
  text += " [wheel=0x10038 ] [hat=0x10039 ] [axis=0x10030 ] [axis=0x10031 ]]";
  for (int t = 0; t < triggers; ++t) {
    if (t % 100 == 0) {
      if (t) text += "]";
      text += " [shift=" + guid(t / 100 + 1) + " name='State " + std::to_string(t / 100) + "'";
      if (t) text += " fallback=" + guid(1);
    }
    char element[16];
    std::snprintf(element, sizeof element, "0x%x", 0x90001 + t % 16);
    text += " [trigger=" + std::string(element) + " [band=1 [command=" + guid(0x1000 + t) +
            " name='Key " + std::to_string(t) +
            "' [actionblock [action page=0x7 usage=0x4 value=0x1 ] [action page=0x7 usage=0x4 ]]"
            " [actionblock type=release [action page=0x7 usage=0xe1 ]]]]]";
  }
  if (triggers) text += "]";
  text += "]]";
  // Normalise through the writer so that the text is exactly what a save produces.
  auto prototype = profile::parsePrototype(prototypeText());
  auto json = profile::tevnodes2json(text, json::Value(prototype));
  if (!json) return {};
  auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype);
  root->setJSON(json->asDictionary());
  return profile::json2tevnodes(json::Value(root->JSONDictionary()), json::Value(prototype))
      .value_or(std::string());
}

void perTrigger(benchmark::State& state) {
  state.counters["per_trigger"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Load(benchmark::State& state) {
  const std::string bytes = profile::encodeProfileText(makeProfileText(state.range(0)));
  for (auto _ : state) {
    auto text = profile::decodeProfileText(bytes);
    auto prototype = profile::parsePrototype(prototypeText());
    auto json = profile::tevnodes2json(*text, json::Value(prototype));
    auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype);
    root->setJSON(json->asDictionary());
    benchmark::DoNotOptimize(root);
  }
  perTrigger(state);
}

void BM_Read(benchmark::State& state) {
  const std::string text = makeProfileText(state.range(0));
  const json::Value prototype(profile::parsePrototype(prototypeText()));
  for (auto _ : state) {
    auto json = profile::tevnodes2json(text, prototype);
    benchmark::DoNotOptimize(json);
  }
  perTrigger(state);
}

void BM_Build(benchmark::State& state) {
  const std::string text = makeProfileText(state.range(0));
  auto prototype = profile::parsePrototype(prototypeText());
  const json::Value json = *profile::tevnodes2json(text, json::Value(prototype));
  for (auto _ : state) {
    state.PauseTiming();
    json::DictionaryPtr copy = json.deepCopy().asDictionary();  // setJSON takes it over
    state.ResumeTiming();
    auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype);
    root->setJSON(std::move(copy));
    benchmark::DoNotOptimize(root);
  }
  perTrigger(state);
}

void save(benchmark::State& state, bool checked) {
  auto prototype = profile::parsePrototype(prototypeText());
  auto json = profile::tevnodes2json(makeProfileText(state.range(0)), json::Value(prototype));
  auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype);
  root->setJSON(json->asDictionary());
  const json::Value proto(prototype);
  for (auto _ : state) {
    auto text = profile::json2tevnodes(json::Value(root->JSONDictionary()), proto);
    if (checked) benchmark::DoNotOptimize(profile::tevnodes2json(*text, proto));
    auto bytes = profile::encodeProfileText(*text);
    benchmark::DoNotOptimize(bytes);
  }
  perTrigger(state);
}

void BM_Save(benchmark::State& state) {
  save(state, false);
}
void BM_SaveChecked(benchmark::State& state) {
  save(state, true);
}

}  // namespace

BENCHMARK(BM_Load)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Read)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Build)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Save)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveChecked)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
