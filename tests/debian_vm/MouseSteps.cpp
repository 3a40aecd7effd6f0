#include "MouseSteps.h"

#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "DriverRun.h"
#include "PollUntil.h"
#include "protocol/UserClientProtocol.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;
namespace uc = zv::userclient;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Answers the uid of seat0's active session, if there is one.
std::optional<uid_t> activeUser() {
  uid_t uid = 0;
  if (sd_seat_get_active("seat0", nullptr, &uid) < 0) return std::nullopt;
  return uid;
}

std::string seatSession(SystemGuest& guest) {
  std::optional<uid_t> uid;
  // The autologin on tty1 comes with the boot; the bound covers a slow one.
  expect(pollUntil([&] { return (uid = activeUser()) == kPlayer.uid; }, guest.bound() * 12,
                   milliseconds(100)),
         uid ? "seat0's active session is uid " + std::to_string(*uid) + "'s, not player's"
             : "seat0 has no active session (the autologin on tty1 did not happen)");
  return "player's session is active on seat0";
}

std::string driverStarts(SystemGuest& guest) {
  guest.must({"modprobe", "-a", "dummy_hcd", "libcomposite"});
  guest.plugAndWaitForDriver();
  const auto running = guest.drivers();
  expect(running.size() == 1, std::to_string(running.size()) + " drivers run for one mouse");
  // The original mouse is held by the driver: another reader cannot grab it.
  auto original = guest.session.openReader(guest.session.pointerNode(guest.session.usbMouseInfo));
  const int refusal = original->grab(true);
  expect(refusal == EBUSY, original->node() + " is not grabbed by the driver (a grab answered " +
                               std::to_string(refusal) + ")");
  return "zenvor-driver@" + guest.deviceId + ".service active, socket served, mouse presented, " +
         original->node() + " grabbed";
}

// A user drop-in makes the agent also write a record of what it gets (each device it
// connects to, each event), which the steps wait on; the unit is otherwise as installed.
void addRecordDropIn() {
  const fs::path folder = fs::path(kPlayer.home()) / ".config/systemd/user/perch.service.d";
  fs::create_directories(folder);
  std::ofstream(folder / "record.conf")
      << "[Service]\nExecStart=\nExecStart=/usr/bin/perch --output uinput+record:%t/perch.record\n";
  for (fs::path path = folder; path != fs::path(kPlayer.home()); path = path.parent_path()) {
    [[maybe_unused]] const int ignored = ::chown(path.c_str(), kPlayer.uid, kPlayer.uid);
  }
  [[maybe_unused]] const int ignored =
      ::chown((folder / "record.conf").c_str(), kPlayer.uid, kPlayer.uid);
}

std::string agentStarts(SystemGuest& guest) {
  // The seat's user, and only that user, may make the virtual keyboard (uaccess).
  const auto canWrite = [](uid_t uid) {
    return runAs(uid, [] { return ::access("/dev/uinput", W_OK) == 0 ? 1u : 0u; }) == 1;
  };
  expect(canWrite(kPlayer.uid), "player (at the seat) may not open /dev/uinput");
  expect(!canWrite(kVisitor.uid), "visitor (not at the seat) may open /dev/uinput");

  addRecordDropIn();
  guest.record = std::make_unique<FileFollower>(kPlayer.runtimeDir() + "/perch.record");
  guest.must(asUser(kPlayer, {"systemctl", "--user", "enable", "--now", kAgentUnit}));
  expect(guest.unitState(kAgentUnit, &kPlayer) == "active", "perch.service is not active");
  guest.agentOf(kPlayer);
  guest.waitForAgentTakeover();
  guest.pressBecomesKey();

  const std::uint32_t player = guest.greetingFor(kPlayer.uid);
  const std::uint32_t visitor = guest.greetingFor(kVisitor.uid);
  expect(player == uc::kReturnSuccess,
         std::string("the driver greeted player with ") + uc::returnCodeName(player));
  expect(visitor == uc::kReturnNotPrivileged, std::string("the driver greeted visitor with ") +
                                                  uc::returnCodeName(visitor) + ", not 0xE00002C1");
  // The command-line tool as both users.
  guest.must(asUser(kPlayer, {"kinetra", "driver", "ping", guest.deviceId}));
  const auto refused =
      runCommand(asUser(kVisitor, {"kinetra", "driver", "ping", guest.deviceId}), guest.bound());
  expect(refused.finished && refused.status == 1,
         "`kinetra driver ping` as visitor: " + refused.describe({"kinetra", "driver", "ping"}));
  return "perch.service active, KEY_PAGEDOWN on " + guest.keyboard +
         " for button 4; player welcome, visitor refused (0xE00002C1)";
}

