// What the steps of the installation test share inside the Debian machine: the options the
// host passed, the guest session (checks, the USB mouse, the bound of one wait), and what
// the steps found on the way: the mouse's hidraw node, the agent's virtual keyboard and
// record. Helpers fail the running step (CheckFailed) in words that name what is missing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "FileFollower.h"
#include "GuestSession.h"
#include "Processes.h"

namespace zv::vmtest {

struct SystemOptions {
  std::string package;          // the suite's .deb under test
  std::string previousPackage;  // the same suite with a lower version: the one upgraded from
  std::string stagedInstall;    // a tar of `cmake --install` into an empty staging root
  std::size_t plugCycles = 200;
};

// Runs `body` in a child process that has become `uid` (its groups dropped) and answers
// what it answered.
std::uint32_t runAs(uid_t uid, const std::function<std::uint32_t()>& body);

// The matching HID device once a driver is bound to it and its hidraw and evdev nodes
// exist; nullopt when that does not happen within `bound`.
std::optional<HidDeviceInfo> waitForDevice(const HidDeviceMatch& match,
                                           std::chrono::milliseconds bound);

// The user unit of the tray agent, and where the guest has it write its record (each event
// it gets, each device it connects to) beside sending keys to the desktop.
inline constexpr const char* kAgentUnit = "perch.service";
inline constexpr const char* kSystemServices = "/run/kinetra/services";

struct SystemGuest {
  GuestSession session;
  SystemOptions options;

  std::string deviceId;                  // the hidraw node the driver serves now: "hidraw0"
  std::string keyboard;                  // the agent's virtual keyboard's evdev node
  std::unique_ptr<FileFollower> record;  // the agent's record

  std::chrono::milliseconds bound() const { return session.options.bound; }

  // Runs a command, failing the step unless it exits with status 0; answers its output.
  std::string must(const std::vector<std::string>& argv, int bounds = 6);
  // `systemctl is-active UNIT` (or --user for `user`): "active", "inactive", "failed", …
  std::string unitState(const std::string& unit, const GuestUser* user = nullptr);

  // The driver daemons running now.
  std::vector<ProcessInfo> drivers() const { return processesNamed("zenvor-driver"); }
  // The agent of `user`: fails the step unless exactly one runs.
  ProcessInfo agentOf(const GuestUser& user) const;

  // Plugs the demo mouse in (a USB gadget, created on first use) and waits until udev has
  // started its driver: its socket served, the presented mouse there, and with
  // `askSystemd` its unit zenvor-driver@hidrawN.service active.
  void plugAndWaitForDriver(bool askSystemd = true);
  // Unplugs the mouse and waits until no driver runs any more.
  void unplugAndWaitForNoDriver();

  // Waits until the agent has connected to the driver of the mouse just plugged in and
  // taken button 4 over (its record says so after the mark).
  void waitForAgentTakeover();
  // Button 4 pressed and released: KEY_PAGEDOWN goes down and up on the agent's keyboard.
  // With `unplugWhileHeld`, the mouse is unplugged with the button held instead of released
  // and the key must be let go all the same.
  void pressBecomesKey(bool unplugWhileHeld = false);

  // The result code of the greeting the driver's socket gives a connection of `uid`
  // (0: welcome), read by a child process that runs as that user.
  std::uint32_t greetingFor(uid_t uid);
};

}  // namespace zv::vmtest
