// latency_report: the latency of the three paths a press takes, measured through the real
// programs with the simulated demo mouse fed binary reports at a steady rate, as a mouse
// sends them. scripts/bench-latency runs it once per condition (quiet or loaded, with or
// without real-time priority) and then once more to print the table.
//
//   latency_report --out DIR [--rates 1000,4000,8000] [--seconds 8]
//       daemon   report → uhid: every report, sent into `zenvor-driver --simulate
//                --input-format binary` until the daemon says it went to uhid
//       chain    report → daemon → `perch --headless --output record` → key: every press,
//                until perch records the key; also the hops: report → the event at perch
//                (record line "event …"), event → key
//       library  report → daemon → this program's library (the demo profile, run as the
//                agent runs it) → key at its recording output: every press
//       floor    the same reports to a forked copy of this program blocked in recv(),
//                stamped as it wakes: what one wake-up across processes costs here, the
//                least any hop of the other paths can take
//     Writes DIR/<path>-<rate>.us (one latency per line, microseconds), DIR/hops-<rate>.us
//     (to uhid, to perch, perch to key) and DIR/memory.txt (the daemon's and perch's
//     memory after each chain run).
//   latency_report --table DIR...    the table of every DIR (its name is the condition),
//                                    and DIR/../hist-<path>.dat for the plots
//   latency_report --soak SECONDS --out DIR    the chain at 1 kHz for SECONDS, the memory
//                                    of both processes every 10 s in DIR/soak.txt
//
// Every report carries its sequence number in its X and Y bytes (they pass the daemon
// unchanged). Every 2 ms a button changes: button 4 (Page Down in the demo profile) is
// pressed and released, then button 5 (Page Up), so that the keys of two presses in a row
// tell apart even when a late one comes after the next.
// Times are CLOCK_MONOTONIC everywhere: this program's, the daemon's and perch's stamps.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "testing/ChildProcess.h"
#include "testing/LineReader.h"
#include "testing/LiveDemoMouse.h"
#include "testing/TemporaryTree.h"

namespace {

namespace fs = std::filesystem;
using Nanos = std::int64_t;

constexpr Nanos kMicro = 1000;
constexpr Nanos kSecond = 1'000'000'000;
// A button changes this often: a press and a release every 4 ms.
constexpr Nanos kButtonPeriod = 2'000'000;
// The buttons pressed in turn (their bits in the first byte), the elements perch reports
// for them, and the keys the demo profile gives them.
constexpr std::uint8_t kButtons[2] = {0x08, 0x10};
const char* const kEvents[2] = {"event 0x90004 1", "event 0x90005 1"};
const char* const kKeys[2] = {"key KEY_PAGEDOWN down", "key KEY_PAGEUP down"};
constexpr std::uint16_t kKeyCodes[2] = {109, 104};  // KEY_PAGEDOWN, KEY_PAGEUP

Nanos now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return Nanos{t.tv_sec} * kSecond + t.tv_nsec;
}

