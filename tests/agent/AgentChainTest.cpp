// The whole chain with real processes in a private folder tree: `zenvor-driver
// --simulate` plays the demo mouse, `perch --headless --output record` runs its profiles
// and records the keys it would send, `kinetra` switches profiles as a user would, and
// focus changes come through a FIFO. Presses go in as raw reports; the test reads the
// daemon's rewritten reports and the agent's record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "AgentProcess.h"
#include "AgentTestSupport.h"
#include "testing/ChildProcess.h"
#include "testing/EngineHarness.h"
#include "testing/SimulatedDaemon.h"
#include "testing/TemporaryTree.h"

namespace zv::agent::testing {
namespace {

using namespace std::chrono_literals;
using std::string;

constexpr const char kPress4[] = "report 08 00 00 00 00 00 00";
constexpr const char kRelease[] = "report 00 00 00 00 00 00 00";

// The keys a record leaves down: every "key NAME down" not followed by its "up".
std::set<string> keysLeftDown(const std::vector<string>& record) {
  std::set<string> down;
  for (const string& line : record) {
    std::istringstream words(line.substr(line.find(']') + 1));
    string kind, name, state;
    words >> kind >> name >> state;
    if (kind != "key" && kind != "button") continue;
    if (state == "down") down.insert(name);
    if (state == "up") down.erase(name);
  }
  return down;
}

class AgentChainTest : public ::testing::Test {
 protected:
  AgentChainTest() {
    fs::create_directories(tree.path("share/MainstreamDevices"));
    fs::create_symlink(zv::testing::demoBundlePath(),
                       tree.path("share/MainstreamDevices/DemoMouse.bundle"));
    ::mkfifo(focusFifo().c_str(), 0600);
    startDaemon();
  }

  ~AgentChainTest() override {
    if (focusWriter_ >= 0) ::close(focusWriter_);
  }

  fs::path focusFifo() const { return tree.path("run/focus"); }
  fs::path profileFolder() const { return tree.path("home/.local/share/Kinetra/DemoMouse"); }

  void startDaemon() {
    daemon.reset();
    daemon = std::make_unique<zv::testing::SimulatedDaemon>(ZV_DRIVER_EXECUTABLE);
    ASSERT_TRUE(daemon->ready()) << daemon->output();
  }

  // An agent that is connected, with the overrides of its profile in place: the driver
  // answers each new override with the element's value, which the record shows.
  std::unique_ptr<AgentProcess> startAgent() {
    auto agent = std::make_unique<AgentProcess>(
        ZV_PERCH_EXECUTABLE, tree.path("perch.log"),
        std::map<string, string>{{"KINETRA_SIMULATED_DEVICES", "1"},
                                 {"KINETRA_FOCUS_FIFO", focusFifo().string()}});
    EXPECT_TRUE(agent->started());
    const auto connected = agent->waitFor("device DemoMouse-1 (Zenvor Demo Mouse) connected");
    EXPECT_TRUE(connected) << agent->text() << tree.read("perch.log");
    EXPECT_TRUE(agent->waitFor("event 0x90004 0", connected.value_or(0))) << agent->text();
    return agent;
  }

