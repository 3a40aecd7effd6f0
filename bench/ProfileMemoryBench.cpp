// Time and memory of loading profiles from 1 to 1000 times the size of the demo mouse's
// profile (up to the 16 MiB a profile file may have), to show how they grow:
//
//   check  what `kinetra profile check` does: file → node text → JSON → object tree
//   load   what the agent does: ZVProfile::initFromFile for the demo mouse
//   kept   the memory still held once the loaded profile is dropped (switching away),
//          as the allocator leaves it
//   after  the same once the freed memory is handed back (what the store does)
//
// Each measure runs in a fresh child process, so one size's memory never counts for the
// next: the peak is the child's high-water mark (VmHWM) above what it held before
// loading, the "after" figure its resident memory (VmRSS) above the same start. Times are
// medians of the runs (BENCH_REPETITIONS, default 5); memory is the median too.
//
//   bench_profile_memory [MULTIPLE…] [FILE.pr0…]   default: 1 3 10 30 100 300 1000
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GeneratedProfile.h"
#include "engine/ZVProfile.h"
#include "json/Value.h"
#include "platform/FreedMemory.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "profile/ZVPrototypedObject.h"
#include "testing/EngineHarness.h"

namespace {

using namespace zv;
namespace fs = std::filesystem;

// The demo mouse's profile file, in bytes: the unit of the sizes.
std::size_t demoProfileBytes() {
  std::error_code ec;
  return static_cast<std::size_t>(fs::file_size(
      ZV_SOURCE_DIR "/data/Devices/DemoMouse.bundle/Contents/Resources/Default.pr0", ec));
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return 0;
}

struct Measure {
  double milliseconds = 0;
  double peakMiB = 0;   // above the start
  double keptMiB = 0;   // above the start, the profile dropped
  double afterMiB = 0;  // the same, the freed memory handed back
};

// Runs in the child: what one phase costs.
Measure measureInChild(const fs::path& file, bool asAgent) {
  // Everything a load needs once anyway (the prototype, the device) is made first.
  auto prototype = profile::parsePrototype(bench::prototypeText());
  engine::ZVProfile::setSharedPrototype(prototype);
  auto device = asAgent ? testing::makeDemoDevice() : nullptr;
  // What setting up freed is given back first, so that it does not hide the load's growth.
  platform::releaseFreedMemory();
  const long start = statusKiB("VmRSS");
  // The high-water mark starts here: writing 5 to clear_refs resets it.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const auto began = std::chrono::steady_clock::now();
  Measure measure;
  {
    std::shared_ptr<void> held;
    if (asAgent) {
      auto loaded = engine::ZVProfile::create();
      loaded->initFromFile(file, device);
      held = loaded;
    } else {
      auto text = profile::readProfileText(file);
      auto json = profile::tevnodes2json(profile::replaceNewlines(*text), json::Value(prototype));
      auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype);
      root->setJSON(json->asDictionary());
      held = root;
    }
    measure.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    measure.peakMiB = static_cast<double>(statusKiB("VmHWM") - start) / 1024.0;
  }
  measure.keptMiB = static_cast<double>(statusKiB("VmRSS") - start) / 1024.0;
  platform::releaseFreedMemory();
  measure.afterMiB = static_cast<double>(statusKiB("VmRSS") - start) / 1024.0;
  return measure;
}

Measure measure(const fs::path& file, bool asAgent) {
  int pipe[2];
  if (::pipe(pipe) != 0) std::exit(1);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    const Measure m = measureInChild(file, asAgent);
    [[maybe_unused]] ssize_t n = ::write(pipe[1], &m, sizeof m);
    ::_exit(0);
  }
  ::close(pipe[1]);
  Measure m;
  const bool read = ::read(pipe[0], &m, sizeof m) == static_cast<ssize_t>(sizeof m);
  ::close(pipe[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!read) std::fprintf(stderr, "a measuring child failed\n");
  return m;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// One row of the table: the medians of `repetitions` fresh measures of `file`.
void printRow(const std::string& label, const fs::path& file, int repetitions) {
  std::error_code ec;
  const double fileMiB = static_cast<double>(fs::file_size(file, ec)) / (1024.0 * 1024.0);
  std::vector<double> checkMs, checkMiB, loadMs, loadMiB, keptMiB, afterMiB;
  for (int r = 0; r < repetitions; ++r) {
    const Measure check = measure(file, false);
    const Measure load = measure(file, true);
    checkMs.push_back(check.milliseconds);
    checkMiB.push_back(check.peakMiB);
    loadMs.push_back(load.milliseconds);
    loadMiB.push_back(load.peakMiB);
    keptMiB.push_back(load.keptMiB);
    afterMiB.push_back(load.afterMiB);
  }
  std::printf("%12s %9.2f %9.1f %10.1f %8.1f %9.1f %10.1f %8.1f %9.1f %9.1f\n", label.c_str(),
              fileMiB, median(checkMs), median(checkMiB), median(checkMiB) / fileMiB,
              median(loadMs), median(loadMiB), median(loadMiB) / fileMiB, median(keptMiB),
              median(afterMiB));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> multiples;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.find_first_not_of("0123456789") == std::string::npos) {
      multiples.push_back(std::atoi(argv[i]));
    } else {
      files.emplace_back(argument);
    }
  }
  if (multiples.empty() && files.empty()) multiples = {1, 3, 10, 30, 100, 300, 1000};
  const char* repetitionsText = std::getenv("BENCH_REPETITIONS");
  const int repetitions = repetitionsText ? std::max(1, std::atoi(repetitionsText)) : 5;

  std::printf("%12s %9s %9s %10s %8s %9s %10s %8s %9s %9s\n", "profile", "file MiB", "check ms",
              "check MiB", "check ×", "load ms", "load MiB", "load ×", "kept MiB", "after MiB");
  for (const auto& file : files) printRow(file.filename().string(), file, repetitions);
  if (multiples.empty()) return 0;

  const std::size_t unit = demoProfileBytes();
  // Bytes a generated trigger takes, from a profile of 1000.
  const std::size_t base = profile::encodeProfileText(bench::makeProfileText(0)).size();
  const std::size_t perTrigger =
      (profile::encodeProfileText(bench::makeProfileText(1000)).size() - base) / 1000;
  const fs::path folder =
      fs::temp_directory_path() / ("bench-profile-memory-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  for (const int multiple : multiples) {
    const std::size_t wanted = unit * static_cast<std::size_t>(multiple);
    const int triggers = static_cast<int>((std::max(wanted, base) - base) / perTrigger);
    std::string bytes = profile::encodeProfileText(bench::makeProfileText(triggers));
    if (bytes.size() > profile::kProfileFileLimit) {
      std::printf("%11d×: larger than the limit of a profile file; skipped\n", multiple);
      continue;
    }
    const fs::path file = folder / ("Bench" + std::to_string(multiple) + ".pr0");
    std::ofstream(file, std::ios::binary) << bytes;
    printRow(std::to_string(multiple) + "×", file, repetitions);
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
