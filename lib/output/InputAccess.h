// What a user does so that the virtual devices and the taps can open their nodes: the
// fix that messages about /dev/uinput and /dev/input end with.
//
// The fix depends on the machine: where the suite's package rule is installed it already
// gives /dev/uinput to the user of the active session, and what is left is to log in
// again (or to join the group that owns the node); elsewhere the user writes a rule of
// their own, named as the README names it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zv::output {

struct InputAccessFacts {
  // The package's udev rule, when it is installed.
  std::optional<std::filesystem::path> packageRule;
  // The group that owns /dev/uinput when it may read and write it ("input"), if any.
  std::optional<std::string> nodeGroup;
  // The user is a member of `nodeGroup` (in the group database)…
  bool userInGroup = false;
  // …and this process runs with it (false until the user logs in again after joining).
  bool processInGroup = false;
};

// The facts of this machine and process.
InputAccessFacts inputAccessFacts();
// The advice for `facts`: "allow your user …" or "log in again …".
std::string inputAccessAdvice(const InputAccessFacts& facts);
// inputAccessAdvice(inputAccessFacts()).
std::string inputAccessAdvice();

}  // namespace zv::output
