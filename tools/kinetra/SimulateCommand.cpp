// kinetra simulate PROFILE.pr0 --bundle DEVICE.bundle [--device ALIAS] --events SCRIPT
//
// Runs a profile the way the agent runs it, on recording backends instead of a mouse, a
// keyboard and a driver: the element events of a script go in, and every key, wheel
// step, driver call, opened file and shift-state change comes out with its time.
#include <linux/input-event-codes.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>
#include <tuple>

#include "Command.h"
#include "IO.h"
#include "PrototypeOption.h"
#include "Report.h"
#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "device/ProfileStoreInterface.h"
#include "device/RecordingDriver.h"
#include "engine/Clock.h"
#include "engine/CommandThreads.h"
#include "engine/EngineContext.h"
#include "engine/EventScript.h"
#include "engine/ZVProfile.h"
#include "engine/ZVShiftState.h"
#include "log/Log.h"
#include "output/RecordingOutput.h"
#include "output/Workspace.h"
#include "profile/Prototype.h"
#include "support/Bundle.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zv::device::DriverCall;

struct Options {
  std::string profile;
  std::string bundle;
  std::string device;
  std::string events;
  std::string prototype;
  long long settleMs = 5000;
  bool realTime = false;
};

constexpr const char* kName = "simulate";

int fail(const std::string& message) {
  return kinetra::fail(kName, message);
}

std::string hex(std::uint32_t value) {
  return zv::text::hexText(value);
}

// " 0x10039 0x90004-0x90005 0x90007-0x90010": elements in order, runs of consecutive
// identifiers as ranges.
std::string ranges(std::vector<std::uint32_t> elements) {
  std::sort(elements.begin(), elements.end());
  std::string text;
  for (std::size_t i = 0; i < elements.size();) {
    std::size_t j = i;
    while (j + 1 < elements.size() && elements[j + 1] == elements[j] + 1) ++j;
    text += " " + hex(elements[i]);
    if (j > i) text += "-" + hex(elements[j]);
    i = j + 1;
  }
  return text;
}

// Everything that happens, from the main thread and from the command threads, kept
// with its time and printed in time order at the end.
//
// On the simulated clock, lines of one millisecond are ordered by what caused them:
// what happened before an event of the script comes before it; then the event and what
// the main thread did with it (shift-state change, driver calls); then what the command
// threads did, thread by thread. The clock lets every command settle before the next
// step, so the output is the same on every run.
class Journal {
 public:
  // `byCause`: order the lines of one millisecond by cause (see above); that needs the
  // simulated clock. Otherwise they keep the order in which they were written.
  Journal(std::shared_ptr<zv::engine::Clock> clock, bool byCause)
      : clock_(std::move(clock)),
        start_(clock_->now()),
        main_(std::this_thread::get_id()),
        byCause_(byCause) {}