std::string plugCycles(SystemGuest& guest) {
  const pid_t agent = guest.agentOf(kPlayer).pid;
  const std::size_t cycles = guest.options.plugCycles;
  // Descriptors and memory are compared from a point where the agent has settled: after
  // the first tenth of the cycles.
  const std::size_t settled = std::max<std::size_t>(1, cycles / 10);
  std::size_t fdsSettled = 0, rssSettled = 0;
  // Where a cycle's time goes: the unplug, the driver's start, the agent's takeover.
  std::chrono::duration<double> unplugging{0}, starting{0}, connecting{0};
  for (std::size_t cycle = 1; cycle <= cycles; ++cycle) {
    try {
      auto mark = Clock::now();
      const auto lap = [&mark](std::chrono::duration<double>& sum) {
        const auto now = Clock::now();
        sum += now - mark;
        mark = now;
      };
      // Unplugged with button 4 held: the key must be let go all the same.
      guest.pressBecomesKey(true);
      lap(unplugging);
      guest.record->mark();
      guest.plugAndWaitForDriver(false);
      lap(starting);
      const auto running = guest.drivers();
      expect(running.size() == 1, std::to_string(running.size()) + " drivers run");
      guest.waitForAgentTakeover();
      lap(connecting);
      expect(guest.agentOf(kPlayer).pid == agent, "perch was restarted");
    } catch (const CheckFailed& failure) {
      throw CheckFailed("cycle " + std::to_string(cycle) + ": " + failure.what());
    }
    if (cycle == settled) {
      fdsSettled = openDescriptors(agent).value_or(0);
      rssSettled = residentKiB(agent).value_or(0);
    }
  }
  const std::size_t fds = openDescriptors(agent).value_or(0);
  const std::size_t rss = residentKiB(agent).value_or(0);
  const std::string figures = "perch fds " + std::to_string(fdsSettled) + " -> " +
                              std::to_string(fds) + ", RSS " + std::to_string(rssSettled) + " -> " +
                              std::to_string(rss) + " KiB";
  expect(fds == fdsSettled, "descriptors grew: " + figures);
  // Allocator noise stays well below a megabyte; a leak per cycle would pass it.
  expect(rss <= rssSettled + 1024, "memory grew: " + figures);
  guest.pressBecomesKey();
  char each[160];
  std::snprintf(each, sizeof each,
                "; a cycle: unplug %.2f s, driver ready %.2f s, agent connected %.2f s",
                unplugging.count() / cycles, starting.count() / cycles,
                connecting.count() / cycles);
  return std::to_string(cycles) + " cycles, one driver each, none after each unplug, no key " +
         "held; " + figures + each;
}

}  // namespace

void addMouseSteps(SystemGuest& guest, void (*between)(SystemGuest&)) {
  CheckList& checks = guest.session.checks;
  auto bind = [&guest](std::string (*body)(SystemGuest&)) {
    return [&guest, body] { return body(guest); };
  };
  checks.add("seat-session", bind(seatSession));
  checks.add("driver-starts", bind(driverStarts), {"install"});
  checks.add("agent-starts", bind(agentStarts), {"seat-session", "driver-starts"});
  if (between) between(guest);
  checks.add("plug-cycles", bind(plugCycles), {"agent-starts"});
}

}  // namespace zv::vmtest
