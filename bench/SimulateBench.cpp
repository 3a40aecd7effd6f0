// kinetra simulate on scripts of growing length, run as a user runs it (a process, its
// output thrown away): the time per session should grow in proportion to the number of
// events. Each event presses or releases a button whose command types one key.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(ZV_SOURCE_DIR) / "data";

// A profile and a script of `events` events in a fresh folder.
fs::path prepare(std::size_t events) {
  const fs::path folder =
      fs::temp_directory_path() / ("kinetra-bench-simulate-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "Bench.pr0")
      << "[profile=Bench [controller=DemoMouse [controls [button=0x90005 ]] [shift={A} "
         "name=Normal [trigger=0x90005 [band=1 [command={C} name=Key [actionblock type=press "
         "[action page=0x7 usage=0x6 value=0x1 ] [action page=0x7 usage=0x6 ] ]]]] ]]]";
  std::ofstream script(folder / "bench.events");
  for (std::size_t i = 0; i < events; ++i) script << "+3 0x90005 " << (i % 2 == 0 ? 1 : 0) << "\n";
  return folder;
}

bool runSimulate(const fs::path& folder) {
  const std::string profile = (folder / "Bench.pr0").string();
  const std::string bundle = (kData / "Devices" / "DemoMouse.bundle").string();
  const std::string events = (folder / "bench.events").string();
  std::vector<char*> argv = {const_cast<char*>(ZV_KINETRA),      const_cast<char*>("simulate"),
                             const_cast<char*>(profile.c_str()), const_cast<char*>("--bundle"),
                             const_cast<char*>(bundle.c_str()),  const_cast<char*>("--events"),
                             const_cast<char*>(events.c_str()),  nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, ZV_KINETRA, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_SimulateEvents(benchmark::State& state) {
  const fs::path folder = prepare(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    if (!runSimulate(folder)) {
      state.SkipWithError("kinetra simulate failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}
BENCHMARK(BM_SimulateEvents)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