  zv::engine::Clock::TimePoint start() const { return start_; }
  long long msAt(std::chrono::nanoseconds sinceEpoch) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch -
                                                                 start_.time_since_epoch())
        .count();
  }
  long long now() const { return msAt(clock_->now().time_since_epoch()); }
  // Called on the main thread before each event of the script.
  void nextStep() { ++step_; }

  // Answers the line's place, for addAfter().
  std::uint64_t add(long long ms, std::string text, const DriverCall* call = nullptr,
                    bool heading = false) {
    const std::thread::id thread = std::this_thread::get_id();
    Entry entry{thread,
                ms,
                step_.load(),
                thread == main_ ? 0 : 1,
                0,
                std::move(text),
                heading,
                call && call->kind == DriverCall::Kind::overrideElement,
                false,
                0};
    if (call) {
      entry.enabled = call->enabled;
      entry.element = call->element;
    }
    std::lock_guard lock(mutex_);
    entry.seq = (next_ += 2);
    entries_.push_back(std::move(entry));
    return entries_.back().seq;
  }
  std::uint64_t add(std::string text) { return add(now(), std::move(text)); }
  // A note of the script: a heading between the lines.
  void addHeading(std::string text) { add(now(), std::move(text), nullptr, true); }
  // A line placed right after the line `seq` (same time, step and thread kind).
  void addAfter(std::uint64_t seq, std::string text) {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
      if (entry.seq != seq) continue;
      Entry after = entry;
      after.seq = seq + 1;
      after.text = std::move(text);
      after.override = false;
      after.heading = false;
      entries_.push_back(std::move(after));
      return;
    }
  }

  // Consecutive overrideElement calls of one moment are printed as one line.
  void print(std::ostream& out) {
    std::lock_guard lock(mutex_);
    std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
      if (!byCause_) return std::tie(a.ms, a.seq) < std::tie(b.ms, b.seq);
      return std::tie(a.ms, a.step, a.phase, a.seq) < std::tie(b.ms, b.step, b.phase, b.seq);
    });
    if (byCause_) orderSimultaneousCommands();
    for (std::size_t i = 0; i < entries_.size();) {
      const Entry& entry = entries_[i];
      std::string text = entry.text;
      std::size_t j = i + 1;
      if (entry.override) {
        text = std::string("driver  overrideElement ") + (entry.enabled ? "on" : "off");
        std::vector<std::uint32_t> elements;
        for (j = i; j < entries_.size() && entries_[j].override &&
                    entries_[j].enabled == entry.enabled && entries_[j].ms == entry.ms &&
                    entries_[j].step == entry.step && entries_[j].phase == entry.phase;
             ++j) {
          elements.push_back(entries_[j].element);
        }
        text += ranges(elements);
      }
      if (entry.heading) {
        out << "\n== " << text << "\n";
        i = j;
        continue;
      }
      char time[32];
      std::snprintf(time, sizeof time, "%7lld ms  ", entry.ms);
      out << time << text << "\n";
      i = j;
    }
    out.flush();
  }

 private:
  // Command threads that act at the same millisecond run truly at once; their lines are
  // put thread by thread, in the order of each thread's text, so that a run prints the
  // same whichever thread the system scheduled first.
  void orderSimultaneousCommands() {
    for (std::size_t i = 0; i < entries_.size();) {
      std::size_t j = i + 1;
      const Entry& first = entries_[i];
      while (j < entries_.size() && entries_[j].ms == first.ms && entries_[j].step == first.step &&
             entries_[j].phase == first.phase) {
        ++j;
      }
      if (first.phase == 1 && j - i > 1) {
        std::vector<std::pair<std::string, std::vector<Entry>>> groups;
        for (std::size_t k = i; k < j; ++k) {
          auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
            return g.second.front().thread == entries_[k].thread;
          });
          if (group == groups.end()) {
            groups.emplace_back();
            group = groups.end() - 1;
          }
          group->first += entries_[k].text + "\n";
          group->second.push_back(std::move(entries_[k]));
        }
        std::stable_sort(groups.begin(), groups.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::size_t k = i;
        for (auto& group : groups) {
          for (Entry& entry : group.second) entries_[k++] = std::move(entry);
        }
      }
      i = j;
    }
  }

  struct Entry {
    std::thread::id thread;
    long long ms;
    std::uint64_t step;
    int phase;  // 0: the main thread, 1: a command thread
    std::uint64_t seq;
    std::string text;
    bool heading;
    bool override;
    bool enabled;
    std::uint32_t element;
  };

  std::shared_ptr<zv::engine::Clock> clock_;
  zv::engine::Clock::TimePoint start_;
  std::thread::id main_;
  bool byCause_;
  std::atomic<std::uint64_t> step_{0};
  std::mutex mutex_;
  std::uint64_t next_ = 0;
  std::vector<Entry> entries_;
};

