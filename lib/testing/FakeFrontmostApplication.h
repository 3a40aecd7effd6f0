// A provider of the focused application that tests drive: focus() reports a change as a
// desktop would, on the calling thread.
#pragma once

#include <filesystem>
#include <string>

#include "platform/FrontmostApplication.h"

namespace zv::testing {

class FakeFrontmostApplication : public platform::FrontmostApplication {
 public:
  std::string_view providerName() const override { return "fake"; }

  void focus(const platform::FocusedApplication& application) { report(application); }
  // An application known by its executable only, with a made-up process id.
  void focus(const std::filesystem::path& executable) {
    report({++lastPid_, executable, executable.filename().string()});
  }
  void focusNothing() { report({}); }

  // What waitingFor() answers: a desktop part that is missing.
  std::string waiting;
  std::string waitingFor() const override { return waiting; }

 private:
  pid_t lastPid_ = 1000;
};

}  // namespace zv::testing
