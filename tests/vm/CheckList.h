// The guest's checks: a list of named steps run in order, each printing one line that the
// host side reads:
//
//   PASS evdev-motion (0.04 s): REL_X 5 REL_Y -3
//   FAIL evdev-grab (0.10 s): the second reader got the report while the first held the grab
//   SKIP adopt (0.02 s): the installed kinetra has no `adopt` command
//   METRIC latency.uhid-evdev n=10000 p50_us=41.2 p99_us=97.0 max_us=310.4
//
// A check fails by throwing CheckFailed (through expect()), so a check reads as a list of
// steps; any other exception fails the check too and never the run. A check that cannot
// mean anything on this machine or build says why through skip(): it is not a failure, and
// the checks that need it are skipped as well.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace zv::vmtest {

class CheckFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CheckSkipped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws CheckFailed with `reason` unless `condition` holds.
void expect(bool condition, const std::string& reason);
// Ends the running check as skipped, for `reason`.
[[noreturn]] void skip(const std::string& reason);

class CheckList {
 public:
  // A check answers what it saw (the text after "PASS name (time): ") or throws.
  using Body = std::function<std::string()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `clock` times each check (the steady clock unless given).
  explicit CheckList(Clock clock = {});

  // `needs` names checks that must have passed before this one can mean anything; when one
  // failed, this one fails at once, naming it; when one was skipped, this one is skipped.
  void add(std::string name, Body body, std::vector<std::string> needs = {});
  // Prints a METRIC line now (from inside a check).
  void metric(const std::string& line);

  std::vector<std::string> names() const;
  // Runs every check, or those named in `only`, in the order they were added. Answers the
  // number that failed; a name in `only` that no check has counts as a failure.
  int run(const std::set<std::string>& only, std::ostream& out);

 private:
  struct Check {
    std::string name;
    Body body;
    std::vector<std::string> needs;
  };
  std::vector<Check> checks_;
  Clock clock_;
  std::set<std::string> passed_;
  std::set<std::string> skipped_;
  std::ostream* out_ = nullptr;
};

}  // namespace zv::vmtest