std::string describeOutput(const zv::output::RecordedEvent& event) {
  const std::string name = zv::output::codeName(event.type, event.code);
  if (event.type == EV_KEY) {
    const char* state = event.value == 0 ? "up" : event.value == 2 ? "down (repeat)" : "down";
    return "key     " + name + " " + state;
  }
  if (event.type == EV_REL) {
    const bool wheel = event.code == REL_WHEEL || event.code == REL_HWHEEL ||
                       event.code == REL_WHEEL_HI_RES || event.code == REL_HWHEEL_HI_RES;
    return std::string(wheel ? "wheel   " : "pointer ") + name + " " + std::to_string(event.value);
  }
  return "output  " + zv::output::describe(event);
}

// Opened files go into the journal; nothing is started.
class JournalWorkspace : public zv::output::Workspace {
 public:
  explicit JournalWorkspace(Journal& journal) : journal_(journal) {}
  bool openFile(const std::string& path) override {
    journal_.add("open    " + path);
    return true;
  }
  bool openFileWithApplication(const std::string& path,
                               const std::string& applicationPath) override {
    journal_.add("open    " + path + " with " + applicationPath);
    return true;
  }

 private:
  Journal& journal_;
};

std::string stateName(const std::shared_ptr<zv::engine::ZVShiftState>& state) {
  if (!state) return "(none)";
  const std::string name = state->name();
  return name.empty() ? "(unnamed)" : "\"" + name + "\"";
}

zv::json::DictionaryPtr loadPrototype(const Options& options) {
  std::string error;
  auto prototype = loadPrototypeOption(options.prototype, error);
  if (!prototype) fail(error);
  return prototype;
}

// The device description of the bundle: the one whose "Alias" is `alias`, else the first.
zv::json::DictionaryPtr deviceDescription(const Options& options) {
  std::error_code ec;
  if (!fs::is_directory(options.bundle, ec)) {
    fail(options.bundle + ": no such device bundle");
    return nullptr;
  }
  const auto descriptions = zv::device::deviceDescriptions(zv::support::Bundle(options.bundle));
  if (descriptions.empty()) {
    fail(options.bundle +
         ": describes no device (Contents/Info.plist is missing, damaged or has no \"Devices\")");
    return nullptr;
  }
  if (options.device.empty()) return descriptions.front();
  std::string known;
  for (const auto& description : descriptions) {
    const zv::json::Value* alias = description->find("Alias");
    const std::string name = alias ? alias->asString() : std::string();
    if (name == options.device) return description;
    known += (known.empty() ? "" : ", ") + name;
  }
  fail(options.bundle + ": no device with alias '" + options.device + "' (it describes: " + known +
       ")");
  return nullptr;
}

// Everything the simulation installs in the process, taken down again in order.
struct Session {
  std::shared_ptr<zv::engine::Clock> clock;
  std::shared_ptr<zv::engine::ManualClock> manual;  // null with --real-time
  std::unique_ptr<Journal> journal;
  std::shared_ptr<zv::output::RecordingOutput> output;
  std::shared_ptr<zv::device::RecordingDriver> driver;
  std::shared_ptr<zv::device::DeviceController> device;
  std::shared_ptr<zv::device::SimpleProfileStore> store;
  std::shared_ptr<zv::engine::ZVProfile> profile;

  ~Session() {
    if (output) output->setListener({});
    if (driver) driver->setListener({});
    if (store) store->setCurrentProfile(nullptr);
    profile.reset();
    zv::engine::CommandThreads::shared().shutdown();
    zv::output::setSharedOutput(nullptr);
    zv::output::Workspace::setShared(nullptr);
  }
};

