// kinetra simulate PROFILE.pr0 --bundle DEVICE.bundle [--device ALIAS] --events SCRIPT
//
// Runs a profile the way the agent runs it, on recording backends instead of a mouse, a
// keyboard and a driver: the element events of a script go in, and every key, wheel
// step, driver call, opened file and shift-state change comes out with its time.
#include <linux/input-event-codes.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <thread>

#include "Command.h"
#include "IO.h"
#include "PrototypeOption.h"
#include "Report.h"
#include "SimulationJournal.h"
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
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "profile/UnreadableNumbers.h"
#include "store/DeviceSession.h"
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
  explicit JournalWorkspace(SimulationJournal& journal) : journal_(journal) {}
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
  SimulationJournal& journal_;
};

std::string stateName(const std::shared_ptr<zv::engine::ZVShiftState>& state) {
  if (!state) return "(none)";
  const std::string name = state->name();
  return name.empty() ? "(unnamed)" : "\"" + name + "\"";
}

// Each element event the device session routes, and the shift-state change it caused,
// go into the journal.
class JournalObserver : public zv::store::DeviceSessionObserver {
 public:
  explicit JournalObserver(SimulationJournal& journal) : journal_(journal) {}
  void elementEvent(std::uint32_t element, std::int32_t value, bool) override {
    event_ = journal_.add("event   " + zv::text::hexText(element) + " " + std::to_string(value));
  }
  void shiftStateChanged(const std::shared_ptr<zv::engine::ZVShiftState>& before,
                         const std::shared_ptr<zv::engine::ZVShiftState>& after) override {
    journal_.addAfter(event_, "shift   " + stateName(before) + " -> " + stateName(after));
  }

 private:
  SimulationJournal& journal_;
  std::uint64_t event_ = 0;
};

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
  std::unique_ptr<SimulationJournal> journal;
  std::shared_ptr<zv::output::RecordingOutput> output;
  std::shared_ptr<zv::device::RecordingDriver> driver;
  std::shared_ptr<zv::device::DeviceController> device;
  std::shared_ptr<zv::store::DeviceSession> deviceSession;
  std::shared_ptr<JournalObserver> observer;
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
  const std::optional<std::string> scriptText =
      readInput(options.events, zv::engine::kEventScriptFileLimit);
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
  session.journal =
      std::make_unique<SimulationJournal>(session.clock, !options.realTime, std::cout);
  SimulationJournal& journal = *session.journal;
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
  // The script's events take the agent's road: the controller, the device session, the
  // store's current profile.
  session.deviceSession = std::make_shared<zv::store::DeviceSession>(session.device);
  session.observer = std::make_shared<JournalObserver>(journal);
  session.deviceSession->setObserver(session.observer);
  session.deviceSession->attach();

  session.profile = zv::engine::ZVProfile::create();
  session.profile->setClock(session.clock);
  std::string error;
  if (!session.profile->initFromFile(fs::path(options.profile), session.device, {}, &error)) {
    return fail(error);
  }
  auto& profile = *session.profile;
  if (const auto json = zv::profile::loadProfileJSON(options.profile, zv::json::Value(prototype))) {
    for (const auto& number : zv::profile::unreadableNumbers(*json, prototype)) {
      warn(kName, options.profile + ": " + number.describe());
    }
  }
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
  // every command settled after each; in real time by sleeping. Then writes out what can
  // no longer change: every line before `ms` (in real time, before `ms` less a margin for
  // lines still on their way from the command threads).
  const auto realStart = std::chrono::steady_clock::now();
  auto runTo = [&](long long ms) {
    if (!session.manual) {
      std::this_thread::sleep_until(realStart + std::chrono::milliseconds(ms));
      journal.flushBefore(ms - 100);
      return true;
    }
    if (!zv::engine::advanceClockTo(*session.manual,
                                    journal.start() + std::chrono::milliseconds(ms))) {
      return false;
    }
    journal.flushBefore(ms);
    return true;
  };
  const auto stuck = [&](std::size_t line) {
    journal.flush();
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
    session.device->onElementEvent(step.element, step.value, 0);
  }

  // The end: time runs on until every command has ended, for at most the settle time;
  // commands still running then are stopped at its end.
  auto& threads = zv::engine::CommandThreads::shared();
  const std::size_t lastLine = steps->empty() ? 0 : steps->back().line;
  if (session.manual) {
    if (!runTo(at)) return stuck(lastLine);
    const long long end = at + options.settleMs;
    const auto endTime = journal.start() + std::chrono::milliseconds(end);
    while (threads.active() > 0) {
      const auto next = session.manual->nextDeadline();
      if (!next || *next > endTime) break;
      if (!zv::engine::advanceClockTo(*session.manual, *next)) return stuck(lastLine);
      journal.flushBefore(journal.msAt(next->time_since_epoch()));
    }
    // A command waiting beyond the settle time (a long delay in a macro) or for nothing
    // the clock brings (a button held to the end) is stopped when the settle time is up.
    if (threads.active() > 0 && !runTo(end)) return stuck(lastLine);
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
  journal.flush();
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