  // Runs kinetra with `arguments`; answers its output (standard output and error).
  string kinetra(const std::vector<string>& arguments) {
    std::vector<string> argv{ZV_KINETRA_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const fs::path log = tree.path("kinetra.log");
    fs::remove(log);
    zv::testing::ChildOptions options;
    options.output = log;
    auto child = zv::testing::ChildProcess::start(argv, options);
    EXPECT_TRUE(child);
    const auto status = child ? child->wait(AgentProcess::kPatience) : std::nullopt;
    const string output = fs::exists(log) ? tree.read("kinetra.log") : string();
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "kinetra " << arguments.front() << ": " << output;
    return output;
  }

  void focus(const string& executable) {
    // Read and write: opening never waits for the agent to open its end.
    if (focusWriter_ < 0) focusWriter_ = ::open(focusFifo().c_str(), O_RDWR | O_CLOEXEC);
    const string line = executable + "\n";
    ASSERT_EQ(::write(focusWriter_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }

  // Presses and releases button 4 and answers the key it produced ("KEY_PAGEDOWN").
  string pressButton4(AgentProcess& agent) {
    const std::size_t from = agent.size();
    daemon->send(kPress4);
    const auto down = agent.waitFor(" down", from);
    daemon->send(kRelease);
    if (!down) {
      ADD_FAILURE() << "no key for button 4:\n" << agent.text();
      return {};
    }
    const string line = agent.lines()[*down];
    std::istringstream words(line.substr(line.find(']') + 1));
    string kind, name;
    words >> kind >> name;
    EXPECT_TRUE(agent.waitFor("key " + name + " up", *down)) << agent.text();
    return name;
  }

  zv::testing::TemporaryTree tree;
  std::unique_ptr<zv::testing::SimulatedDaemon> daemon;

 private:
  int focusWriter_ = -1;
};

TEST_F(AgentChainTest, PressesBecomeKeysAndFollowKinetraUseAndTheFocusedApplication) {
  // The link is in place before the agent reads the links: a link written while it runs is
  // read on the file's change, which may come after a focus change already queued.
  writePageUpProfile(profileFolder() / "Game.pr0");
  kinetra({"link", "/bin/sh", "Game"});
  auto agent = startAgent();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(agent->waitFor("profile \"Default\"")) << agent->text();

  // Button 4 is the profile's: gone from the report the desktop gets, Page Down instead.
  EXPECT_EQ(pressButton4(*agent), "KEY_PAGEDOWN");
  EXPECT_TRUE(daemon->waitForLine(string(kPress4) + " -> 00 00 00 00 00 00 00"))
      << daemon->output();

  std::size_t from = agent->size();
  EXPECT_EQ(kinetra({"use", "Game"}), "current profile: Game\n");
  ASSERT_TRUE(agent->waitFor("profile \"Game\"", from)) << agent->text();
  EXPECT_EQ(pressButton4(*agent), "KEY_PAGEUP");

  // A linked application takes over while it has the focus, and gives back on leaving.
  kinetra({"use", "Default"});
  ASSERT_TRUE(agent->waitFor("profile \"Default\"", from)) << agent->text();
  from = agent->size();
  focus("/bin/sh");
  ASSERT_TRUE(agent->waitFor("profile \"Game\"", from)) << agent->text();
  EXPECT_EQ(pressButton4(*agent), "KEY_PAGEUP");
  from = agent->size();
  focus("-");
  ASSERT_TRUE(agent->waitFor("profile \"Default\"", from)) << agent->text();
  EXPECT_EQ(pressButton4(*agent), "KEY_PAGEDOWN");

  ASSERT_EQ(agent->terminate(), 0);
  EXPECT_TRUE(agent->waitFor("summary: ")) << agent->text();
  // What priority device input got is said once (normal here: no RealtimeKit).
  const string log = tree.read("perch.log");
  const std::size_t said = log.find("perch: device input runs at ");
  EXPECT_NE(said, string::npos) << log;
  EXPECT_EQ(log.find("perch: device input runs at ", said + 1), string::npos) << log;
}

TEST_F(AgentChainTest, ARestartKeepsTheStartupProfileAndAnEndLetsGoOfHeldKeys) {
  auto agent = startAgent();
  ASSERT_FALSE(HasFatalFailure());
  writePageUpProfile(profileFolder() / "Game.pr0");
  kinetra({"startup", "Game"});
  kinetra({"use", "Default"});
  ASSERT_EQ(agent->terminate(), 0);

  // Without the agent the driver has its buttons back: button 4 reaches the desktop.
  daemon->send(kPress4);
  EXPECT_TRUE(daemon->waitForLine(string(kPress4) + " -> 08 00 00 00 00 00 00"))
      << daemon->output();
  daemon->send(kRelease);

  // The executive starts with the start-up profile, not the last current one.
  agent = startAgent();
  ASSERT_FALSE(HasFatalFailure());
  const auto first = agent->waitFor("profile ");
  ASSERT_TRUE(first) << agent->text();
  EXPECT_NE(agent->lines()[*first].find("profile \"Game\""), string::npos) << agent->text();

  // Ended while Page Up is held: the record lets go of it.
  const std::size_t from = agent->size();
  daemon->send(kPress4);
  ASSERT_TRUE(agent->waitFor("key KEY_PAGEUP down", from)) << agent->text();
  ASSERT_EQ(agent->terminate(), 0);
  EXPECT_EQ(keysLeftDown(agent->lines()), std::set<string>()) << agent->text();
  daemon->send(kRelease);
}

TEST_F(AgentChainTest, ADriverThatComesBackGetsTheOverridesAgain) {
  auto agent = startAgent();
  ASSERT_FALSE(HasFatalFailure());
  std::size_t from = agent->size();
  startDaemon();  // the old one ends first: the mouse was pulled out and plugged in
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(agent->waitFor("disconnected", from)) << agent->text();
  from = agent->size();
  const auto connected = agent->waitFor(" connected", from);
  ASSERT_TRUE(connected) << agent->text();
  ASSERT_TRUE(agent->waitFor("event 0x90004 0", *connected)) << agent->text();
  EXPECT_EQ(pressButton4(*agent), "KEY_PAGEDOWN");
  EXPECT_TRUE(daemon->waitForLine(string(kPress4) + " -> 00 00 00 00 00 00 00"))
      << daemon->output();
}

}  // namespace
}  // namespace zv::agent::testing
