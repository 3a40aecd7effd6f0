#include "testing/PrivateBus.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "testing/LineReader.h"

namespace zv::testing {

namespace fs = std::filesystem;

std::unique_ptr<PrivateBus> PrivateBus::start(const fs::path& folder, std::string* why) {
  const auto program = findProgram("dbus-daemon");
  if (!program) {
    *why = "dbus-daemon is not installed (Debian package dbus-daemon)";
    return nullptr;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  const fs::path config = folder / "bus.conf";
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n"
        << "  <listen>unix:path=" << (folder / "socket").string() << "</listen>\n"
        << "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *why = "cannot create a pipe";
    return nullptr;
  }
  ChildOptions options;
  options.keepDescriptors = {fds[1]};
  options.output = folder / "bus.log";
  auto daemon =
      ChildProcess::start({program->string(), "--config-file=" + config.string(), "--nofork",
                           "--nopidfile", "--print-address=" + std::to_string(fds[1])},
                          options);
  ::close(fds[1]);
  if (!daemon) {
    ::close(fds[0]);
    *why = "cannot start dbus-daemon";
    return nullptr;
  }
  // The daemon prints its address once it accepts connections.
  const std::string address = readFirstLine(fds[0], std::chrono::seconds(20));
  if (address.empty()) {
    *why = "dbus-daemon did not come up (see " + (folder / "bus.log").string() + ")";
    return nullptr;
  }
  return std::unique_ptr<PrivateBus>(new PrivateBus(std::move(*daemon), address));
}

}  // namespace zv::testing
