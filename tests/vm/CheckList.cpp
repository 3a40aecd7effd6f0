#include "CheckList.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace zv::vmtest {

void expect(bool condition, const std::string& reason) {
  if (!condition) throw CheckFailed(reason);
}

void skip(const std::string& reason) {
  throw CheckSkipped(reason);
}

CheckList::CheckList(Clock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

void CheckList::add(std::string name, Body body, std::vector<std::string> needs) {
  checks_.push_back({std::move(name), std::move(body), std::move(needs)});
}

void CheckList::metric(const std::string& line) {
  (out_ ? *out_ : std::cout) << line << std::endl;
}

std::vector<std::string> CheckList::names() const {
  std::vector<std::string> names;
  for (const Check& check : checks_) names.push_back(check.name);
  return names;
}

int CheckList::run(const std::set<std::string>& only, std::ostream& out) {
  out_ = &out;
  int failures = 0;
  for (const std::string& name : only) {
    const bool known = std::any_of(checks_.begin(), checks_.end(),
                                   [&](const Check& check) { return check.name == name; });
    if (!known) {
      out << "FAIL " << name << ": no such check" << std::endl;
      ++failures;
    }
  }
  for (const Check& check : checks_) {
    if (!only.empty() && !only.count(check.name)) continue;
    // Flushed before the check runs, so that a check that hangs or crashes the guest
    // shows in the log as the last one started.
    out << "RUN  " << check.name << std::endl;
    const auto started = clock_();
    std::string result;
    bool passed = false;
    bool skipped = false;
    const auto missing =
        std::find_if(check.needs.begin(), check.needs.end(),
                     [&](const std::string& need) { return !passed_.count(need); });
    if (missing != check.needs.end()) {
      skipped = skipped_.count(*missing) > 0;
      result = "needs " + *missing + (skipped ? ", which was skipped" : ", which did not pass");
    } else {
      try {
        result = check.body();
        passed = true;
      } catch (const CheckSkipped& reason) {
        skipped = true;
        result = reason.what();
      } catch (const CheckFailed& failure) {
        result = failure.what();
      } catch (const std::exception& error) {
        result = std::string("unexpected error: ") + error.what();
      }
    }
    char took[32];
    std::snprintf(took, sizeof took, " (%.2f s)",
                  std::chrono::duration<double>(clock_() - started).count());
    if (passed) {
      passed_.insert(check.name);
      out << "PASS " << check.name << took << (result.empty() ? "" : ": " + result) << std::endl;
    } else if (skipped) {
      skipped_.insert(check.name);
      out << "SKIP " << check.name << took << ": " << result << std::endl;
    } else {
      ++failures;
      out << "FAIL " << check.name << took << ": " << result << std::endl;
    }
  }
  out_ = nullptr;
  return failures;
}

}  // namespace zv::vmtest
