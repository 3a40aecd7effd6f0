// A D-Bus bus of a test's own (dbus-daemon with a configuration that lets everything
// through and starts no services), so that a headless desktop and the code under test
// meet there and nowhere else. The daemon ends with the object.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "testing/ChildProcess.h"

namespace zv::testing {

class PrivateBus {
 public:
  // Starts the daemon, its socket and configuration in `folder` (created). Nothing, with
  // `why` set, when dbus-daemon is not installed or does not come up.
  static std::unique_ptr<PrivateBus> start(const std::filesystem::path& folder, std::string* why);

  // The address clients connect to ("unix:path=…").
  const std::string& address() const { return address_; }

 private:
  PrivateBus(ChildProcess daemon, std::string address)
      : daemon_(std::move(daemon)), address_(std::move(address)) {}
  ChildProcess daemon_;
  std::string address_;
};

}  // namespace zv::testing