void sleepUntil(Nanos when) {
  const timespec t{static_cast<time_t>(when / kSecond), static_cast<long>(when % kSecond)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

// "4711.000123456" or "4711.000123" → nanoseconds.
Nanos parseSeconds(const char* text) {
  char* end = nullptr;
  const long long whole = std::strtoll(text, &end, 10);
  Nanos fraction = 0;
  int digits = 0;
  if (*end == '.') {
    for (const char* c = end + 1; *c >= '0' && *c <= '9' && digits < 9; ++c, ++digits) {
      fraction = fraction * 10 + (*c - '0');
    }
  }
  for (; digits < 9; ++digits) fraction *= 10;
  return Nanos{whole} * kSecond + fraction;
}

// The reports of one run: what was sent when, and which of them were presses.
struct Stream {
  std::vector<Nanos> sent;
  std::vector<std::size_t> presses;  // the reports that pressed a button; press k presses
                                     // kButtons[k % 2]
};

// Something that answered a press: a key, or the event at perch.
struct Answer {
  Nanos at;
  int button;  // index into kButtons
};

// Sends reports at `rate` for `seconds` through `send`, stamping each just before it goes.
Stream pace(int rate, double seconds, const std::function<void(const std::uint8_t*)>& send) {
  const Nanos period = kSecond / rate;
  const auto count = static_cast<std::size_t>(seconds * rate);
  const auto toggle = static_cast<std::size_t>(std::max<Nanos>(1, kButtonPeriod / period));
  Stream stream;
  stream.sent.resize(count);
  Nanos next = now() + 10 * period;
  std::uint8_t report[7] = {};
  for (std::uint32_t i = 0; i < count; ++i) {
    const bool pressed = (i / toggle) % 2 == 1;
    if (pressed && i % toggle == 0) stream.presses.push_back(i);
    report[0] = pressed ? kButtons[(stream.presses.size() - 1) % 2] : 0;
    std::memcpy(report + 3, &i, 4);
    sleepUntil(next);
    next += period;
    stream.sent[i] = now();
    send(report);
  }
  return stream;
}

// A child whose standard output is read line by line on a thread of its own.
class LineChild {
 public:
  LineChild(const std::vector<std::string>& argv, int standardInput,
            std::map<std::string, std::string> environment,
            std::function<void(const std::string&)> onLine, const fs::path& errors)
      : onLine_(std::move(onLine)) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    zv::testing::ChildOptions options;
    options.environment = std::move(environment);
    options.standardInput = standardInput;
    options.standardOutput = out[1];
    options.output = errors;
    if (auto started = zv::testing::ChildProcess::start(argv, options)) {
      process_ = std::move(*started);
    }
    ::close(out[1]);
    reader_ = std::thread([this, fd = out[0]] {
      zv::testing::readLines(fd, [this](const std::string& line) { onLine_(line); });
      ::close(fd);
    });
  }
  ~LineChild() {
    if (process_) process_->stop();
    if (reader_.joinable()) reader_.join();
  }
  pid_t pid() const { return process_ ? process_->pid() : -1; }

 private:
  std::function<void(const std::string&)> onLine_;
  std::optional<zv::testing::ChildProcess> process_;
  std::thread reader_;
};

struct Memory {
  long privateKb = -1;
  long rssKb = -1;
};

Memory memoryOf(pid_t pid) {
  Memory memory;
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  long privateKb = 0;
  for (std::string line; std::getline(in, line);) {
    const auto value = [&](const char* key) {
      return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    };
    if (line.rfind("Rss:", 0) == 0) memory.rssKb = value("Rss:");
    if (line.rfind("Private_Clean:", 0) == 0) privateKb += value("Private_Clean:");
    if (line.rfind("Private_Dirty:", 0) == 0) privateKb += value("Private_Dirty:");
  }
  if (memory.rssKb >= 0) memory.privateKb = privateKb;
  return memory;
}

// The simulated demo mouse fed binary reports, and perch on it recording its keys.
class Chain {
 public:
  explicit Chain(const fs::path& errors) {
    fs::create_directories(tree_.path("share/MainstreamDevices"));
    fs::create_symlink(fs::path(ZV_SOURCE_DIR) / "data/Devices/DemoMouse.bundle",
                       tree_.path("share/MainstreamDevices/DemoMouse.bundle"));
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return;
    feeder_ = pair[0];
    daemon_.emplace(
        std::vector<std::string>{ZV_DRIVER_EXECUTABLE, "--simulate", "0x1704", "--input-format",
                                 "binary"},
        pair[1], std::map<std::string, std::string>{},
        [this](const std::string& line) { onDaemonLine(line); }, errors.string() + ".daemon");
    ::close(pair[1]);
    agent_.emplace(
        std::vector<std::string>{ZV_PERCH_EXECUTABLE, "--headless", "--output", "record"}, -1,
        std::map<std::string, std::string>{{"KINETRA_SIMULATED_DEVICES", "1"}},
        [this](const std::string& line) { onAgentLine(line); }, errors.string() + ".perch");
  }
  ~Chain() {
    agent_.reset();
    if (feeder_ >= 0) ::close(feeder_);
    daemon_.reset();
  }

  // Until perch has the profile's overrides in place (the driver answers the last one).
  bool waitUntilConnected() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return overridden_[0] && overridden_[1]; });
  }
  // Until the daemon has handed `count` reports to uhid and perch has recorded `keys`
  // keys, or a while has passed.
  bool waitFor(std::size_t reports, std::size_t keys) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return uhidCount_ >= reports && keys_.size() >= keys; });
  }
  void send(const std::uint8_t* report) { ::send(feeder_, report, 7, MSG_NOSIGNAL); }
  void reset(std::size_t reports) {
    std::lock_guard lock(mutex_);
    uhid_.assign(reports, 0);
    uhidCount_ = 0;
    events_.clear();
    keys_.clear();
  }
  std::vector<Nanos> uhid() const { return locked(uhid_); }
  std::vector<Answer> events() const { return locked(events_); }
  std::vector<Answer> keys() const { return locked(keys_); }
  pid_t daemonPid() const { return daemon_ ? daemon_->pid() : -1; }
  pid_t agentPid() const { return agent_ ? agent_->pid() : -1; }

 private:
  template <typename T>
  T locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }
  // "report 00 00 00 2A 00 00 00 -> 00 00 00 2A 00 00 00 at 4711.000123456"
  void onDaemonLine(const std::string& line) {
    if (line.rfind("report ", 0) != 0) return;
    const std::size_t at = line.rfind(" at ");
    if (at == std::string::npos || line.size() < 7 + 7 * 3) return;
    std::uint8_t bytes[7];
    for (int i = 0; i < 7; ++i) {
      bytes[i] = static_cast<std::uint8_t>(std::strtoul(line.c_str() + 7 + 3 * i, nullptr, 16));
    }
    std::uint32_t sequence;
    std::memcpy(&sequence, bytes + 3, 4);
    const Nanos when = parseSeconds(line.c_str() + at + 4);
    std::lock_guard lock(mutex_);
    if (sequence < uhid_.size()) uhid_[sequence] = when;
    ++uhidCount_;
    changed_.notify_all();
  }
  // "[  4711.000100] event 0x90004 1", "[  4711.000140] key KEY_PAGEDOWN down"
  void onAgentLine(const std::string& line) {
    if (line.empty() || line[0] != '[') return;
    const std::size_t close = line.find("] ");
    if (close == std::string::npos) return;
    const std::string text = line.substr(close + 2);
    std::lock_guard lock(mutex_);
    // The driver answers each override with the element's value: both buttons are taken.
    if (text == "event 0x90004 0") overridden_[0] = true;
    if (text == "event 0x90005 0") overridden_[1] = true;
    for (int b = 0; b < 2; ++b) {
      if (text == kEvents[b]) events_.push_back({parseSeconds(line.c_str() + 1), b});
      if (text == kKeys[b]) keys_.push_back({parseSeconds(line.c_str() + 1), b});
    }
    changed_.notify_all();
  }

  zv::testing::TemporaryTree tree_;
  int feeder_ = -1;
  std::optional<LineChild> daemon_;
  std::optional<LineChild> agent_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool overridden_[2] = {false, false};
  std::vector<Nanos> uhid_;
  std::size_t uhidCount_ = 0;
  std::vector<Answer> events_;
  std::vector<Answer> keys_;
};

