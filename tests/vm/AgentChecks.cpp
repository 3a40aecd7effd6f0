#include "AgentChecks.h"

#include <linux/input.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "DriverRun.h"
#include "KeyboardState.h"
#include "Latency.h"
#include "Wait.h"
#include "output/UinputOutput.h"
#include "testing/ChildProcess.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The agent's private tree; the device bundles and the prototype come from the data the
// host put into the guest.
const char* const kAgentRoot = "/tmp/agent";
const char* const kAgentLog = "/tmp/perch.log";
// Where the host puts the agent's application folder (its Info.plist).
const char* const kAgentBundleSource = "/opt/kinetra/lib/kinetra/Applications/Perch.app";

// What the default profile makes of the demo mouse's buttons: button 4 holds Page Down
// (repeating) while it is held; the left button stays the mouse's.
constexpr std::uint16_t kButton1 = 0x0001;
constexpr std::uint16_t kButton4 = 0x0008;
constexpr std::uint16_t kProfileKey = KEY_PAGEDOWN;
// Presses measured at most: enough for a p99 while keeping the run short.
constexpr std::size_t kLatencyPresses = 300;

MouseInput buttons(std::uint16_t pressed) {
  return {pressed, 0, 0, 0};
}

struct AgentRun {
  DriverRun driver;
  std::unique_ptr<testing::ChildProcess> agent;
  std::set<std::string> keyboardsBefore;  // virtual keyboards that are not the agent's
  std::string keyboard;                   // the agent's, once found
};

// The evdev nodes of every virtual keyboard the suite's output made, by their name.
std::set<std::string> virtualKeyboardNodes() {
  return inputNodesNamed(zv::output::virtualKeyboardSetup().name);
}

std::string agentLog(testing::ChildProcess& agent) {
  return "\n    perch said:" + agent.outputTail(20);
}

// The private tree: home, runtime folder and an application folder holding the agent's
// Info.plist and the prototype.
void makeAgentTree(const GuestSession& session) {
  const fs::path root = kAgentRoot;
  fs::remove_all(root);
  const fs::path contents = root / "Applications/Perch.app/Contents";
  fs::create_directories(contents / "Resources");
  fs::create_directories(root / "home");
  fs::create_directories(root / "run");
  fs::create_directories(root / "prefix");
  std::error_code error;
  fs::copy_file(fs::path(kAgentBundleSource) / "Contents/Info.plist", contents / "Info.plist",
                error);
  expect(!error, std::string("the guest has no Info.plist of the agent under ") +
                     kAgentBundleSource + ": " + error.message());
  const fs::path prototype = fs::path(session.options.dataRoot) / "tevnodes.prototype";
  fs::copy_file(prototype, contents / "Resources/tevnodes.prototype", error);
  expect(!error, "copying " + prototype.string() + ": " + error.message());
}

std::string startAgent(GuestSession& session, AgentRun& run) {
  startDriver(session, run.driver);
  makeAgentTree(session);
  const fs::path root = kAgentRoot;
  const fs::path bundle = root / "Applications/Perch.app";
  run.keyboardsBefore = virtualKeyboardNodes();
  // Broken on purpose, the agent records its keys instead of sending them to the desktop.
  const std::string output =
      session.options.breakLink == "no-agent-output" ? "record" : "uinput+record";
  run.agent = session.start({session.program("perch"), "--headless", "--output", output}, kAgentLog,
                            {{"KINETRA_PREFIX", (root / "prefix").string()},
                             {"KINETRA_HOME", (root / "home").string()},
                             {"KINETRA_DATA_ROOT", session.options.dataRoot},
                             {"KINETRA_APPLICATIONS", (root / "Applications").string()},
                             {"KINETRA_RUNTIME_DIR", (root / "run").string()},
                             {"KINETRA_SERVICES_DIR", kServicesFolder},
                             {"KINETRA_APP_BUNDLE", bundle.string()}});
  // Connected, and the profile's buttons taken over: the driver answers each new override
  // with the element's value. Starting takes seconds under emulation on a busy host; the
  // bound is only a safety net.
  expect(run.agent->waitForOutput(" connected", session.options.bound * 6),
         "perch did not connect to the daemon");
  expect(run.agent->waitForOutput("event 0x90004 0", session.options.bound * 2),
         "perch did not take button 4 over");
  return "perch connected to " + run.driver.socket + ", button 4 taken over";
}

// The virtual keyboard that appeared since the agent started.
std::string newKeyboard(const AgentRun& run) {
  for (const std::string& node : virtualKeyboardNodes()) {
    if (!run.keyboardsBefore.count(node)) return node;
  }
  return {};
}

// The agent's virtual keyboard; fails the check when it made none.
std::string agentKeyboard(GuestSession& session, AgentRun& run) {
  if (run.keyboard.empty()) {
    waitUntil([&] { return !(run.keyboard = newKeyboard(run)).empty(); }, session.options.bound);
  }
  expect(!run.keyboard.empty(), "perch made no virtual keyboard through /dev/uinput");
  return run.keyboard;
}

// Reads the presented mouse up to the frame that sets the left button to `value`; no frame
// up to it may carry button 4 (BTN_SIDE).
void expectLeftButton(GuestSession& session, EvdevReader& presented, std::int32_t value,
                      const std::string& what) {
  for (;;) {
    const EvdevFrame frame = session.expectFrame(presented, what);
    expect(!frame.value(EV_KEY, BTN_SIDE).has_value(),
           "button 4 reached the presented mouse (" + frame.describe() + ")");
    if (const auto left = frame.value(EV_KEY, BTN_LEFT)) {
      expect(*left == value, what + ": BTN_LEFT " + std::to_string(*left));
      return;
    }
  }
}