int runSimulate(const Options& options) {
  zv::json::DictionaryPtr prototype = loadPrototype(options);
  if (!prototype) return 1;
  zv::json::DictionaryPtr description = deviceDescription(options);
  if (!description) return 1;
  const std::optional<std::string> scriptText = readInput(options.events);
  if (!scriptText) return 1;
  zv::engine::EventScriptError scriptError;
  const auto steps = zv::engine::parseEventScript(*scriptText, &scriptError);
  if (!steps) return fail(options.events + ": " + scriptError.describe());
  std::error_code ec;
  if (!fs::exists(options.profile, ec)) return fail(options.profile + ": no such profile file");
  if (!fs::is_regular_file(options.profile, ec)) return fail(options.profile + ": not a file");

  // A simulation is no profile load worth a system-log notice.
  zv::log::setSystemLogHandler([](std::string_view) {});
  zv::engine::ZVProfile::setSharedPrototype(prototype);

  Session session;
  if (options.realTime) {
    session.clock = zv::engine::steadyClock();
  } else {
    session.manual = std::make_shared<zv::engine::ManualClock>();
    session.clock = session.manual;
  }
  session.journal = std::make_unique<Journal>(session.clock, !options.realTime);
  Journal& journal = *session.journal;
  auto clock = session.clock;
  session.output = std::make_shared<zv::output::RecordingOutput>(
      [clock] { return clock->now().time_since_epoch(); });
  session.output->setListener([&journal](const zv::output::RecordedEvent& event) {
    journal.add(journal.msAt(event.time), describeOutput(event));
  });
  zv::output::setSharedOutput(session.output);
  session.driver = std::make_shared<zv::device::RecordingDriver>();
  session.driver->setListener([&journal](const DriverCall& call) {
    journal.add(journal.now(), "driver  " + zv::device::describe(call), &call);
  });
  zv::output::Workspace::setShared(std::make_shared<JournalWorkspace>(journal));
  zv::device::DeviceController::setIsExecutive(true);

  session.device = std::make_shared<zv::device::DeviceController>(description, options.bundle);
  session.device->setDriverInterface(session.driver);
  const zv::json::Value* seed = description->find("SeedProfile");
  session.store = std::make_shared<zv::device::SimpleProfileStore>(
      session.device->bundle().resourcePath() / (seed ? seed->asString() : std::string()),
      fs::path(options.profile).parent_path());
  session.device->setProfileStore(session.store);

  session.profile = zv::engine::ZVProfile::create();
  session.profile->setClock(session.clock);
  std::string error;
  if (!session.profile->initFromFile(fs::path(options.profile), session.device, {}, &error)) {
    return fail(error);
  }
  auto& profile = *session.profile;
  const std::string alias = session.device->balias();
  if (!profile.currentController()) {
    warn(kName, options.profile + " has no controller for device " + alias +
                    "; its events change nothing");
  }
  std::cout << "profile \"" << profile.string("profile") << "\" on " << session.device->name()
            << " (" << alias << "), " << (options.realTime ? "real time" : "simulated time")
            << "\n";

  const std::uint64_t start =
      journal.add("load    " + fs::path(options.profile).filename().string());
  profile.setActive();
  if (profile.currentShiftState()) {
    journal.addAfter(start, "shift   " + stateName(profile.currentShiftState()));
  }

  // Moves time to `ms` after the start: on the simulated clock deadline by deadline, with
  // every command settled after each; in real time by sleeping.
  const auto realStart = std::chrono::steady_clock::now();
  auto runTo = [&](long long ms) {
    if (!session.manual) {
      std::this_thread::sleep_until(realStart + std::chrono::milliseconds(ms));
      return true;
    }
    return zv::engine::advanceClockTo(*session.manual,
                                      journal.start() + std::chrono::milliseconds(ms));
  };
  const auto stuck = [&](std::size_t line) {
    journal.print(std::cout);
    return fail(options.events + ": line " + std::to_string(line) +
                ": the profile's commands did not settle within 10 s of real time");
  };

  // A note heads what the next step brings: it is printed once time has reached it.
  std::vector<std::string> notes;
  auto headNotes = [&] {
    for (std::string& note : notes) {
      journal.nextStep();
      journal.addHeading(std::move(note));
    }
    notes.clear();
  };
  long long at = 0;
  for (const zv::engine::EventScriptStep& step : *steps) {
    if (!step.note.empty()) {
      notes.push_back(step.note);
      continue;
    }
    at += step.delay.count();
    if (!runTo(at)) return stuck(step.line);
    headNotes();
    if (!step.hasEvent) continue;
    journal.nextStep();
    const auto before = profile.currentShiftState();
    const std::uint64_t seq =
        journal.add("event   " + hex(step.element) + " " + std::to_string(step.value));
    profile.onElementEvent(step.element, step.value, 0);
    const auto after = profile.currentShiftState();
    if (after != before) {
      journal.addAfter(seq, "shift   " + stateName(before) + " -> " + stateName(after));
    }
  }

  // The end: time runs on until every command has ended, for at most the settle time.
  auto& threads = zv::engine::CommandThreads::shared();
  if (session.manual) {
    if (!runTo(at)) return stuck(steps->empty() ? 0 : steps->back().line);
    const auto end = session.manual->now() + std::chrono::milliseconds(options.settleMs);
    while (threads.active() > 0) {
      const auto next = session.manual->nextDeadline();
      if (!next || *next > end) break;
      if (!zv::engine::advanceClockTo(*session.manual, *next)) {
        return stuck(steps->empty() ? 0 : steps->back().line);
      }
    }
  } else {
    threads.waitIdle(std::chrono::milliseconds(options.settleMs));
  }
  headNotes();
  if (const std::size_t running = threads.active()) {
    journal.add(
        "end     " + std::to_string(running) +
        (running == 1 ? " command still running; stopped" : " commands still running; stopped"));
    threads.cancelAndJoinAll();
  }
  journal.print(std::cout);
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Runs a profile without a mouse: loads PROFILE for a device of DEVICE.bundle, feeds it\n"
      "the element events of SCRIPT and prints, with the time in milliseconds, every key,\n"
      "wheel step, driver call, opened file and shift-state change the profile makes.\n"
      "Nothing reaches the desktop.\n\n"
      "SCRIPT ('-' for standard input) has one step per line:\n"
      "  +MS ELEMENT VALUE   after MS milliseconds, ELEMENT (usage page << 16 | usage, e.g.\n"
      "                      0x90004 for button 4) reports VALUE (1 pressed, 0 released)\n"
      "  +MS                 let MS milliseconds pass\n"
      "  ## TEXT             a heading, printed before what the next step brings\n"
      "  # ...               a comment; blank lines are skipped\n\n"
      "Exit status 1 when the profile, the bundle or the script cannot be used.\n");
  command.add_option("PROFILE.pr0", options->profile, "the profile file")->required();
  command.add_option("--bundle", options->bundle, "the device bundle")
      ->type_name("DEVICE.bundle")
      ->required();
  command
      .add_option("--device", options->device,
                  "the bundle's device with that \"Alias\" (default: its first)")
      ->type_name("ALIAS");
  command.add_option("--events", options->events, "the script of element events")
      ->type_name("SCRIPT")
      ->required();
  command
      .add_option("--settle", options->settleMs,
                  "after the last step, let time run until every command has ended, at\n"
                  "most MS milliseconds (default 5000); commands still running then are\n"
                  "stopped")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            long long ms = -1;
            if (zv::text::parseWholeNumber(text, ms) && ms >= 0 && ms <= 3'600'000) return "";
            return "takes milliseconds from 0 to 3600000, not '" + text + "'";
          },
          ""))
      ->type_name("MS");
  command.add_flag("--real-time", options->realTime,
                   "wait real time instead of running a simulated clock (the output then\n"
                   "varies slightly from run to run)");
  command
      .add_option("--prototype", options->prototype,
                  "the profile prototype (default: Kinetra.app's tevnodes.prototype)")
      ->type_name("P");
  setAction(command, [options] { return runSimulate(*options); });
}

const CommandRegistration registration(kName, "run a profile on scripted element events", define);

}  // namespace
}  // namespace kinetra