void writeMicros(const fs::path& file, const std::vector<double>& values) {
  std::ofstream out(file);
  for (double value : values) out << value << "\n";
}

double micros(Nanos from, Nanos to) {
  return static_cast<double>(to - from) / kMicro;
}

// The answer to each press: the first answer for its button at or after the press that no
// earlier press took (0 for a press without one, counted in `lost`).
std::vector<Nanos> answersOf(const Stream& stream, std::vector<Answer> answers, std::size_t* lost) {
  std::sort(answers.begin(), answers.end(),
            [](const Answer& a, const Answer& b) { return a.at < b.at; });
  std::deque<Nanos> queue[2];
  for (const Answer& answer : answers) queue[answer.button].push_back(answer.at);
  std::vector<Nanos> matched;
  *lost = 0;
  for (std::size_t k = 0; k < stream.presses.size(); ++k) {
    std::deque<Nanos>& mine = queue[k % 2];
    const Nanos sent = stream.sent[stream.presses[k]];
    while (!mine.empty() && mine.front() < sent) mine.pop_front();
    if (mine.empty()) {
      matched.push_back(0);
      ++*lost;
    } else {
      matched.push_back(mine.front());
      mine.pop_front();
    }
  }
  return matched;
}

int measureFloor(const fs::path& out, const std::vector<int>& rates, double seconds) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return 1;
  const auto most =
      static_cast<std::size_t>(seconds * *std::max_element(rates.begin(), rates.end()));
  void* shared = ::mmap(nullptr, most * sizeof(Nanos), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return 1;
  auto* woken = static_cast<Nanos*>(shared);
  // Forked before any thread exists: the child only receives and stamps.
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pair[0]);
    std::uint8_t report[64];
    for (;;) {
      if (::recv(pair[1], report, sizeof report, 0) < 7) ::_exit(0);
      const Nanos at = now();
      std::uint32_t sequence;
      std::memcpy(&sequence, report + 3, 4);
      if (sequence < most) woken[sequence] = at;
    }
  }
  ::close(pair[1]);
  for (int rate : rates) {
    std::fill(woken, woken + most, 0);
    const Stream stream =
        pace(rate, seconds, [&](const std::uint8_t* r) { ::send(pair[0], r, 7, MSG_NOSIGNAL); });
    sleepUntil(now() + kSecond / 10);  // the last ones arrive
    std::vector<double> latencies;
    for (std::size_t i = 0; i < stream.sent.size(); ++i) {
      if (woken[i] > 0) latencies.push_back(micros(stream.sent[i], woken[i]));
    }
    writeMicros(out / ("floor-" + std::to_string(rate) + ".us"), latencies);
  }
  ::close(pair[0]);
  ::waitpid(child, nullptr, 0);
  ::munmap(shared, most * sizeof(Nanos));
  return 0;
}