std::string pressBecomesKey(GuestSession& session, AgentRun& run) {
  const std::string node = agentKeyboard(session, run);
  auto keyboard = session.openReader(node);
  auto presented = session.openReader(run.driver.presentedEvdev);
  session.sendUsb(buttons(kButton4));
  expectKey(session, *keyboard, kProfileKey, 1, "button 4 press");
  // Still held, then a left click: button 4 must not come before the click nor with it
  // (events reach a reader in order).
  session.sendUsb(buttons(kButton4 | kButton1));
  expectLeftButton(session, *presented, 1, "a left click while button 4 is held");
  session.sendUsb(buttons(0));
  expectLeftButton(session, *presented, 0, "the release of both");
  expectKey(session, *keyboard, kProfileKey, 0, "button 4 release");
  return node + ": KEY_PAGEDOWN down while button 4 is held; button 4 hidden from " +
         run.driver.presentedEvdev;
}

// A physical press to the profile's key on the agent's virtual keyboard: the whole path
// through the USB host, the daemon, its socket, the agent's engine and uinput.
std::string agentLatency(GuestSession& session, AgentRun& run) {
  auto keyboard = session.openReader(agentKeyboard(session, run));
  keyboard->drain();
  const std::size_t presses = std::min(session.options.latencyReports, kLatencyPresses);
  std::vector<std::chrono::nanoseconds> samples;
  samples.reserve(presses);
  for (std::size_t i = 0; i < presses; ++i) {
    const std::string what = "press " + std::to_string(i);
    const auto start = Clock::now();
    session.sendUsb(buttons(kButton4));
    expectKey(session, *keyboard, kProfileKey, 1, what);
    samples.push_back(Clock::now() - start);
    session.sendUsb(buttons(0));
    expectKey(session, *keyboard, kProfileKey, 0, "release " + std::to_string(i));
  }
  const LatencySummary summary = summarize(std::move(samples));
  session.checks.metric(metricLine("latency.usb-agent-key", summary));
  return std::to_string(summary.count) + " presses through the daemon and the agent";
}

std::string unplugLetsGo(GuestSession& session, AgentRun& run) {
  const std::string node = agentKeyboard(session, run);
  auto keyboard = session.openReader(node);
  session.sendUsb(buttons(kButton4));
  expectKey(session, *keyboard, kProfileKey, 1, "button 4 held");
  std::string problem;
  expect(session.usbMouse->unplug(&problem), "unplugging the USB mouse: " + problem);
  expect(run.driver.daemon->wait(session.options.bound * 2).has_value(),
         "zenvor-driver still runs after the unplug" + daemonSaid(*run.driver.daemon));
  run.driver.daemon.reset();
  // The virtual keyboard stays while the agent runs: the key must be let go by the agent,
  // not by the kernel removing the device.
  expectKey(session, *keyboard, kProfileKey, 0, "the unplug with button 4 held");
  expect(run.agent->running(), "perch ended when the mouse went away");
  expect(!keyboard->gone(), node + " went away while perch runs");
  const auto down = keysDown(node);
  expect(down.empty(), node + " still holds " + describeKeys(down));
  plugUsbMouseAgain(session);
  return "KEY_PAGEDOWN let go, no key down on " + node + "; mouse plugged in again";
}

std::string sigtermEndsAgent(GuestSession& session, AgentRun& run) {
  const std::string node = run.keyboard.empty() ? newKeyboard(run) : run.keyboard;
  expect(run.agent->signal(SIGTERM), "cannot signal perch");
  const auto status = run.agent->wait(session.options.bound * 2);
  expect(status.has_value(), "perch did not end on SIGTERM");
  expect(WIFEXITED(*status) && WEXITSTATUS(*status) == 0,
         "perch " + testing::ChildProcess::describeStatus(*status) + " on SIGTERM");
  run.agent.reset();
  if (node.empty()) return "perch exited with status 0";
  expect(waitUntil([&] { return !fs::exists(node); }, session.options.bound),
         node + " outlived perch");
  return "perch exited with status 0, its virtual keyboard removed";
}

}  // namespace

void addAgentChecks(GuestSession& session) {
  if (session.program("perch").empty() || session.program("zenvor-driver").empty()) return;
  auto run = std::make_shared<AgentRun>();
  // A failure shows what the agent said and recorded last.
  auto bind = [&session, run](std::string (*body)(GuestSession&, AgentRun&)) {
    return [&session, run, body] {
      try {
        return body(session, *run);
      } catch (const CheckFailed& failure) {
        if (!run->agent) throw;
        throw CheckFailed(failure.what() + agentLog(*run->agent));
      }
    };
  };
  const std::string started = "agent-connects";
  const std::string key = "agent-press-becomes-key";
  CheckList& checks = session.checks;
  checks.add(started, bind(startAgent), {"usb-mouse-reports"});
  checks.add(key, bind(pressBecomesKey), {started});
  checks.add("latency-usb-agent-key", bind(agentLatency), {key});
  checks.add("agent-unplug-lets-go", bind(unplugLetsGo), {key});
  checks.add("agent-sigterm", bind(sigtermEndsAgent), {started});
}

}  // namespace zv::vmtest