int measureChain(const fs::path& out, const std::vector<int>& rates, double seconds) {
  Chain chain(out / "errors");
  if (!chain.waitUntilConnected()) {
    std::fprintf(stderr,
                 "latency_report: perch never connected to the simulated mouse (see %s.*)\n",
                 (out / "errors").c_str());
    return 1;
  }
  std::ofstream memory(out / "memory.txt");
  for (int rate : rates) {
    chain.reset(static_cast<std::size_t>(seconds * rate));
    const Stream stream = pace(rate, seconds, [&](const std::uint8_t* r) { chain.send(r); });
    chain.waitFor(stream.sent.size(), stream.presses.size());
    const std::vector<Nanos> uhid = chain.uhid();
    std::vector<double> daemon, whole, hops;
    for (std::size_t i = 0; i < stream.sent.size(); ++i) {
      if (uhid[i] > 0) daemon.push_back(micros(stream.sent[i], uhid[i]));
    }
    std::size_t lostKeys = 0, lostEvents = 0;
    const std::vector<Nanos> keys = answersOf(stream, chain.keys(), &lostKeys);
    const std::vector<Nanos> events = answersOf(stream, chain.events(), &lostEvents);
    std::ofstream hopFile(out / ("hops-" + std::to_string(rate) + ".us"));
    for (std::size_t k = 0; k < stream.presses.size(); ++k) {
      const Nanos sent = stream.sent[stream.presses[k]];
      if (keys[k] == 0) continue;
      whole.push_back(micros(sent, keys[k]));
      const Nanos toUhid = uhid[stream.presses[k]];
      if (toUhid > 0 && events[k] > 0) {
        hopFile << micros(sent, toUhid) << " " << micros(sent, events[k]) << " "
                << micros(events[k], keys[k]) << "\n";
      }
    }
    writeMicros(out / ("daemon-" + std::to_string(rate) + ".us"), daemon);
    writeMicros(out / ("chain-" + std::to_string(rate) + ".us"), whole);
    const Memory daemonMemory = memoryOf(chain.daemonPid());
    const Memory agentMemory = memoryOf(chain.agentPid());
    memory << rate << " " << daemonMemory.privateKb << " " << daemonMemory.rssKb << " "
           << agentMemory.privateKb << " " << agentMemory.rssKb << "\n";
    if (daemon.size() < stream.sent.size() || lostKeys > 0) {
      std::fprintf(stderr,
                   "latency_report: %d Hz: %zu of %zu reports reached uhid, %zu of %zu presses "
                   "no key\n",
                   rate, daemon.size(), stream.sent.size(), lostKeys, stream.presses.size());
    }
  }
  return 0;
}

int measureLibrary(const fs::path& out, const std::vector<int>& rates, double seconds) {
  zv::testing::LiveDemoMouse mouse(ZV_DRIVER_EXECUTABLE, "Default.pr0",
                                   zv::testing::SimulatedDaemon::Input::binary);
  std::string why;
  if (!mouse.connect(&why)) {
    std::fprintf(stderr, "latency_report: the library did not connect: %s\n", why.c_str());
    return 1;
  }
  std::mutex mutex;
  std::vector<Answer> keys;
  mouse.output->setListener([&](const zv::output::RecordedEvent& event) {
    if (event.type != 1 /* EV_KEY */ || event.value != 1) return;
    const Nanos when = now();
    std::lock_guard lock(mutex);
    for (int b = 0; b < 2; ++b) {
      if (event.code == kKeyCodes[b]) keys.push_back({when, b});
    }
  });
  auto& loop = zv::platform::RunLoop::main();
  for (int rate : rates) {
    {
      std::lock_guard lock(mutex);
      keys.clear();
    }
    std::atomic<bool> done{false};
    Stream stream;
    std::thread sender([&] {
      stream = pace(rate, seconds, [&](const std::uint8_t* r) { mouse.daemon.sendReport({r, 7}); });
      done = true;
      loop.post([] {});
    });
    loop.runUntil([&] { return done.load(); },
                  std::chrono::seconds(static_cast<int>(seconds) + 30));
    sender.join();
    // The last presses' keys.
    loop.runUntil(
        [&] {
          std::lock_guard lock(mutex);
          return keys.size() >= stream.presses.size();
        },
        std::chrono::seconds(2));
    std::vector<Answer> answered;
    {
      std::lock_guard lock(mutex);
      answered = keys;
    }
    std::size_t lost = 0;
    const std::vector<Nanos> matched = answersOf(stream, answered, &lost);
    std::vector<double> latencies;
    for (std::size_t k = 0; k < matched.size(); ++k) {
      if (matched[k] > 0) latencies.push_back(micros(stream.sent[stream.presses[k]], matched[k]));
    }
    writeMicros(out / ("library-" + std::to_string(rate) + ".us"), latencies);
    if (lost > 0) {
      std::fprintf(stderr, "latency_report: library, %d Hz: %zu of %zu presses no key\n", rate,
                   lost, stream.presses.size());
    }
  }
  mouse.output->setListener({});
  return 0;
}

int soak(const fs::path& out, double seconds) {
  Chain chain(out / "errors");
  if (!chain.waitUntilConnected()) {
    std::fprintf(stderr, "latency_report: perch never connected to the simulated mouse\n");
    return 1;
  }
  std::ofstream file(out / "soak.txt");
  std::printf("%8s %14s %14s %14s\n", "seconds", "daemon priv kB", "perch priv kB", "perch RSS kB");
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread sampler([&] {
    const Nanos start = now();
    std::unique_lock lock(mutex);
    do {
      const Memory d = memoryOf(chain.daemonPid());
      const Memory a = memoryOf(chain.agentPid());
      const double at = static_cast<double>(now() - start) / kSecond;
      file << at << " " << d.privateKb << " " << a.privateKb << " " << a.rssKb << std::endl;
      std::printf("%8.0f %14ld %14ld %14ld\n", at, d.privateKb, a.privateKb, a.rssKb);
      std::fflush(stdout);
    } while (!ended.wait_for(lock, std::chrono::seconds(10), [&] { return done; }));
  });
  chain.reset(0);
  pace(1000, seconds, [&](const std::uint8_t* r) { chain.send(r); });
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  ended.notify_all();
  sampler.join();
  return 0;
}

// ---- The table and the plots -------------------------------------------------------------

std::vector<double> readMicros(const fs::path& file) {
  std::vector<double> values;
  std::ifstream in(file);
  for (double value; in >> value;) values.push_back(value);
  std::sort(values.begin(), values.end());
  return values;
}

double quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return NAN;
  const auto index =
      static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size()))) - 1;
  return sorted[std::min(sorted.size() - 1, index)];
}

std::string cell(double value) {
  char text[16];
  if (std::isnan(value)) return "-";
  if (value >= 10000) {
    std::snprintf(text, sizeof text, "%.1f ms", value / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.0f", value);
  }
  return text;
}

const char* const kPaths[] = {"floor", "daemon", "library", "chain"};
const char* const kPathTitles[] = {"floor: packet -> another process woken",
                                   "daemon: report -> uhid", "library: report -> engine -> key",
                                   "whole chain: report -> daemon -> perch -> key"};

int table(const std::vector<fs::path>& conditions) {
  std::vector<int> rates;
  for (const auto& entry : fs::directory_iterator(conditions.front())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("daemon-", 0) == 0) rates.push_back(std::atoi(name.c_str() + 7));
  }
  std::sort(rates.begin(), rates.end());
  std::printf("%-9s %6s %-11s %8s %8s %8s %9s %7s\n", "path", "rate", "condition", "p50 us",
              "p99 us", "p99.9 us", "max us", "samples");
  // Histograms: log-spaced bins from 1 us to 100 ms, share of each condition's samples.
  constexpr int kBins = 100;
  const double low = 0, high = 5;  // log10 of microseconds
  for (std::size_t p = 0; p < std::size(kPaths); ++p) {
    const std::string path = kPaths[p];
    std::ofstream hist(conditions.front().parent_path() / ("hist-" + path + ".dat"));
    hist << "# " << kPathTitles[p] << "\n";
    for (int rate : rates) {
      std::vector<std::vector<double>> shares;
      hist << "# rate " << rate << "\nmicroseconds";
      for (const fs::path& condition : conditions) {
        const std::vector<double> values =
            readMicros(condition / (path + "-" + std::to_string(rate) + ".us"));
        std::printf("%-9s %4d Hz %-11s %8s %8s %8s %9s %7zu\n", path.c_str(), rate,
                    condition.filename().c_str(), cell(quantile(values, 0.5)).c_str(),
                    cell(quantile(values, 0.99)).c_str(), cell(quantile(values, 0.999)).c_str(),
                    cell(values.empty() ? NAN : values.back()).c_str(), values.size());
        std::vector<double> share(kBins, 0);
        for (double v : values) {
          const double at = (std::log10(std::max(v, 1.0)) - low) / (high - low) * kBins;
          share[std::clamp(static_cast<int>(at), 0, kBins - 1)] += 100.0 / values.size();
        }
        shares.push_back(std::move(share));
        hist << " " << condition.filename().string();
      }
      hist << "\n";
      for (int b = 0; b < kBins; ++b) {
        hist << std::pow(10.0, low + (b + 0.5) * (high - low) / kBins);
        for (const auto& share : shares) hist << " " << share[b];
        hist << "\n";
      }
      hist << "\n\n";
    }
    std::printf("\n");
  }
  // Where the whole chain spends its time at 1 kHz: p50 / p99 of each hop.
  std::printf(
      "whole chain by hop, 1 kHz (p50 / p99 us): report -> uhid | report -> event at perch | event "
      "-> key\n");
  for (const fs::path& condition : conditions) {
    std::vector<double> hop[3];
    std::ifstream in(condition / "hops-1000.us");
    for (double a, b, c; in >> a >> b >> c;) {
      hop[0].push_back(a);
      hop[1].push_back(b);
      hop[2].push_back(c);
    }
    std::printf("  %-11s", condition.filename().c_str());
    for (auto& values : hop) {
      std::sort(values.begin(), values.end());
      std::printf(" | %6s / %-7s", cell(quantile(values, 0.5)).c_str(),
                  cell(quantile(values, 0.99)).c_str());
    }
    std::printf("\n");
  }
  // Memory: the most seen after any run.
  std::printf(
      "\nmemory after the runs (most seen): daemon private RSS, perch private RSS, perch RSS\n");
  for (const fs::path& condition : conditions) {
    long daemonPrivate = -1, agentPrivate = -1, agentRss = -1;
    std::ifstream in(condition / "memory.txt");
    for (long rate, dp, dr, ap, ar; in >> rate >> dp >> dr >> ap >> ar;) {
      daemonPrivate = std::max(daemonPrivate, dp);
      agentPrivate = std::max(agentPrivate, ap);
      agentRss = std::max(agentRss, ar);
      (void)dr;
    }
    std::printf("  %-11s %6ld kB %6ld kB %6ld kB\n", condition.filename().c_str(), daemonPrivate,
                agentPrivate, agentRss);
  }
  return 0;
}

std::vector<int> parseRates(const std::string& text) {
  std::vector<int> rates;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    const int rate = std::atoi(item.c_str());
    if (rate > 0 && rate <= 100000) rates.push_back(rate);
  }
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  fs::path out;
  std::vector<int> rates{1000, 4000, 8000};
  double seconds = 8;
  std::optional<double> soakSeconds;
  std::vector<fs::path> tables;
  bool tableMode = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : ""; };
    if (args[i] == "--out") {
      out = value();
    } else if (args[i] == "--rates") {
      rates = parseRates(value());
    } else if (args[i] == "--seconds") {
      seconds = std::atof(value().c_str());
    } else if (args[i] == "--soak") {
      soakSeconds = std::atof(value().c_str());
    } else if (args[i] == "--table") {
      tableMode = true;
    } else if (tableMode) {
      tables.push_back(args[i]);
    } else {
      std::fprintf(stderr,
                   "usage: latency_report --out DIR [--rates HZ,...] [--seconds S]\n"
                   "       latency_report --soak SECONDS --out DIR\n"
                   "       latency_report --table DIR...\n");
      return 2;
    }
  }
  if (tableMode) return tables.empty() ? 2 : table(tables);
  if (out.empty() || rates.empty() || seconds <= 0) return 2;
  fs::create_directories(out);
  if (soakSeconds) return soak(out, *soakSeconds);
  if (const int status = measureFloor(out, rates, seconds); status != 0) return status;
  if (const int status = measureChain(out, rates, seconds); status != 0) return status;
  return measureLibrary(out, rates, seconds);
}
